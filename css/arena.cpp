#include "css/arena.h"

#include <algorithm>
#include <cstdint>

namespace css {

namespace {

// Chunks double from the first size up to the last, so that a small sheet
// takes little and a large one is not a long list of small chunks.
constexpr std::size_t first_chunk = std::size_t{16} * 1024;
constexpr std::size_t largest_chunk = std::size_t{4} * 1024 * 1024;

}  // namespace

void* Arena::allocate(std::size_t bytes, std::size_t alignment) {
  const auto padding = [&] {
    const auto address = reinterpret_cast<std::uintptr_t>(next_);
    return (alignment - address % alignment) % alignment;
  };
  if (next_ == nullptr || padding() + bytes > left_) {
    const std::size_t grown =
        chunks_.empty() ? first_chunk : std::min(largest_chunk, 2 * last_chunk_);
    // A piece larger than a chunk gets one of its own; the alignment
    // of new[] covers every type stored here.
    const std::size_t size = std::max(grown, bytes);
    chunks_.push_back(Chunk{std::make_unique_for_overwrite<std::byte[]>(size), size});
    next_ = chunks_.back().bytes.get();
    left_ = size;
    last_chunk_ = grown;
  }
  const std::size_t skip = padding();
  void* at = next_ + skip;
  next_ += skip + bytes;
  left_ -= skip + bytes;
  return at;
}

void Arena::reset() {
  if (chunks_.empty()) return;
  const auto largest = std::ranges::max_element(chunks_, {}, &Chunk::size);
  Chunk kept = std::move(*largest);
  chunks_.clear();
  next_ = kept.bytes.get();
  left_ = kept.size;
  chunks_.push_back(std::move(kept));
}

}  // namespace css

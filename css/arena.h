#pragma once
// The memory of one style sheet's model beyond what it points at in the
// input: the texts the parser or the passes rewrite (a collapsed prelude, a
// shortened value), the lists that never change once parsed and the
// entries of the declaration maps. Everything stored here lives until the
// arena goes, all of it at once; nothing is freed piece by piece, and
// nothing stored is ever destroyed, so only trivially destructible things
// go in.

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace css {

class Arena {
 public:
  Arena() = default;
  // A move keeps every stored byte where it is: views into the arena stay
  // valid in the arena moved to. The arena moved from is left empty.
  Arena(Arena&& other) noexcept
      : chunks_(std::move(other.chunks_)),
        next_(std::exchange(other.next_, nullptr)),
        left_(std::exchange(other.left_, 0)),
        last_chunk_(std::exchange(other.last_chunk_, 0)) {
    other.chunks_.clear();
  }
  Arena& operator=(Arena&& other) noexcept {
    if (this != &other) {
      chunks_ = std::move(other.chunks_);
      other.chunks_.clear();
      next_ = std::exchange(other.next_, nullptr);
      left_ = std::exchange(other.left_, 0);
      last_chunk_ = std::exchange(other.last_chunk_, 0);
    }
    return *this;
  }
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // A copy of the text that lives as long as the arena.
  std::string_view store(std::string_view text) {
    if (text.empty()) return {};
    char* to = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(to, text.data(), text.size());
    return {to, text.size()};
  }

  // A copy of the list that lives as long as the arena.
  template <typename T>
  std::span<const T> store(std::span<const T> items) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    if (items.empty()) return {};
    T* to = static_cast<T*>(allocate(items.size_bytes(), alignof(T)));
    std::memcpy(static_cast<void*>(to), items.data(), items.size_bytes());
    return {to, items.size()};
  }

  // Room for `bytes` at the given alignment (a power of two, at most
  // that of new[]), until the arena goes or is reset.
  void* allocate(std::size_t bytes, std::size_t alignment);

  // Forgets everything stored; every view into the arena dangles. The
  // largest chunk is kept for what comes next, so that a caller that
  // handles one item at a time reuses the same memory, warm in the cache,
  // for each.
  void reset();

 private:
  struct Chunk {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size;
  };
  std::vector<Chunk> chunks_;
  std::byte* next_ = nullptr;
  std::size_t left_ = 0;
  // The size the chunks have grown to; a piece with a chunk of its own
  // does not count.
  std::size_t last_chunk_ = 0;
};

// A standard allocator over an arena, for a container whose elements are
// trivially destructible: what it hands out goes with the arena, so giving
// it back does nothing, and a container grown in place leaves its old
// storage behind, so it should be reserved at its size. Without an arena
// it is the heap's allocator.
template <typename T>
class ArenaAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;

  ArenaAllocator() = default;
  explicit ArenaAllocator(Arena* arena) : arena_(arena) {}
  template <typename U>
  ArenaAllocator(const ArenaAllocator<U>& other) : arena_(other.arena()) {}

  T* allocate(std::size_t count) {
    if (arena_ == nullptr) return std::allocator<T>().allocate(count);
    return static_cast<T*>(arena_->allocate(count * sizeof(T), alignof(T)));
  }
  void deallocate(T* at, std::size_t count) {
    if (arena_ == nullptr) std::allocator<T>().deallocate(at, count);
  }
  // A copy of a container goes to the heap: it may outlive the arena.
  ArenaAllocator select_on_container_copy_construction() const { return {}; }

  Arena* arena() const { return arena_; }
  friend bool operator==(const ArenaAllocator& a, const ArenaAllocator& b) {
    return a.arena_ == b.arena_;
  }

 private:
  Arena* arena_ = nullptr;
};

}  // namespace css

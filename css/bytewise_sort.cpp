#include "css/bytewise_sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace css {

namespace {

// The eight bytes from `from` on, big-endian, zeros past the end: a zero
// past the end sorts as no byte does, before every other.
std::uint64_t bytes_at(std::string_view text, std::size_t from) {
  if (text.size() >= from + 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + from, 8);
    if constexpr (std::endian::native == std::endian::little) word = std::byteswap(word);
    return word;
  }
  std::uint64_t key = 0;
  for (std::size_t i = from; i < from + 8; ++i) {
    key <<= 8;
    if (i < text.size()) key |= static_cast<unsigned char>(text[i]);
  }
  return key;
}

// How far past `from` every text of the group agrees with the first.
std::size_t shared_prefix(std::span<const SortEntry> group, std::size_t from) {
  const std::string_view first = group.front().text;
  std::size_t shared = first.size();
  for (const SortEntry& entry : group.subspan(1)) {
    const std::size_t limit = std::min(shared, entry.text.size());
    std::size_t at = from;
    while (at < limit && entry.text[at] == first[at]) ++at;
    shared = at;
    if (shared == from) break;
  }
  return std::max(shared, from);
}

// Below this size a group is sorted by insertion: clearing and walking 256
// buckets would cost more.
constexpr std::size_t small_group = 32;

// Sorts on the keys alone, most significant byte first: each bucket of
// entries that agree in the key's bytes above `shift` is split on the byte
// at `shift`, in place. The keys are read in order, so this costs a few
// passes over the entries where a comparison sort would branch at random.
// The recursion is at most eight deep, a level per byte.
void sort_on_keys(std::span<SortEntry> entries, unsigned shift) {
  if (entries.size() < small_group) {
    for (std::size_t i = 1; i < entries.size(); ++i) {
      const SortEntry entry = entries[i];
      std::size_t at = i;
      for (; at > 0 && entries[at - 1].key > entry.key; --at) entries[at] = entries[at - 1];
      entries[at] = entry;
    }
    return;
  }
  const auto digit = [&](const SortEntry& entry) { return (entry.key >> shift) & 0xff; };
  std::array<std::size_t, 256> count{};
  for (const SortEntry& entry : entries) ++count[digit(entry)];
  if (std::ranges::find(count, entries.size()) != count.end()) {
    // All agree in this byte, and maybe in more: one pass finds the
    // first byte they do not all agree in, where the next split is.
    std::uint64_t differ = 0;
    for (const SortEntry& entry : entries) differ |= entry.key ^ entries.front().key;
    const auto below = static_cast<unsigned>(std::bit_width(differ));
    if (below > 0) sort_on_keys(entries, (below - 1) / 8 * 8);
    return;
  }
  std::array<std::size_t, 257> start{};
  for (std::size_t b = 0; b < count.size(); ++b) start[b + 1] = start[b] + count[b];
  std::array<std::size_t, 256> next{};
  std::copy_n(start.begin(), next.size(), next.begin());
  // Each entry is swapped straight into the next free place of its bucket.
  for (std::size_t b = 0; b < next.size(); ++b) {
    while (next[b] < start[b + 1]) {
      const std::size_t to = digit(entries[next[b]]);
      if (to == b) {
        ++next[b];
      } else {
        std::swap(entries[next[b]], entries[next[to]++]);
      }
    }
  }
  if (shift == 0) return;
  for (std::size_t b = 0; b < count.size(); ++b) {
    if (count[b] > 1) sort_on_keys(entries.subspan(start[b], count[b]), shift - 8);
  }
}

}  // namespace

void sort_bytewise(std::span<SortEntry> entries) {
  // Groups still to sort, each agreeing in its first `from` bytes. An
  // explicit list rather than recursion: a hostile list may agree for
  // thousands of bytes.
  struct Group {
    std::size_t begin, end, from;
  };
  std::vector<Group> pending{{0, entries.size(), 0}};
  while (!pending.empty()) {
    const Group group = pending.back();
    pending.pop_back();
    const std::span<SortEntry> span(entries.data() + group.begin, group.end - group.begin);
    if (span.size() < 2) continue;
    const std::size_t from = shared_prefix(span, group.from);
    for (SortEntry& entry : span) entry.key = bytes_at(entry.text, from);
    sort_on_keys(span, 56);
    // Within a run of equal keys, a text that ends within the eight bytes
    // is a prefix of every longer one (the zeros of its key are theirs),
    // so the texts that end there go first, shorter before longer, and
    // the rest are sorted on from eight bytes further.
    for (std::size_t run = 0; run < span.size();) {
      std::size_t run_end = run + 1;
      while (run_end < span.size() && span[run_end].key == span[run].key) ++run_end;
      if (run_end - run > 1) {
        const auto run_span = span.subspan(run, run_end - run);
        const auto long_ones = std::ranges::partition(
            run_span, [&](const SortEntry& entry) { return entry.text.size() <= from + 8; });
        std::ranges::sort(run_span.begin(), long_ones.begin(), {},
                          [](const SortEntry& entry) { return entry.text.size(); });
        const auto first_long = static_cast<std::size_t>(long_ones.begin() - span.begin());
        if (run_end - first_long > 1) {
          pending.push_back({group.begin + first_long, group.begin + run_end, from + 8});
        }
      }
      run = run_end;
    }
  }
}

}  // namespace css

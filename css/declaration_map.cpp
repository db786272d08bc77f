#include "css/declaration_map.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace css {

struct DeclarationMap::Index {
  // Eight bytes, so that the index of a long block is half the memory a
  // probe may miss in. The low 32 bits of the hash both place the slot and
  // tell most unequal entries apart without reading their texts; a table
  // of more than four billion slots would use only the first of them,
  // which is slower but still correct.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t entry = 0;  // the entry's index plus one; 0 when empty
  };

  // The slot holding an entry equal to (name, value), or the empty slot
  // where it belongs.
  std::size_t find(std::uint32_t hash, const Entries& entries, std::string_view name,
                   std::string_view value) const {
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = hash & mask;
    while (slots[slot].entry != 0) {
      const Slot& candidate = slots[slot];
      const Declaration& declaration = entries[candidate.entry - 1];
      if (candidate.hash == hash && declaration.name == name && declaration.value == value)
        return slot;
      slot = (slot + 1) & mask;
    }
    return slot;
  }

  // Linear probing, never more than half full; each live entry once.
  std::vector<Slot> slots;
  // One mark per entry: true for a tombstone.
  std::vector<bool> removed;
};

namespace {

constexpr std::size_t min_slots = 16;
// Up to this many entries an insert scans the vector instead of keeping an
// index: comparing a few short texts costs less than hashing them, and the
// map stays as small as its entries.
constexpr std::size_t max_scanned_entries = 16;
// Below this many tombstones compaction is not worth a pass.
constexpr std::size_t min_removed_to_compact = 32;

// Eight bytes at a time, each word multiplied in and folded: names and
// values are short, and the general-purpose string hash spends more on
// its setup and tail than on them.
std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
  h = (h ^ word) * 0x9e3779b97f4a7c15ULL;
  return h ^ (h >> 29);
}

std::uint64_t hash_text(std::uint64_t h, std::string_view text) {
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    h = mix(h, word);
  }
  std::uint64_t tail = 0;
  for (std::size_t shift = 0; at < text.size(); ++at, shift += 8) {
    tail |= std::uint64_t{static_cast<unsigned char>(text[at])} << shift;
  }
  // The length keeps "ab" + "c" apart from "a" + "bc".
  return mix(mix(h, tail), text.size());
}

std::uint32_t hash_of(std::string_view name, std::string_view value) {
  std::uint64_t h = hash_text(hash_text(0x243f6a8885a308d3ULL, name), value);
  // The slot is taken from the low bits, so every bit is folded into them.
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

// An entry's place in the index, as the index stores it.
std::uint32_t slot_entry(std::size_t index) {
  return static_cast<std::uint32_t>(index + 1);
}

}  // namespace

DeclarationMap::DeclarationMap() = default;
DeclarationMap::DeclarationMap(Arena* arena) : entries_(ArenaAllocator<Declaration>(arena)) {}
DeclarationMap::~DeclarationMap() = default;
DeclarationMap::DeclarationMap(DeclarationMap&&) noexcept = default;
DeclarationMap& DeclarationMap::operator=(DeclarationMap&&) noexcept = default;

DeclarationMap::DeclarationMap(const DeclarationMap& other) : live_(other.live_) {
  entries_.reserve(other.live_);
  for (const Declaration& declaration : other) entries_.push_back(declaration);
}

DeclarationMap& DeclarationMap::operator=(const DeclarationMap& other) {
  if (this != &other) {
    DeclarationMap copy(other);
    *this = std::move(copy);
  }
  return *this;
}

const std::vector<bool>* DeclarationMap::removed_marks() const {
  return index_ ? &index_->removed : nullptr;
}

void DeclarationMap::remove_at(std::size_t entry) {
  if (index_) {
    index_->removed[entry] = true;
    entries_[entry] = Declaration{};
  } else {
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(entry));
  }
  --live_;
}

void DeclarationMap::rebuild_index(bool drop_equal) {
  if (!index_) {
    index_ = std::make_unique<Index>();
    index_->removed.assign(entries_.size(), false);
  }
  // Sized for the entries the map was reserved for, so that a long block
  // filled after it was reserved never grows its index.
  const std::size_t expected = std::max<std::size_t>(live_, entries_.capacity());
  std::size_t size = min_slots;
  while (size < 2 * (expected + 1)) size *= 2;
  std::vector<Index::Slot>& slots = index_->slots;
  slots.assign(size, Index::Slot{});
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (index_->removed[i]) continue;
    const Declaration& entry = entries_[i];
    const std::uint32_t hash = hash_of(entry.name, entry.value);
    const std::size_t slot = index_->find(hash, entries_, entry.name, entry.value);
    if (drop_equal && slots[slot].entry != 0) remove_at(slots[slot].entry - 1);
    slots[slot] = Index::Slot{hash, slot_entry(i)};
  }
  index_stale_ = false;
}

void DeclarationMap::grow_index() {
  // The slots keep their hashes and no two of them hold equal entries, so
  // growing moves slots and neither hashes nor compares a text.
  std::vector<Index::Slot> grown(2 * index_->slots.size());
  const std::size_t mask = grown.size() - 1;
  for (const Index::Slot& slot : index_->slots) {
    if (slot.entry == 0) continue;
    std::size_t at = slot.hash & mask;
    while (grown[at].entry != 0) at = (at + 1) & mask;
    grown[at] = slot;
  }
  index_->slots = std::move(grown);
}

void DeclarationMap::compact_if_worth_it() {
  const std::size_t removed = entries_.size() - live_;
  if (removed < min_removed_to_compact || removed <= live_) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (index_->removed[i]) continue;
    if (kept != i) entries_[kept] = entries_[i];
    ++kept;
  }
  entries_.resize(kept);
  index_->removed.assign(kept, false);
  rebuild_index(false);
}

void DeclarationMap::remove_equal_by_scan(std::string_view name, std::string_view value) {
  for (std::size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].name == name && entries_[i].value == value) {
      remove_at(i);
      return;
    }
  }
}

void DeclarationMap::drop_repeats() {
  if (!indexed() && entries_.size() <= max_scanned_entries) {
    // Entries before i hold no two equal ones, so one match at most;
    // when it goes, entry i moves down into i - 1.
    for (std::size_t i = 1; i < entries_.size();) {
      bool dropped = false;
      for (std::size_t j = i; j-- > 0;) {
        if (entries_[j] == entries_[i]) {
          remove_at(j);
          dropped = true;
          break;
        }
      }
      if (!dropped) ++i;
    }
    index_stale_ = false;
    return;
  }
  rebuild_index(true);
  compact_if_worth_it();
}

void DeclarationMap::insert(std::string_view name, std::string_view value) {
  if (!indexed() && entries_.size() < max_scanned_entries) {
    remove_equal_by_scan(name, value);
    entries_.push_back(Declaration{name, value});
    ++live_;
    return;
  }
  insert_indexed(name, value);
}

void DeclarationMap::insert_indexed(std::string_view name, std::string_view value) {
  if (!indexed() || index_stale_) {
    rebuild_index(false);
  } else if (2 * (std::size_t{live_} + 1) > index_->slots.size()) {
    grow_index();
  }
  const std::uint32_t hash = hash_of(name, value);
  const std::size_t slot = index_->find(hash, entries_, name, value);
  if (index_->slots[slot].entry != 0) remove_at(index_->slots[slot].entry - 1);
  entries_.push_back(Declaration{name, value});
  index_->removed.push_back(false);
  index_->slots[slot] = Index::Slot{hash, slot_entry(entries_.size() - 1)};
  ++live_;
  compact_if_worth_it();
}

bool operator==(const DeclarationMap& a, const DeclarationMap& b) {
  if (a.size() != b.size()) return false;
  auto left = a.begin();
  for (const Declaration& declaration : b) {
    if (!(*left == declaration)) return false;
    ++left;
  }
  return true;
}

}  // namespace css

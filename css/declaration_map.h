#pragma once
// The declarations of one block, in source order. A declaration's texts
// are views, as every text of the model is (see model.h): whoever inserts
// keeps the text alive for as long as the map is used.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "css/arena.h"

namespace css {

struct Declaration {
  std::string_view name;
  std::string_view value;

  bool operator==(const Declaration&) const = default;
};

// Keeps every declaration in the order inserted, repeated names included:
// "height:100%;height:calc(100% + 60px)" is a fallback pair and both must
// survive. The one exception is an exact repeat: inserting a name and value
// that are byte-equal to a live earlier entry removes that earlier entry and
// appends the new one, since the earlier one is redundant in every browser.
// Callers that want names compared without case (the optimisation passes)
// lower-case them before inserting.
//
// Entries sit in a vector. Most blocks hold a handful of declarations, and
// for those a scan of the vector is cheaper than hashing, so a small map is
// nothing but its vector, and a removal closes the gap. Past a few entries
// an open-addressing index keyed by name and value makes insert O(1) on
// average; removed entries then stay as tombstones, marked in the index,
// until they outnumber the live ones.
class DeclarationMap {
  struct Index;

  template <typename Value, typename Base>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Declaration;
    using difference_type = std::ptrdiff_t;
    using pointer = Value*;
    using reference = Value&;

    Iterator() = default;
    Iterator(Base first, Base current, Base end, const std::vector<bool>* removed)
        : first_(first), current_(current), end_(end), removed_(removed) {
      skip_removed();
    }

    reference operator*() const { return *current_; }
    pointer operator->() const { return &*current_; }
    Iterator& operator++() {
      ++current_;
      skip_removed();
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const Iterator& other) const { return current_ == other.current_; }

   private:
    void skip_removed() {
      if (removed_ == nullptr) return;
      while (current_ != end_ && (*removed_)[static_cast<std::size_t>(current_ - first_)])
        ++current_;
    }
    Base first_{};
    Base current_{};
    Base end_{};
    // The index's tombstone marks; null for a small map, which has none.
    const std::vector<bool>* removed_ = nullptr;
  };

 public:
  DeclarationMap();
  // A map whose entries live in the arena, which must outlive it; it
  // should be reserved at its size before the inserts.
  explicit DeclarationMap(Arena* arena);
  // A copy holds the live entries only, without an index; it builds one
  // when it needs it.
  DeclarationMap(const DeclarationMap& other);
  DeclarationMap& operator=(const DeclarationMap& other);
  DeclarationMap(DeclarationMap&&) noexcept;
  DeclarationMap& operator=(DeclarationMap&&) noexcept;
  ~DeclarationMap();

  using Entries = std::vector<Declaration, ArenaAllocator<Declaration>>;
  using iterator = Iterator<Declaration, Entries::iterator>;
  using const_iterator = Iterator<const Declaration, Entries::const_iterator>;

  // Appends (name, value), first removing a live entry with the same name
  // and value. Invalidates iterators.
  void insert(std::string_view name, std::string_view value);

  // After values or names were changed in place, makes the map what
  // inserting its entries one by one into an empty map would make it: of
  // entries that are now equal, only the last stays. Invalidates iterators.
  void drop_repeats();

  // Room for `count` entries without reallocation.
  void reserve(std::size_t count) { entries_.reserve(count); }

  // The number of live entries.
  std::size_t size() const { return live_; }
  bool empty() const { return live_ == 0; }

  // Mutable iteration may change names and values in place; order stays.
  // The index is rebuilt on the next insert, so editing a map and then
  // inserting into it costs one pass over the map.
  iterator begin() {
    index_stale_ = true;
    return iterator(entries_.begin(), entries_.begin(), entries_.end(), removed_marks());
  }
  iterator end() { return iterator(entries_.begin(), entries_.end(), entries_.end(), nullptr); }
  const_iterator begin() const {
    return const_iterator(entries_.begin(), entries_.begin(), entries_.end(), removed_marks());
  }
  const_iterator end() const {
    return const_iterator(entries_.begin(), entries_.end(), entries_.end(), nullptr);
  }

  // Same live entries in the same order.
  friend bool operator==(const DeclarationMap& a, const DeclarationMap& b);

 private:
  const std::vector<bool>* removed_marks() const;
  bool indexed() const { return index_ != nullptr; }

  // Removes the last live entry equal to (name, value), if any: after
  // in-place edits two may be equal, and a repeat replaces the later.
  void remove_equal_by_scan(std::string_view name, std::string_view value);
  void insert_indexed(std::string_view name, std::string_view value);
  // Builds the index from the live entries. With drop_equal, an entry
  // equal to a later one is removed on the way; without, the index points
  // at the later of two equal entries.
  void rebuild_index(bool drop_equal);
  // Doubles the index of a map whose index is up to date.
  void grow_index();
  void remove_at(std::size_t entry);
  void compact_if_worth_it();

  Entries entries_;
  // Absent while the map is small, and in a copy until it is needed, so
  // that the many small maps of a style sheet pay one pointer for it.
  std::unique_ptr<Index> index_;
  // A block of four billion declarations would take far more memory than
  // any machine that could parse it has.
  std::uint32_t live_ = 0;
  bool index_stale_ = false;
};

}  // namespace css

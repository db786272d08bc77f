#pragma once
// The declarations of one block, in source order.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace css {

struct Declaration {
    std::string name;
    std::string value;

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
// for those a scan of the vector is cheaper than hashing, so the map keeps
// no index until it grows past a few entries. Beyond that an
// open-addressing index keyed by name and value makes insert O(1) on
// average; removed entries stay as tombstones until they outnumber the live
// ones.
class DeclarationMap {
    struct Entry {
        Declaration declaration;
        bool removed = false;
    };

    template <typename Value, typename Base>
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Declaration;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        Iterator() = default;
        Iterator(Base current, Base end) : current_(current), end_(end) { skip_removed(); }

        reference operator*() const { return current_->declaration; }
        pointer operator->() const { return &current_->declaration; }
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
            while (current_ != end_ && current_->removed) ++current_;
        }
        Base current_{};
        Base end_{};
    };

public:
    DeclarationMap() = default;
    // A copy starts without an index; it builds one when it needs it.
    DeclarationMap(const DeclarationMap& other) : entries_(other.entries_), live_(other.live_) {}
    DeclarationMap& operator=(const DeclarationMap& other) {
        if (this != &other) {
            entries_ = other.entries_;
            index_.reset();
            live_ = other.live_;
            index_stale_ = false;
        }
        return *this;
    }
    DeclarationMap(DeclarationMap&&) noexcept = default;
    DeclarationMap& operator=(DeclarationMap&&) noexcept = default;
    ~DeclarationMap() = default;

    using iterator = Iterator<Declaration, std::vector<Entry>::iterator>;
    using const_iterator = Iterator<const Declaration, std::vector<Entry>::const_iterator>;

    // Appends (name, value), first removing a live entry with the same name
    // and value. Invalidates iterators.
    void insert(std::string name, std::string value);

    // After values or names were changed in place, makes the map what
    // inserting its entries one by one into an empty map would make it: of
    // entries that are now equal, only the last stays.
    void drop_repeats();

    // Room for `count` entries without reallocation.
    void reserve(std::size_t count) { entries_.reserve(count); }

    // The number of live entries.
    std::size_t len() const { return live_; }
    bool empty() const { return live_ == 0; }

    // Mutable iteration may change names and values in place; order stays.
    // The index is rebuilt on the next insert, so editing a map and then
    // inserting into it costs one pass over the map.
    iterator begin() {
        index_stale_ = true;
        return iterator(entries_.begin(), entries_.end());
    }
    iterator end() { return iterator(entries_.end(), entries_.end()); }
    const_iterator begin() const { return const_iterator(entries_.begin(), entries_.end()); }
    const_iterator end() const { return const_iterator(entries_.end(), entries_.end()); }

    // Same live entries in the same order.
    friend bool operator==(const DeclarationMap& a, const DeclarationMap& b);

private:
    struct Slot {
        std::size_t hash = 0;
        std::size_t entry = 0;  // the entry's index plus one; 0 when empty
    };

    // Marks the live entry equal to (name, value), if any, as removed.
    void remove_equal_by_scan(const std::string& name, const std::string& value);
    void remove_equal_by_index(const std::string& name, const std::string& value);
    void rebuild_index();
    void compact();
    // The slot holding an entry equal to (name, value), or the empty slot
    // where it belongs.
    std::size_t find_slot(std::size_t hash, const std::string& name, const std::string& value) const;
    void mark_removed(Entry& entry);

    bool indexed() const { return index_ != nullptr; }

    std::vector<Entry> entries_;
    // Absent while the map is small, and in a copy until it is needed, so
    // that the many small maps of a style sheet pay one pointer for it.
    // Otherwise open addressing with linear probing, holding each live entry
    // once and never more than half full.
    std::unique_ptr<std::vector<Slot>> index_;
    // A block of four billion declarations would take far more memory than
    // any machine that could parse it has.
    std::uint32_t live_ = 0;
    bool index_stale_ = false;
};

}  // namespace css

#include "css/declaration_map.h"

#include <functional>
#include <string_view>
#include <utility>

namespace css {

namespace {

constexpr std::size_t min_slots = 16;
// Up to this many entries (tombstones included) an insert scans the vector
// instead of keeping an index: comparing a few short texts costs less than
// hashing them, and the map stays as small as its entries.
constexpr std::size_t max_scanned_entries = 8;
// Below this many tombstones compaction is not worth a pass.
constexpr std::size_t min_removed_to_compact = 32;

std::size_t hash_of(const std::string& name, const std::string& value) {
    const std::hash<std::string_view> hasher;
    std::size_t h = hasher(name);
    h ^= hasher(value) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}

}  // namespace

void DeclarationMap::mark_removed(Entry& entry) {
    entry.removed = true;
    entry.declaration = Declaration{};
    --live_;
}

std::size_t DeclarationMap::find_slot(std::size_t hash, const std::string& name,
                                      const std::string& value) const {
    const std::vector<Slot>& slots = *index_;
    const std::size_t mask = slots.size() - 1;
    std::size_t slot = hash & mask;
    while (slots[slot].entry != 0) {
        const Slot& candidate = slots[slot];
        const Declaration& declaration = entries_[candidate.entry - 1].declaration;
        if (candidate.hash == hash && declaration.name == name && declaration.value == value) return slot;
        slot = (slot + 1) & mask;
    }
    return slot;
}

void DeclarationMap::rebuild_index() {
    std::size_t size = min_slots;
    while (size < 2 * (std::size_t{live_} + 1)) size *= 2;
    if (!index_) index_ = std::make_unique<std::vector<Slot>>();
    std::vector<Slot>& slots = *index_;
    slots.assign(size, Slot{});
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        if (entry.removed) continue;
        const std::size_t hash = hash_of(entry.declaration.name, entry.declaration.value);
        // After in-place edits two live entries may be equal; the index
        // points at the later one, which is the one a repeat would replace.
        slots[find_slot(hash, entry.declaration.name, entry.declaration.value)] = Slot{hash, i + 1};
    }
    index_stale_ = false;
}

void DeclarationMap::compact() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].removed) continue;
        if (kept != i) entries_[kept] = std::move(entries_[i]);
        ++kept;
    }
    entries_.resize(kept);
    rebuild_index();
}

void DeclarationMap::remove_equal_by_scan(const std::string& name, const std::string& value) {
    // From the back, so that of two equal entries (in-place edits can make
    // them) the later one goes, as with the index.
    for (std::size_t i = entries_.size(); i-- > 0;) {
        Entry& entry = entries_[i];
        if (!entry.removed && entry.declaration.name == name && entry.declaration.value == value) {
            mark_removed(entry);
            return;
        }
    }
}

void DeclarationMap::drop_repeats() {
    if (!indexed() && entries_.size() <= max_scanned_entries) {
        // Entries before i hold no two equal ones, so one match at most.
        for (std::size_t i = 1; i < entries_.size(); ++i) {
            const Entry& entry = entries_[i];
            if (entry.removed) continue;
            for (std::size_t j = i; j-- > 0;) {
                Entry& earlier = entries_[j];
                if (!earlier.removed && earlier.declaration == entry.declaration) {
                    mark_removed(earlier);
                    break;
                }
            }
        }
        index_stale_ = false;
        return;
    }
    std::size_t size = min_slots;
    while (size < 2 * (std::size_t{live_} + 1)) size *= 2;
    if (!index_) index_ = std::make_unique<std::vector<Slot>>();
    std::vector<Slot>& slots = *index_;
    slots.assign(size, Slot{});
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (entry.removed) continue;
        const std::size_t hash = hash_of(entry.declaration.name, entry.declaration.value);
        const std::size_t slot = find_slot(hash, entry.declaration.name, entry.declaration.value);
        if (slots[slot].entry != 0) mark_removed(entries_[slots[slot].entry - 1]);
        slots[slot] = Slot{hash, i + 1};
    }
    index_stale_ = false;
    const std::size_t removed = entries_.size() - live_;
    if (removed >= min_removed_to_compact && removed > live_) compact();
}

void DeclarationMap::insert(std::string name, std::string value) {
    if (!indexed() && entries_.size() < max_scanned_entries) {
        remove_equal_by_scan(name, value);
        entries_.push_back(Entry{Declaration{std::move(name), std::move(value)}, false});
        ++live_;
        return;
    }
    if (!indexed() || index_stale_ || 2 * (std::size_t{live_} + 1) > index_->size()) rebuild_index();
    std::vector<Slot>& slots = *index_;
    const std::size_t hash = hash_of(name, value);
    const std::size_t slot = find_slot(hash, name, value);
    if (slots[slot].entry != 0) mark_removed(entries_[slots[slot].entry - 1]);
    entries_.push_back(Entry{Declaration{std::move(name), std::move(value)}, false});
    slots[slot] = Slot{hash, entries_.size()};
    ++live_;
    const std::size_t removed = entries_.size() - live_;
    if (removed >= min_removed_to_compact && removed > live_) compact();
}

bool operator==(const DeclarationMap& a, const DeclarationMap& b) {
    if (a.len() != b.len()) return false;
    auto left = a.begin();
    for (const Declaration& declaration : b) {
        if (!(*left == declaration)) return false;
        ++left;
    }
    return true;
}

}  // namespace css

#include "css/declaration_map.h"

#include <functional>
#include <string_view>
#include <utility>

namespace css {

namespace {

constexpr std::size_t min_slots = 16;
// Below this many tombstones compaction is not worth a pass.
constexpr std::size_t min_removed_to_compact = 32;

std::size_t hash_of(const std::string& name, const std::string& value) {
    const std::hash<std::string_view> hasher;
    std::size_t h = hasher(name);
    h ^= hasher(value) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}

}  // namespace

std::size_t DeclarationMap::find_slot(std::size_t hash, const std::string& name,
                                      const std::string& value) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = hash & mask;
    while (slots_[slot] != 0) {
        const Entry& entry = entries_[slots_[slot] - 1];
        if (entry.hash == hash && entry.declaration.name == name && entry.declaration.value == value) {
            return slot;
        }
        slot = (slot + 1) & mask;
    }
    return slot;
}

void DeclarationMap::rebuild_index() {
    std::size_t size = min_slots;
    while (size < 2 * (live_ + 1)) size *= 2;
    slots_.assign(size, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Entry& entry = entries_[i];
        if (entry.removed) continue;
        if (index_stale_) entry.hash = hash_of(entry.declaration.name, entry.declaration.value);
        // After in-place edits two live entries may be equal; the index
        // points at the later one, which is the one a repeat would replace.
        slots_[find_slot(entry.hash, entry.declaration.name, entry.declaration.value)] = i + 1;
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

void DeclarationMap::insert(std::string name, std::string value) {
    if (index_stale_ || 2 * (live_ + 1) > slots_.size()) rebuild_index();
    const std::size_t hash = hash_of(name, value);
    std::size_t slot = find_slot(hash, name, value);
    if (slots_[slot] != 0) {
        Entry& earlier = entries_[slots_[slot] - 1];
        earlier.removed = true;
        earlier.declaration = Declaration{};
        --live_;
    }
    entries_.push_back(Entry{Declaration{std::move(name), std::move(value)}, hash, false});
    slots_[slot] = entries_.size();
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

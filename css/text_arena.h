#pragma once
// The memory of one style sheet's model beyond what it points at in the
// input: the texts the parser or the passes rewrite (a collapsed prelude, a
// shortened value) and the lists that never change once parsed. Everything
// stored here lives until the arena goes, all of it at once; nothing is
// freed piece by piece, and nothing stored is ever destroyed, so only
// trivially destructible things go in.

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace css {

class TextArena {
public:
    TextArena() = default;
    // A move keeps every stored byte where it is: views into the arena stay
    // valid in the arena moved to.
    TextArena(TextArena&&) noexcept = default;
    TextArena& operator=(TextArena&&) noexcept = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

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

    // Bytes taken from the system so far, for the benchmarks.
    std::size_t reserved_bytes() const { return reserved_; }

private:
    void* allocate(std::size_t bytes, std::size_t alignment);

    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::byte* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t reserved_ = 0;
};

}  // namespace css

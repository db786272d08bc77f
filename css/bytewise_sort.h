#pragma once
// Sorting texts in byte-wise order: bytes compared as unsigned, a prefix
// before the longer text, as char_traits<char> compares.

#include <cstdint>
#include <span>
#include <string_view>

namespace css {

// A text to sort, with the room the sort keeps its key in, so that a caller
// with a long list hands it over without the sort copying it.
struct SortEntry {
  std::uint64_t key = 0;
  std::string_view text;
};

// Sorts the entries in place by their texts; the keys are the sort's own.
// Equal texts end up side by side in no set order, which cannot be seen
// since they are equal. Eight bytes at a time are compared as one number,
// and a group of texts that agree so far is sorted on past the prefix they
// all share, so the time depends on where the texts differ and not on how
// long a prefix many of them repeat: ".icon-home:before,
// .icon-user:before, ..." costs no more than unrelated texts.
void sort_bytewise(std::span<SortEntry> entries);

}  // namespace css

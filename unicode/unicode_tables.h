#pragma once
// The tables generated from the Unicode Character Database into
// unicode_tables.cpp by tools/gen_unicode_tables.py. Internal to the
// unicode library: the rest of the program asks properties.h and case.h.

#include <cstdint>
#include <span>

namespace unicode::tables {

// A closed range of code points. Tables of ranges are sorted, and their
// ranges neither overlap nor touch.
struct Range {
  char32_t first;
  char32_t last;
};

// Simple lower-case mappings, run-length coded: every code point
// first, first + stride, ... up to last maps to itself plus delta. A stride
// of 2 covers the alphabets that alternate capital and small letters. The
// runs are sorted and do not overlap; code points inside a run's span but
// off its stride are not mapped by it.
struct LowerRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

// A lower-case mapping to more than one code point, or one that differs
// from the simple mapping, taken from the unconditional entries of
// SpecialCasing.txt. Unused slots of to are zero. Sorted by from.
struct SpecialLower {
  char32_t from;
  char32_t to[3];
};

extern const std::span<const Range> white_space;
extern const std::span<const Range> alphabetic;
// General category Nd, Nl or No.
extern const std::span<const Range> numeric;
extern const std::span<const Range> cased;
extern const std::span<const Range> case_ignorable;
extern const std::span<const LowerRun> lower_runs;
extern const std::span<const SpecialLower> special_lower;

}  // namespace unicode::tables

namespace unicode::tables {

// Whether c falls in one of the sorted ranges, by binary search.
bool contains(std::span<const Range> ranges, char32_t c);

}  // namespace unicode::tables

#!/usr/bin/env python3
"""Writes unicode/unicode_tables.cpp from the Unicode Character Database.

The tables are the character properties and the lower-case mapping that the
unicode library needs, as sorted ranges for binary search. The output
depends only on the data files, so it can be committed and checked:

    python3 tools/gen_unicode_tables.py            # regenerate
    python3 tools/gen_unicode_tables.py --check    # exit 1 if out of date

Uses the Python standard library only.
"""

import argparse
import os
import re
import sys
import tempfile

DEFAULT_DATA_DIR = "/usr/share/unicode"
DEFAULT_OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              os.pardir, "unicode", "unicode_tables.cpp")
# The files with a "# Name-X.Y.Z.txt" first line; UnicodeData.txt has none.
VERSIONED_FILES = ("PropList.txt", "DerivedCoreProperties.txt", "SpecialCasing.txt")


def fail(message):
    sys.exit("gen_unicode_tables: " + message)


def read_lines(data_dir, name):
    path = os.path.join(data_dir, name)
    try:
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()
    except OSError as e:
        fail("cannot read %s: %s" % (path, e.strerror))


def data_version(data_dir):
    versions = set()
    for name in VERSIONED_FILES:
        first = read_lines(data_dir, name)[0]
        stem = re.escape(name[:-len(".txt")])
        m = re.fullmatch(r"#\s*" + stem + r"-(\d+\.\d+\.\d+)\.txt\s*", first)
        if not m:
            fail("%s does not start with its name and version" % name)
        versions.add(m.group(1))
    if len(versions) != 1:
        fail("data files disagree on the version: " + ", ".join(sorted(versions)))
    return versions.pop()


def fields_of(line):
    """The semicolon-separated fields of a data line, or None for a comment."""
    line = line.split("#", 1)[0].strip()
    if not line:
        return None
    return [f.strip() for f in line.split(";")]


def code_range(text):
    if ".." in text:
        first, last = text.split("..")
        return int(first, 16), int(last, 16)
    return int(text, 16), int(text, 16)


def property_ranges(data_dir, name, wanted):
    """The code points with a binary property, from a PropList-style file."""
    ranges = []
    for line in read_lines(data_dir, name):
        fields = fields_of(line)
        if fields and fields[1] == wanted:
            ranges.append(code_range(fields[0]))
    if not ranges:
        fail("%s has no %s entries" % (name, wanted))
    return merge(ranges)


def merge(ranges):
    merged = []
    for first, last in sorted(ranges):
        if merged and first <= merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], max(merged[-1][1], last))
        else:
            merged.append((first, last))
    return merged


def unicode_data(data_dir):
    """(numeric ranges, simple lower-case mapping) from UnicodeData.txt."""
    numeric = []
    lower = {}
    range_start = None
    for line in read_lines(data_dir, "UnicodeData.txt"):
        fields = line.split(";")
        code, name, category, lower_field = int(fields[0], 16), fields[1], fields[2], fields[13]
        # Large blocks are given as a First/Last pair of lines.
        if name.endswith(", First>"):
            range_start = code
            continue
        first = code
        if name.endswith(", Last>"):
            first, range_start = range_start, None
        if category in ("Nd", "Nl", "No"):
            numeric.append((first, code))
        if lower_field:
            if first != code:
                fail("a lower-case mapping on a range at %04X" % code)
            lower[code] = int(lower_field, 16)
    return merge(numeric), lower


def special_lower(data_dir, simple):
    """Unconditional SpecialCasing.txt entries whose lower case is not the
    simple mapping. Conditional ones (final sigma, language rules) have a
    fifth field and are left to the code or to nobody."""
    special = {}
    for line in read_lines(data_dir, "SpecialCasing.txt"):
        fields = fields_of(line)
        if not fields:
            continue
        # A data line ends with ";", so the conditions field is the fifth
        # one and is empty when the entry is unconditional.
        if len(fields) > 5 and fields[4]:
            continue
        code = int(fields[0], 16)
        to = [int(c, 16) for c in fields[1].split()]
        if len(to) > 3:
            fail("a lower-case mapping longer than three at %04X" % code)
        if to != [simple.get(code, code)]:
            special[code] = to
    return sorted(special.items())


def lower_runs(simple):
    """Run-length codes the simple mapping: (first, last, delta, stride)."""
    runs = []
    for code in sorted(simple):
        delta = simple[code] - code
        if runs:
            first, last, run_delta, stride = runs[-1]
            if run_delta == delta:
                if first == last and code - last in (1, 2):
                    runs[-1] = (first, code, delta, code - last)
                    continue
                if code - last == stride:
                    runs[-1] = (first, code, delta, stride)
                    continue
        runs.append((code, code, delta, 1))
    return runs


def hex_code(c):
    return "0x%04X" % c


def table(ctype, name, entries, per_line):
    """A constant array and the span that the header declares for it."""
    lines = ["constexpr %s %s_data[] = {" % (ctype, name)]
    for i in range(0, len(entries), per_line):
        lines.append("    " + " ".join(e + "," for e in entries[i:i + per_line]))
    lines.append("};")
    lines.append("")
    return lines, "const std::span<const %s> %s{%s_data};" % (ctype, name, name)


def generate(data_dir):
    version = data_version(data_dir)
    numeric, simple = unicode_data(data_dir)
    properties = [
        ("white_space", property_ranges(data_dir, "PropList.txt", "White_Space")),
        ("alphabetic", property_ranges(data_dir, "DerivedCoreProperties.txt", "Alphabetic")),
        ("numeric", numeric),
        ("cased", property_ranges(data_dir, "DerivedCoreProperties.txt", "Cased")),
        ("case_ignorable", property_ranges(data_dir, "DerivedCoreProperties.txt", "Case_Ignorable")),
    ]
    tables = []
    for name, ranges in properties:
        entries = ["{%s, %s}" % (hex_code(a), hex_code(b)) for a, b in ranges]
        tables.append(table("Range", name, entries, 4))
    entries = ["{%s, %s, %d, %d}" % (hex_code(a), hex_code(b), d, s)
               for a, b, d, s in lower_runs(simple)]
    tables.append(table("LowerRun", "lower_runs", entries, 2))
    entries = ["{%s, {%s}}" % (hex_code(c), ", ".join(hex_code(t) for t in (to + [0, 0])[:3]))
               for c, to in special_lower(data_dir, simple)]
    tables.append(table("SpecialLower", "special_lower", entries, 2))

    lines = [
        "// Generated by tools/gen_unicode_tables.py from the Unicode Character",
        "// Database %s (UnicodeData.txt, PropList.txt, DerivedCoreProperties.txt," % version,
        "// SpecialCasing.txt). Do not edit by hand: change the generator and run it.",
        "",
        "// The generator lays the tables out; clang-format would only reflow them.",
        "// clang-format off",
        "",
        '#include "unicode/unicode_tables.h"',
        "",
        "namespace unicode::tables {",
        "namespace {",
        "",
    ]
    for body, _ in tables:
        lines.extend(body)
    lines.append("}  // namespace")
    lines.append("")
    lines.extend(span for _, span in tables)
    lines.append("")
    lines.append("}  // namespace unicode::tables")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description="Generates the unicode library's tables.")
    parser.add_argument("--data-dir", default=DEFAULT_DATA_DIR,
                        help="folder with the Unicode data files (default %(default)s)")
    parser.add_argument("--output", default=os.path.normpath(DEFAULT_OUTPUT),
                        help="file to write (default %(default)s)")
    parser.add_argument("--check", action="store_true",
                        help="regenerate to a temporary file and fail if --output differs")
    args = parser.parse_args()

    text = generate(args.data_dir)
    if args.check:
        # Through a real file, so the comparison sees exactly the bytes a
        # regeneration would write.
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", newline="\n",
                                         suffix=".cpp", delete=False) as f:
            f.write(text)
            temporary = f.name
        try:
            with open(temporary, "rb") as f:
                fresh = f.read()
            try:
                with open(args.output, "rb") as f:
                    committed = f.read()
            except OSError as e:
                fail("cannot read %s: %s" % (args.output, e.strerror))
        finally:
            os.remove(temporary)
        if fresh != committed:
            fail("%s is out of date; run tools/gen_unicode_tables.py" % args.output)
        return
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()

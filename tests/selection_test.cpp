// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string_view>

#include "volreport.h"

namespace {

struct SelectionRow {
    const char* letters;
    const char* type;
    const char* status;
    bool selected;
};

// The command line's letters, applied to a fresh selection.
VolumeSelection with_letters(const char* letters)
{
    VolumeSelection s;
    for (; *letters; ++letters)
        EXPECT_TRUE(apply_selection_letter(s, *letters)) << *letters;
    return s;
}

const SelectionRow rows[] = {
    // defaults
    {"", "RW", "On-line", true},
    {"", "RO", "On-line", false},
    {"", "BK", "On-line", false},
    {"", "RW", "Off-line", false},
    {"", "XX", "On-line", true},
    {"", "RW", "busy", true},
    // whole-word, case-sensitive comparisons
    {"", "rw", "Off-line", false},
    {"", "RWX", "Offline", true},
    {"", "R", "off-line", true},
    {"", "", "", true},
    {"w", "rw", "online", true},
    {"w", "RO", "On-line", false},
    // one letter at a time
    {"w", "RW", "On-line", false},
    {"w", "RW", "Off-line", false},
    {"w", "XX", "On-line", true},
    {"r", "RO", "On-line", true},
    {"r", "RO", "Off-line", false},
    {"b", "BK", "On-line", true},
    {"n", "RW", "On-line", false},
    {"n", "RW", "busy", true},
    {"f", "RW", "Off-line", true},
    // combinations, repeats
    {"nf", "RW", "On-line", false},
    {"nf", "RW", "Off-line", true},
    {"nf", "RO", "Off-line", false},
    {"wrb", "RO", "On-line", true},
    {"wrb", "BK", "On-line", true},
    {"wrb", "RW", "On-line", false},
    {"rrbb", "BK", "On-line", true},
    {"rbf", "BK", "Off-line", true},
    {"rwbnf", "XX", "Offline", true},
    {"rwbnf", "XX", "On-line", false},
};

TEST(Selection, type_and_status_must_both_pass)
{
    // Other letters move no switch: the default rows still hold.
    VolumeSelection untouched;
    for (char c : std::string_view("hRWBNFx-"))
        EXPECT_FALSE(apply_selection_letter(untouched, c)) << c;
    for (const SelectionRow& row : rows) {
        if (*row.letters == '\0') {
            EXPECT_EQ(is_selected(untouched, row.type, row.status), row.selected) << row.type;
        }
        EXPECT_EQ(is_selected(with_letters(row.letters), row.type, row.status), row.selected)
            << "letters '" << row.letters << "' type '" << row.type << "' status '" << row.status
            << "'";
    }
}

} // namespace

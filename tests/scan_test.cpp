// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "scan.h"
#include "test_support.h"

namespace {

constexpr std::uint64_t max64 = 18446744073709551615u;

struct NumberRow {
    const char* text;
    bool converts;
    std::uint64_t value;
};

const NumberRow number_rows[] = {
    {"0", true, 0},
    {"536 RW", true, 536},
    {" \t\r\v\f\n42", true, 42},
    {"+7x", true, 7},
    {"-5", true, max64 - 4},
    {"-0", true, 0},
    {"536RW", true, 536},
    {"4294967296", true, 4294967296u},
    {"18446744073709551615", true, max64},
    {"18446744073709551616", true, max64},
    {"99999999999999999999", true, max64},
    {"123456789012345678901234", true, max64},
    {"-18446744073709551615", true, 1},
    {"-18446744073709551616", true, max64},
    {"00000000000000000000000000018446744073709551615", true, max64},
    {"0000000000000000000000000001", true, 1},
    {"18446744073709551609", true, 18446744073709551609u},
    {"19000000000000000000", true, max64},
    {"123456789012345", true, 123456789012345u},
    {"1234567890123456", true, 1234567890123456u},
    {"12345678901234567 K", true, 12345678901234567u},
    {"-123456789", true, max64 - 123456788},
    {"", false, 0},
    {"   ", false, 0},
    {"K", false, 0},
    {"+", false, 0},
    {"- 5", false, 0},
    {"+-5", false, 0},
};

// Numbers as the quota, the field a quota line has alone.
TEST(Scan, numbers_take_a_sign_wrap_negatives_and_saturate)
{
    for (const NumberRow& row : number_rows) {
        VolumeRecord r;
        int converted = scan_quota(Padded(std::string(quota_prefix) + row.text), nullptr, r);
        EXPECT_EQ(converted, row.converts ? 1 : 0) << visible(row.text);
        EXPECT_EQ(converted == 1 ? r.max_quota_k : 0, row.value) << visible(row.text);
    }
}

struct HeaderRow {
    const char* line;
    int fields;
    const char* name;
    const char* type;
    std::uint64_t size_k;
    const char* status;
};

const std::string long_name(70, 'n');

const HeaderRow header_rows[] = {
    {"vol.a 536 RW 100 K On-line\n", 5, "vol.a", "RW", 100, "On-line"},
    {"vol.a\t536\tRW\t100\tK\tOn-line extra words\r\n", 5, "vol.a", "RW", 100, "On-line"},
    {"\tvol.a 536 RW 100 K On-line", 5, "vol.a", "RW", 100, "On-line"},
    {"vol.a 536RW 100 K On-line", 5, "vol.a", "RW", 100, "On-line"},
    {"vol.a 536 RW 100K On-line", 5, "vol.a", "RW", 100, "On-line"},
    {"vol.a 536 RW 100 KOn-line", 5, "vol.a", "RW", 100, "On-line"},
    {"vol.a 536 RW 100 KB On-line", 5, "vol.a", "RW", 100, "B"},
    {"vol.a 536 RW -100 K On-line", 5, "vol.a", "RW", max64 - 99, "On-line"},
    {"vol.a 536 RWXYZABCDEF 100 K On-line", 3, "vol.a", "RWXYZABC", 0, ""},
    {"vol.a 536 RW 100 K Off-line-and-some-more", 5, "vol.a", "RW", 100, "Off-line-and-some-"},
    {"vol.a 536 RW 100 On-line", 4, "vol.a", "RW", 100, ""},
    {"vol.a 536 RW 100 k On-line", 4, "vol.a", "RW", 100, ""},
    {"vol.a 536 RW 100 K", 4, "vol.a", "RW", 100, ""},
    {"vol.a 536 RW 100 K \r\n", 4, "vol.a", "RW", 100, ""},
    {"vol.a 536 RW", 3, "vol.a", "RW", 0, ""},
    {"vol.a 536 RW + 100 K On-line", 3, "vol.a", "RW", 0, ""},
    {"vol.a RW 536 100 K On-line", 1, "vol.a", "", 0, ""},
    {"v 1 RW 1 K Off-line-and-some-m", 5, "v", "RW", 1, "Off-line-and-some-"},
    {"v 1 RW 1 K", 4, "v", "RW", 1, ""},
    {"v 1 RWABCDEF", 3, "v", "RWABCDEF", 0, ""},
    {"\r\n", 0, "", "", 0, ""},
    {"", 0, "", "", 0, ""},
};

TEST(Scan, header_fields_follow_the_pattern_rules)
{
    for (const HeaderRow& row : header_rows) {
        VolumeRecord r;
        int fields = scan_header(Padded(row.line), nullptr, r);
        EXPECT_EQ(fields, row.fields) << visible(row.line);
        // A field not converted is expected empty.
        EXPECT_EQ(fields >= 1 ? r.name.view() : "", row.name) << visible(row.line);
        EXPECT_EQ(fields >= 3 ? r.type.view() : "", row.type) << visible(row.line);
        EXPECT_EQ(fields >= 4 ? r.size_k : 0, row.size_k) << visible(row.line);
        EXPECT_EQ(fields >= 5 ? r.status.view() : "", row.status) << visible(row.line);
    }
}

TEST(Scan, long_name_is_cut_and_its_rest_scanned_as_the_number)
{
    VolumeRecord r;
    std::string line = std::string(62, 'a') + "123 RW 5 K On-line";
    EXPECT_EQ(scan_header(Padded(line), nullptr, r), 5);
    EXPECT_EQ(r.name.view(), std::string(62, 'a'));
    EXPECT_EQ(r.volume_number, 123u);
    EXPECT_EQ(scan_header(Padded(long_name + " 1 RW 5 K On-line"), nullptr, r), 1);
}

TEST(Scan, first_detail_line_needs_two_words_and_cuts_them)
{
    VolumeRecord r;
    EXPECT_EQ(scan_first_detail(Padded("    alpha beta\n"), nullptr, r), 2);
    EXPECT_EQ(r.detail_word_1.view(), "alpha");
    EXPECT_EQ(r.detail_word_2.view(), "beta");
    EXPECT_EQ(scan_first_detail(Padded("    alpha beta gamma"), nullptr, r), 2);
    EXPECT_EQ(scan_first_detail(Padded("    alpha\n"), nullptr, r), 1);
    EXPECT_EQ(scan_first_detail(Padded("    \n"), nullptr, r), 0);
    EXPECT_EQ(scan_first_detail(Padded("    a 12345678901234567890"), nullptr, r), 2);
    EXPECT_EQ(r.detail_word_2.view(), "12345678901234");
    std::string w1(130, 'w');
    EXPECT_EQ(scan_first_detail(Padded("    " + w1), nullptr, r), 2);
    EXPECT_EQ(r.detail_word_1.view(), std::string(126, 'w'));
    EXPECT_EQ(r.detail_word_2.view(), "wwww");
}

// The scanner must agree with the C library's formatted input on every
// line, including the fields converted before a failure.
std::string random_line(std::mt19937_64& rng)
{
    // clang-format off
    static const char* const pieces[] = {
        " ", "  ", "\t", "\r", "\v", "\f", "\n", "K", "k", "+", "-", "0", "5", "00", "536",
        "4294967296", "18446744073709551615", "18446744073709551616", "99999999999999999999999",
        "RW", "On-line", "Off-line", "KOn-line", "vol.a", "MaxQuota", "abcdefghij", "x",
        "\x80\xff", "\x01"};
    // clang-format on
    std::string line;
    int n = static_cast<int>(rng() % 14);
    for (int i = 0; i < n; ++i) {
        if (rng() % 20 == 0)
            line.append(rng() % 140 + 1, static_cast<char>('a' + rng() % 26));
        else
            line += pieces[rng() % std::size(pieces)];
    }
    return line;
}

// Lines shaped like headers and first detail lines, with words and gaps
// around the field limits and the 64- and 128-byte marks, so that the scans
// are compared by mask and a byte at a time, on both sides of the longest
// line a mask covers.
std::string shaped_line(std::mt19937_64& rng)
{
    auto word = [&](std::size_t around) {
        std::size_t length = around - 2 + rng() % 5;
        std::string w;
        for (std::size_t i = 0; i < length + 1; ++i)
            w += "abRW.-_xK"[rng() % 9];
        return w;
    };
    auto number = [&] {
        static const char* const signs[] = {"", "", "", "+", "-"};
        std::string n = signs[rng() % 5];
        std::size_t digits = 1 + rng() % 18;
        for (std::size_t i = 0; i < digits; ++i)
            n += static_cast<char>('0' + rng() % 10);
        if (rng() % 8 == 0)
            n += "RW";
        return n;
    };
    auto gap = [&] {
        static const char* const gaps[] = {" ", " ", "  ", "\t", "\r", " \v ", ""};
        std::string g = gaps[rng() % 7];
        if (rng() % 4 == 0)
            g.append(rng() % 40, ' ');
        return g;
    };
    static const char* const k_words[] = {"K", "K", "K", "KB", "k", "KOn-line"};
    std::string line;
    if (rng() % 2 == 0) {
        line = word(1 + rng() % 62) + gap() + number() + gap() + word(1 + rng() % 8) + gap() +
               number() + gap() + k_words[rng() % 6] + gap() + word(1 + rng() % 18);
    } else {
        line = "    " + word(1 + rng() % 126) + gap() + word(1 + rng() % 14);
    }
    if (rng() % 3 == 0)
        line += gap() + word(rng() % 8 + 3);
    if (rng() % 2 == 0)
        line += "\n";
    return line;
}

TEST(Scan, agrees_with_the_c_library_on_generated_lines)
{
    std::mt19937_64 rng(20261208);
    for (int i = 0; i < 300000; ++i) {
        std::string line = i % 3 == 0 ? shaped_line(rng) : random_line(rng);
        if (i % 3 == 1)
            line.insert(0, quota_prefix);
        ASSERT_EQ(scan_mismatch(line), "");
    }
}

} // namespace

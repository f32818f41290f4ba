// SPDX-License-Identifier: MIT
// Each unit's preconditions, broken on purpose: a checked build stops at the
// broken one and names it, so a check compiled out or testing the wrong
// thing shows here. Built only where the checks are compiled in.
#include <gtest/gtest.h>

#include <string>

#include "swar.h"
#include "test_support.h"

namespace {

// A line reader of `bytes`, on storage left as the allocator gives it.
LineReader& reader_on(std::string_view bytes, std::size_t block)
{
    static MemorySource source;
    source = {bytes};
    reused_storage().in.open(source.source(), block);
    return reused_storage().in;
}

const std::string no_newline(2 * max_block_size, 'x');
const std::string long_line(200, 'x');
VolumeRecord record;
simd::LineSpaces spaces{};

const struct {
    const char* contract;
    const char* condition; // a pattern of the condition the message quotes
    void (*act)();
} breaches[] = {
    {"a padded line fits a line buffer", "<= max_line_bytes",
     [] { (void)Padded(std::string(max_line_bytes + 1, 'x')).line(); }},
    {"a padded line has its padding", "scan_padding", [] { PaddedLine("x", "x" + 1); }},
    {"a block is a byte or more", "size >= 1 && size <= max_block_size",
     [] { (void)reader_on("x", 0); }},
    {"a block is at most the maximum", "size >= 1 && size <= max_block_size",
     [] { (void)reader_on("x", max_block_size + 1); }},
    // Without a line taken in between, the second read would land past the
    // reader's storage.
    {"a refill keeps less than a line", "kept < max_line_bytes",
     [] {
         LineReader& reader = reader_on(no_newline, max_block_size);
         (void)(reader.refill() && reader.refill());
     }},
    {"line spaces are of a line of the reader", ">= data &&",
     [] { (void)reader_on("x\n", 1).line_spaces(Padded("other\n"), spaces); }},
    {"a mask scan gets a line the mask covers", "size <= LineSpaces::max_bytes",
     [] { (void)scan_header(Padded(long_line), &spaces, record); }},
    {"a quota scan gets the quota prefix", "starts_with.quota_prefix",
     [] { (void)scan_quota(Padded("    MinQuota 5 K\n"), nullptr, record); }},
    {"a report line's words fit their fields", "word.size <= N",
     [] {
         record.type.size = decltype(record.type)::capacity + 1;
         open_report(reused_storage().out, {nullptr, refuse_bytes});
         (void)write_report_line(reused_storage().out, record);
     }},
    {"eight digits are below 10^8", "value < eight_digit_base",
     [] { (void)swar::eight_digits(swar::eight_digit_base); }},
    {"a funnel shifts by less than a block", "shift < block_bytes",
     [] { (void)simd::funnel(1, 2, simd::block_bytes); }},
    {"a line starts inside its block", "shift < block_bytes",
     [] { (void)simd::through_newline(1, 2, simd::block_bytes); }},
    {"a white-space window fits its mask", "size <= LineSpaces::max_bytes",
     [] { (void)simd::spaces_window(nullptr, 0, simd::LineSpaces::max_bytes + 1); }},
    {"word edges are of a line the mask covers", "size <= LineSpaces::max_bytes",
     [] { simd::WordEdges(spaces, simd::LineSpaces::max_bytes + 1); }},
    {"a digit block has 1 to 8 digits", "n >= 1 && n <= 8",
     [] { (void)swar::parse_digits(long_line.data(), 0, record.size_k); }},
    {"word loads parse at most 16 digits", "n <= most_word_digits",
     [] { (void)swar::parse_up_to_16_digits(long_line.data(), 17, record.size_k); }},
    {"a word drops fewer than 8 bytes", "n < 8", [] { (void)swar::drop_bytes(0, 8); }},
    {"a word fills fewer than 8 bytes", "n < 8", [] { (void)swar::fill_bytes(0, 8, ' '); }},
    {"the lowest bit of nothing", "mask != 0", [] { (void)simd::lowest_bit(0); }},
    {"edges are dropped within the first block", "position < block_bytes",
     [] { simd::WordEdges(spaces, 0).drop_before(simd::block_bytes); }},
};

TEST(Contracts, each_broken_precondition_stops_a_checked_build)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& breach : breaches)
        EXPECT_DEATH(breach.act(), std::string("broken precondition: .*") + breach.condition)
            << breach.contract;
}

} // namespace

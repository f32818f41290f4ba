// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "line_reader.h"
#include "test_support.h"

namespace {

// Listings with the line shapes that matter to the reader: indented and
// empty lines, headers, lines around the 1023-byte limit, NUL bytes, and a
// last line with or without its newline.
std::string random_listing(std::mt19937_64& rng)
{
    std::string text;
    int lines = static_cast<int>(rng() % 60);
    for (int i = 0; i < lines; ++i) {
        switch (rng() % 8) {
        case 0: text += "\n"; break;
        case 1: text += "vol.a 536 RW 100 K On-line\n"; break;
        case 2: text += std::string(1 + rng() % 3, ' ') + "detail\n"; break;
        case 3: text += std::string(1015 + rng() % 20, rng() % 2 ? ' ' : 'x') + "\n"; break;
        case 4: text += std::string(1 + rng() % 2100, ' '); break;
        case 5: text += std::string("  \0 x\n", 6); break;
        case 6: text += std::string(rng() % 130, ' ') + "\n"; break;
        default: text += "\tTotal number of volumes: 3\r\n"; break;
        }
    }
    if (rng() % 2)
        text += "last without newline";
    return text;
}

// The reader's lines on random listings, for every block size.
void expect_fgets_lines(unsigned seed, bool skip)
{
    std::mt19937_64 rng(seed);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        for (std::size_t block : block_sizes)
            ASSERT_EQ(line_reader_mismatch(text, block, 0, skip), "")
                << visible(text) << " block " << block;
    }
}

TEST(LineReader, lines_match_a_line_buffer_of_1024_bytes_for_every_block_size)
{
    expect_fgets_lines(7, false);
}

TEST(LineReader, skipping_passes_over_exactly_the_whole_indented_and_empty_lines)
{
    expect_fgets_lines(11, true);
}

TEST(LineReader, line_spaces_mark_the_white_space_of_every_short_line)
{
    std::mt19937_64 rng(13);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        for (std::size_t block : {std::size_t{1}, std::size_t{64}, default_block_size}) {
            MemorySource source{text};
            LineReader& reader = reused_storage().in;
            reader.open(source.source(), block);
            PaddedLine padded;
            for (;;) {
                if (!reader.take_line(padded)) {
                    if (reader.source_ended() || !reader.refill())
                        break;
                    continue;
                }
                std::string_view line = padded.text();
                simd::LineSpaces room{};
                const simd::LineSpaces* spaces = reader.line_spaces(padded, room);
                // Only a long line has no mask.
                ASSERT_EQ(spaces == nullptr, line.size() > simd::LineSpaces::max_bytes)
                    << visible(line) << " block " << block;
                if (spaces == nullptr)
                    continue;
                // Bits past the line mean nothing, and are cleared.
                std::uint64_t got[2] = {spaces->bits[0], spaces->bits[1]};
                for (std::size_t at = line.size(); at < 64 * std::size(got); ++at)
                    got[at / 64] &= ~(std::uint64_t{1} << (at % 64));
                ByteLoopMasks expected = byte_loop_masks(line);
                expected.blocks.resize(std::size(got));
                ASSERT_EQ(got[0], expected.blocks[0].spaces) << visible(line) << " block " << block;
                ASSERT_EQ(got[1], expected.blocks[1].spaces) << visible(line) << " block " << block;
            }
        }
    }
}

} // namespace

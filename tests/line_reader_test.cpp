// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

// The reader is hundreds of KiB, too much for the stack. Its storage is
// left as the allocator gives it, as the filter's is.
std::unique_ptr<LineReader> open_reader(MemorySource& source, std::size_t block)
{
    auto reader = std::make_unique_for_overwrite<LineReader>();
    reader->open(source.source(), block);
    return reader;
}

// Takes every line, or with `skip` only those the fast path does not pass
// over. A pass that moves must stop at the first line after it, as fgets
// takes them, that is neither indented nor empty.
std::vector<std::string_view> reader_lines(const std::string& text, std::size_t block, bool skip)
{
    MemorySource source{text};
    auto reader = open_reader(source, block);
    const std::vector<std::string_view> all = fgets_lines(text);
    std::size_t next = 0; // the fgets line where the reader is
    auto position = [&] { return text.size() - source.rest.size() - reader->unread().size(); };
    std::vector<std::string_view> lines;
    PaddedLine line;
    for (;;) {
        std::size_t before = position();
        if (skip)
            reader->skip_indented_lines();
        if (position() != before) {
            while (next < all.size() && (all[next][0] == ' ' || all[next][0] == '\n'))
                ++next;
            EXPECT_LT(next, all.size()) << "passed over the last line, from " << before;
            if (next < all.size()) {
                EXPECT_EQ(position(), static_cast<std::size_t>(all[next].data() - text.data()))
                    << "stopped elsewhere, from " << before;
            }
        }
        if (reader->take_line(line)) {
            // As a view into `text`, so that it compares with fgets lines:
            // the whole line ends where the unread bytes begin.
            auto length = static_cast<std::size_t>(reader->unread().data() - line.text().data());
            lines.push_back(std::string_view(text).substr(position() - length, length));
            ++next;
            continue;
        }
        if (reader->source_ended() || !reader->refill())
            return lines;
    }
}

std::vector<std::string_view> without_indented(std::vector<std::string_view> lines)
{
    std::erase_if(lines, [](std::string_view line) {
        return line.back() == '\n' && (line[0] == ' ' || line[0] == '\n');
    });
    return lines;
}

TEST(LineReader, lines_match_a_line_buffer_of_1024_bytes_for_every_block_size)
{
    std::mt19937_64 rng(7);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        std::vector<std::string_view> expected = fgets_lines(text);
        for (std::size_t block : block_sizes)
            ASSERT_EQ(reader_lines(text, block, false), expected)
                << visible(text) << " block " << block;
    }
}

TEST(LineReader, skipping_passes_over_exactly_the_whole_indented_and_empty_lines)
{
    std::mt19937_64 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        std::vector<std::string_view> expected = without_indented(fgets_lines(text));
        for (std::size_t block : block_sizes)
            ASSERT_EQ(without_indented(reader_lines(text, block, true)), expected)
                << visible(text) << " block " << block;
    }
}

TEST(LineReader, line_spaces_mark_the_white_space_of_every_short_line)
{
    std::mt19937_64 rng(13);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        for (std::size_t block : {std::size_t{1}, std::size_t{64}, default_block_size}) {
            MemorySource source{text};
            auto reader = open_reader(source, block);
            PaddedLine padded;
            for (;;) {
                if (!reader->take_line(padded)) {
                    if (reader->source_ended() || !reader->refill())
                        break;
                    continue;
                }
                std::string_view line = padded.text();
                simd::LineSpaces room{};
                const simd::LineSpaces* spaces = reader->line_spaces(padded, room);
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

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
        default: text += "\tTotal number of volumes: 3\n"; break;
        }
    }
    if (rng() % 2)
        text += "last without newline";
    return text;
}

// The lines a 1024-byte fgets loop takes, with the bytes each read consumed.
std::vector<std::string> fgets_lines(const std::string& text)
{
    std::vector<std::string> lines;
    if (text.empty())
        return lines;
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    char buffer[1024];
    long before = 0;
    while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
        long after = std::ftell(f);
        lines.emplace_back(text, static_cast<std::size_t>(before),
                           static_cast<std::size_t>(after - before));
        before = after;
    }
    std::fclose(f);
    return lines;
}

// Takes every line, or with `skip` only those the fast path does not pass
// over.
std::vector<std::string> reader_lines(const std::string& text, std::size_t block, bool skip,
                                      const simd::Kernel& kernel)
{
    std::vector<char> storage(reader_storage_size(block));
    MemorySource source{text};
    LineReader reader;
    init_line_reader(reader, source.source(), storage.data(), block);
    reader.kernel = &kernel;
    std::vector<std::string> lines;
    std::string_view line;
    for (;;) {
        if (skip)
            skip_indented_lines(reader);
        if (take_line(reader, line)) {
            lines.emplace_back(line);
            continue;
        }
        if (reader.at_end || !refill(reader))
            return lines;
    }
}

std::vector<std::string> without_indented(std::vector<std::string> lines)
{
    std::erase_if(lines, [](const std::string& line) {
        return line.back() == '\n' && (line[0] == ' ' || line[0] == '\n');
    });
    return lines;
}

TEST(LineReader, lines_match_a_line_buffer_of_1024_bytes_for_every_block_size)
{
    std::mt19937_64 rng(7);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        std::vector<std::string> expected = fgets_lines(text);
        for (std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{1023},
                                  std::size_t{1024}, default_block_size})
            ASSERT_EQ(reader_lines(text, block, false, simd::best_kernel()), expected)
                << visible(text) << " block " << block;
    }
}

TEST(LineReader, skipping_passes_over_exactly_the_whole_indented_and_empty_lines)
{
    std::mt19937_64 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        std::vector<std::string> expected = without_indented(fgets_lines(text));
        for (const simd::Kernel* kernel : simd::available_kernels()) {
            for (std::size_t block :
                 {std::size_t{1}, std::size_t{64}, std::size_t{1024}, default_block_size}) {
                ASSERT_EQ(without_indented(reader_lines(text, block, true, *kernel)), expected)
                    << visible(text) << " block " << block << " kernel " << kernel->name;
            }
        }
    }
}

TEST(LineReader, line_spaces_mark_the_white_space_of_every_short_line)
{
    std::mt19937_64 rng(13);
    for (int i = 0; i < 300; ++i) {
        std::string text = random_listing(rng);
        bool plain = std::ranges::none_of(
            text, [](char c) { return static_cast<unsigned char>(c) < 14 && c != '\n'; });
        for (std::size_t block : {std::size_t{1}, std::size_t{64}, default_block_size}) {
            std::vector<char> storage(reader_storage_size(block));
            MemorySource source{text};
            LineReader reader;
            init_line_reader(reader, source.source(), storage.data(), block);
            std::string_view line;
            for (;;) {
                if (!take_line(reader, line)) {
                    if (reader.at_end || !refill(reader))
                        break;
                    continue;
                }
                simd::Mask128 spaces{};
                bool known = line_spaces(reader, line, spaces);
                // Only a byte the masks do not show may keep the answer back.
                if (plain && line.size() <= 127) {
                    ASSERT_TRUE(known) << visible(line) << " block " << block;
                }
                if (!known)
                    continue;
                std::uint64_t expected[2] = {};
                std::uint64_t got[2] = {spaces.low, spaces.high};
                for (std::size_t at = 0; at < 128; ++at) {
                    std::uint64_t bit = std::uint64_t{1} << (at % 64);
                    if (at < line.size() && (line[at] == ' ' || line[at] == '\n'))
                        expected[at / 64] |= bit;
                    else if (at >= line.size())
                        got[at / 64] &= ~bit;
                }
                ASSERT_EQ(got[0], expected[0]) << visible(line) << " block " << block;
                ASSERT_EQ(got[1], expected[1]) << visible(line) << " block " << block;
            }
        }
    }
}

} // namespace

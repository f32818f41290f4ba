// SPDX-License-Identifier: MIT
// Every kernel this processor runs gives the masks of a plain byte loop, on
// the same bytes: any byte value, any offset of a block in memory, one to
// three blocks per call, and a newline, NUL or space at every position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "simd.h"
#include "swar.h"
#include "test_support.h"

namespace {

constexpr std::size_t max_blocks = 3;

// Runs `kernel` over `bytes` placed at every offset 0 to 63 from a 64-byte
// boundary, so that no kernel depends on aligned loads.
void expect_kernel_matches(const simd::Kernel& kernel, const std::string& bytes, std::size_t blocks)
{
    ByteLoopMasks expected = byte_loop_masks(std::string_view(bytes).substr(0, 64 * blocks));
    std::vector<char> memory(64 * (max_blocks + 2));
    for (std::size_t offset = 0; offset < 64; ++offset) {
        auto misalignment = reinterpret_cast<std::uintptr_t>(memory.data()) % 64;
        char* at = memory.data() + (64 - misalignment) % 64 + offset;
        std::copy(bytes.begin(), bytes.begin() + static_cast<long>(64 * blocks), at);
        std::vector<simd::LineMasks> lines(blocks);
        bool nuls = kernel.classify_lines(at, blocks, lines.data());
        // The message is only built when a comparison fails.
        auto where = [&](std::size_t b) {
            return ::testing::Message()
                   << kernel.name << " block " << b << " of " << blocks << " offset " << offset
                   << ": " << visible(bytes.substr(0, 64 * blocks));
        };
        for (std::size_t b = 0; b < blocks; ++b) {
            ASSERT_EQ(lines[b].newlines, expected.blocks[b].newlines) << where(b);
            ASSERT_EQ(lines[b].spaces, expected.blocks[b].spaces) << where(b);
            ASSERT_EQ(lines[b].heads, expected.blocks[b].heads) << where(b);
        }
        ASSERT_EQ(nuls, expected.nuls) << kernel.name << " offset " << offset;
    }
}

void expect_all_kernels_match(const std::string& bytes)
{
    for (const simd::Kernel& kernel : simd::available_kernels())
        for (std::size_t blocks = 1; blocks <= max_blocks; ++blocks)
            expect_kernel_matches(kernel, bytes, blocks);
}

TEST(Kernels, every_byte_value_is_classified_like_a_byte_loop)
{
    // All 256 values in order, then in reverse, across three blocks: each
    // byte meets every lane of a vector somewhere.
    std::string bytes;
    for (int i = 0; i < 192; ++i)
        bytes += static_cast<char>(i < 128 ? i * 2 : 255 - (i - 128) * 2);
    expect_all_kernels_match(bytes);
    std::string descending;
    for (int i = 255; i >= 64; --i)
        descending += static_cast<char>(i);
    expect_all_kernels_match(descending);
}

TEST(Kernels, one_special_byte_at_every_position_of_three_blocks)
{
    // Backgrounds that a kernel could confuse with the byte: high bytes whose
    // low seven bits match, neighbours of the ranges, and plain text.
    const struct {
        char background;
        char special;
    } rows[] = {
        {'x', '\n'},      {'x', '\0'},    {'x', ' '},     {'x', '\t'},   {'x', '\r'},
        {'x', '5'},       {'\x8a', '\n'}, {'\x80', '\0'}, {'\xa0', ' '}, {'\x0e', '\x0d'},
        {'\x08', '\x09'}, {'/', '0'},     {':', '9'},     {' ', 'x'},    {'\n', ' '},
        {'\xb0', '\0'},   {'\xff', '\n'},
    };
    for (const auto& row : rows) {
        for (std::size_t at = 0; at < 64 * max_blocks; ++at) {
            std::string bytes(64 * max_blocks, row.background);
            bytes[at] = row.special;
            for (const simd::Kernel& kernel : simd::available_kernels())
                expect_kernel_matches(kernel, bytes, at / 64 + 1);
        }
    }
}

TEST(Kernels, a_newline_ending_a_block_makes_a_head_of_the_next_but_nothing_comes_before_the_first)
{
    // As the reader calls them: the first byte of a call starts no line of
    // its own, and a newline carries from one block to the next.
    const std::string bytes = std::string(63, 'x') + "\n" + std::string(64, 'y');
    for (const simd::Kernel& kernel : simd::available_kernels()) {
        simd::LineMasks masks[2];
        kernel.classify_lines(bytes.data(), 2, masks);
        EXPECT_EQ(masks[0].heads, 0U) << kernel.name;
        EXPECT_EQ(masks[1].heads, 1U) << kernel.name;
    }
}

TEST(Kernels, a_processor_without_avx2_gets_the_other_kernels_with_the_next_best_last)
{
    auto is_avx2 = [](const simd::Kernel& kernel) {
        return std::string_view(kernel.name) == "avx2";
    };
    std::span<const simd::Kernel> with = simd::kernels_for(true);
    std::span<const simd::Kernel> without = simd::kernels_for(false);
    EXPECT_TRUE(std::none_of(without.begin(), without.end(), is_avx2));
    if (std::none_of(with.begin(), with.end(), is_avx2)) {
        // A build without the AVX2 kernel: nothing to leave out.
        EXPECT_EQ(with.data(), without.data());
        EXPECT_EQ(with.size(), without.size());
        return;
    }
    EXPECT_TRUE(is_avx2(with.back()));
    ASSERT_EQ(without.size(), with.size() - 1);
    EXPECT_EQ(without.data(), with.data());
    EXPECT_STREQ(without.back().name, "sse2");
}

TEST(Kernels, random_bytes_from_a_listing_alphabet_and_beyond)
{
    const std::string alphabet =
        std::string(" \n\t\v\f\r09az.K", 13) + std::string(1, '\0') + "\x80\x8a\xa0\xb0\xb9\xff";
    std::mt19937_64 rng(5);
    for (int i = 0; i < 300; ++i) {
        std::string bytes;
        for (std::size_t j = 0; j < 64 * max_blocks; ++j)
            bytes += i % 2 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
        expect_all_kernels_match(bytes);
    }
}

// The bit idioms that walk the masks and the word operations of the report
// line, against loops over single bits and bytes; line heads are held to
// one above, through the kernels.
TEST(Idioms, mask_and_word_operations_match_loops)
{
    std::mt19937_64 rng(3);
    auto bit = [](std::uint64_t mask, std::size_t i) { return (mask >> i) & 1U; };
    for (int n = 0; n < 4000; ++n) {
        // Dense masks, and sparse ones as real text gives.
        std::uint64_t a = n % 5 == 0 ? 0 : n % 2 ? rng() : rng() & rng() & rng();
        std::uint64_t b = n % 3 ? rng() : rng() | rng();
        std::uint64_t before = rng();
        std::size_t shift = rng() % 64;
        std::uint64_t edges = 0, window = 0;
        for (std::size_t i = 0; i < 64; ++i) {
            std::uint64_t space_before = i == 0 ? bit(before, 63) : bit(b, i - 1);
            edges |= (space_before ^ bit(b, i)) << i;
            window |= (shift + i < 64 ? bit(a, shift + i) : bit(b, shift + i - 64)) << i;
        }
        ASSERT_EQ(simd::word_edges(b, before), edges);
        ASSERT_EQ(simd::funnel(a, b, shift), window) << shift;

        // The walks over three blocks' masks from byte `shift` of the
        // first: a line's length through its newline, the first head up to
        // `last`, and the white space of `size` bytes with its word edges.
        const simd::LineMasks m[3] = {{a, a, a}, {b, b, b}, {before, before, before}};
        auto set = [&](std::size_t i) { return bit(m[i / 64].heads, i % 64) != 0; };
        std::size_t length = shift;
        while (length < 128 && !set(length))
            ++length;
        ASSERT_EQ(simd::through_newline(a, b, shift),
                  length < 128 ? length - shift + 1 : ~std::size_t{0});
        std::size_t last = n % 7 == 0 ? 64 : shift + rng() % 128, head = shift;
        while (head / 64 <= last / 64 && !set(head))
            ++head;
        std::size_t found = simd::first_head(m, shift, last);
        ASSERT_TRUE(head / 64 <= last / 64 ? found == head : found > last) << shift << ' ' << last;
        std::size_t size = rng() % 128, edge = 0;
        simd::LineSpaces line = simd::spaces_window(m, shift, size);
        std::vector<std::size_t> line_edges, walked;
        for (std::size_t i = 0; i <= size; ++i) {
            bool white = i == size || set(shift + i);
            ASSERT_TRUE(i == size || (bit(line.bits[i / 64], i % 64) != 0) == white) << i;
            if ((i == 0 || set(shift + i - 1)) != white)
                line_edges.push_back(i);
        }
        // Half the walks start at a byte of the first block.
        std::size_t from = n % 2 ? 0 : rng() % 64;
        simd::WordEdges walk(line, size);
        walk.drop_before(from);
        while (walk.next(edge))
            walked.push_back(edge);
        std::erase_if(line_edges, [&](std::size_t e) { return e < from; });
        ASSERT_EQ(walked, line_edges) << from;

        auto k = static_cast<unsigned>(rng() % 8);
        // Words with zero bytes, and bytes of 0x80 that look like them.
        std::uint64_t z = b & ~(0xffULL << 8 * (rng() % 8)) & ~(0x7fULL << 8 * (rng() % 8));
        std::uint64_t dropped = 0, filled = 0, zeros = 0;
        for (unsigned i = 0; i < 8; ++i) {
            dropped |= i + k < 8 ? ((b >> 8 * (i + k)) & 0xffU) << 8 * i : 0;
            filled |= (i < k ? std::uint64_t{'x'} : (b >> 8 * i) & 0xffU) << 8 * i;
            zeros |= ((z >> 8 * i) & 0xffU) == 0 ? 0x80ULL << 8 * i : 0;
        }
        ASSERT_EQ(swar::drop_bytes(b, k), dropped) << k;
        ASSERT_EQ(swar::fill_bytes(b, k, 'x'), filled) << k;
        ASSERT_EQ(swar::zero_bytes(z & swar::low7, z | swar::low7), zeros) << z;
    }
    // Every value below 10^8 in eight digits and in its fewest, counted up
    // after a guard digit that takes the last carry; in eight again with a
    // digit spoilt by a byte beside the digits or with a top bit to borrow
    // or carry, which leaves the value.
    char text[24] = "000000000", *eight = text + 1;
    for (std::uint64_t value = 0, whole = 0, fewest = 0, digits = 1; value < swar::eight_digit_base;
         ++value) {
        ASSERT_TRUE(swar::parse_digits(eight, 8, whole) && whole == value &&
                    swar::parse_digits(eight + 8 - digits, digits, fewest) && fewest == value)
            << eight;
        char digit = std::exchange(eight[value % 8], "/:\0\x80\xaf\xb9\xfa\xff"[value / 8 % 8]);
        ASSERT_FALSE(swar::parse_digits(eight, 8, whole) || whole != value) << visible({eight, 8});
        eight[value % 8] = digit;
        for (std::size_t i = 7; ++eight[i] > '9'; --i) {
            eight[i] = '0';
            digits = std::max<std::uint64_t>(digits, 9 - i);
        }
    }
}

} // namespace

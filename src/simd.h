// SPDX-License-Identifier: MIT
// Byte classification, the one place that knows instruction sets, and the
// bit idioms that walk its masks.
//
// The reader and the scanner never look at bytes one by one on their hot
// paths: a kernel turns 64-byte blocks into bit masks, where bit i
// describes byte i, and they walk the masks. Each kernel computes the same
// masks with the widest compares its processor has; the portable one does
// it in plain C++ on 64-bit words, so any compiler builds it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "contract.h"

namespace simd {

// The bytes of a classified block: one bit of each mask word a byte.
constexpr std::size_t block_bytes = 64;

// What the line reader needs of a block: where lines end, the white space,
// and where the lines start that are neither indented nor empty, the only
// ones a listing's walk stops at.
struct LineMasks {
    std::uint64_t newlines;
    std::uint64_t spaces; // " \t\n\v\f\r"
    std::uint64_t heads;  // the byte after a newline, neither a space nor a newline
};

// The white space of one line, bit i for byte i; bits past the line mean
// nothing. A line fits when the byte after it is still in the mask, as
// that is where its last word ends.
struct LineSpaces {
    std::uint64_t bits[2];
    static constexpr std::size_t max_bytes = 8 * sizeof bits - 1;
};

struct Kernel {
    const char* name; // for the tests, whose failure messages name the kernel
    // Classifies the `blocks` 64-byte blocks at `p` into `out[0, blocks)`,
    // with no newline before the first (its first byte is no line head), and
    // tells whether any of their bytes is a NUL.
    bool (*classify_lines)(const char* p, std::size_t blocks, LineMasks* out);
};

// The kernels of a processor with AVX2 or without, slowest first: what
// `available_kernels` gives, apart so that the tests see both lists.
std::span<const Kernel> kernels_for(bool has_avx2);

// Every kernel this processor runs, the fastest last: the reader takes that
// one, and the tests hold each to a byte loop. The processor is asked on
// each call, from what the run-time learnt at start-up: cheap, and no state
// here.
std::span<const Kernel> available_kernels();

// ---- bit idioms on the masks, each held to a bit loop in the tests ----

// Bit i is bit i - 1 of `mask`; bit 0 is the top bit of `before`, the mask
// of the 64 bytes before.
constexpr std::uint64_t shifted_in(std::uint64_t mask, std::uint64_t before)
{
    return mask << 1 | before >> 63;
}

// The starts of lines that are neither indented nor empty: the byte after a
// newline that is neither a blank (' ') nor a newline.
constexpr std::uint64_t line_heads(std::uint64_t newlines, std::uint64_t blanks,
                                   std::uint64_t newlines_before)
{
    return shifted_in(newlines, newlines_before) & ~(newlines | blanks);
}

// Where words start and end in a white-space mask, in turn: a byte that is
// not white space after one that is, or the other way round. `before` as for
// `shifted_in`.
constexpr std::uint64_t word_edges(std::uint64_t spaces, std::uint64_t before)
{
    return spaces ^ shifted_in(spaces, before);
}

// The 64 bits from bit `shift` (0 to 63) of the 128 of `low` and `high`.
// Two shifts stand for one by 64 - shift, which is undefined when shift is 0.
constexpr std::uint64_t funnel(std::uint64_t low, std::uint64_t high, std::size_t shift)
{
    VOLREPORT_EXPECTS(shift < block_bytes);
    return low >> shift | (high << 1) << (63 - shift);
}

// The index of the lowest set bit of `mask`, which is not 0: without the
// test for 0 that std::countr_zero adds.
constexpr std::size_t lowest_bit(std::uint64_t mask)
{
    VOLREPORT_EXPECTS(mask != 0);
    return static_cast<std::size_t>(__builtin_ctzll(mask));
}

// The length of a line that starts at byte `shift` of a block, through its
// newline, from the newlines of that block and the next; ~0 when neither
// holds it.
constexpr std::size_t through_newline(std::uint64_t block, std::uint64_t next, std::size_t shift)
{
    VOLREPORT_EXPECTS(shift < block_bytes);
    std::uint64_t bits = block >> shift;
    if (bits != 0)
        return lowest_bit(bits) + 1;
    if (next != 0)
        return block_bytes - shift + 1 + lowest_bit(next);
    return ~std::size_t{0};
}

// The white space of the `size` bytes from byte `shift` of the block whose
// masks `masks` points at. The next block's masks are loaded always, the
// one after only when the bytes reach it.
inline LineSpaces spaces_window(const LineMasks* masks, std::size_t shift, std::size_t size)
{
    VOLREPORT_EXPECTS(size <= LineSpaces::max_bytes);
    std::uint64_t first = masks[0].spaces;
    std::uint64_t second = masks[1].spaces;
    std::uint64_t third = shift + size > 2 * block_bytes ? masks[2].spaces : 0;
    return {{funnel(first, second, shift), funnel(second, third, shift)}};
}

// The first line head at or after byte `from` of the blocks `masks`
// describes, looking no further than the block that holds byte `last`; a
// position past `last` when there is none by then.
inline std::size_t first_head(const LineMasks* masks, std::size_t from, std::size_t last)
{
    std::size_t block = from / block_bytes;
    std::uint64_t heads = masks[block].heads & (~std::uint64_t{0} << (from % block_bytes));
    while (heads == 0 && (block + 1) * block_bytes <= last)
        heads = masks[++block].heads;
    return block * block_bytes + static_cast<std::size_t>(std::countr_zero(heads));
}

// Where the words of a line start and end, in turn, taken from its white
// space. The bytes past the line count as white space, and so does the
// byte before it, so that every word starts and ends inside the line.
struct WordEdges {
    std::uint64_t bits[2];

    WordEdges(const LineSpaces& spaces, std::size_t size)
    {
        VOLREPORT_EXPECTS(size <= LineSpaces::max_bytes);
        constexpr std::uint64_t all = ~std::uint64_t{0};
        std::uint64_t low = size >= block_bytes ? spaces.bits[0] : spaces.bits[0] | all << size;
        std::uint64_t high =
            size >= block_bytes ? spaces.bits[1] | all << (size - block_bytes) : all;
        bits[0] = word_edges(low, all);
        bits[1] = word_edges(high, low);
    }

    // Drops the edges before `position`, which is in the first block.
    void drop_before(std::size_t position)
    {
        VOLREPORT_EXPECTS(position < block_bytes);
        bits[0] &= ~std::uint64_t{0} << position;
    }

    // Takes the next edge; false when there is none.
    bool next(std::size_t& position)
    {
        if (bits[0] != 0) {
            position = lowest_bit(bits[0]);
            bits[0] &= bits[0] - 1;
            return true;
        }
        if (bits[1] == 0)
            return false;
        position = block_bytes + lowest_bit(bits[1]);
        bits[1] &= bits[1] - 1;
        return true;
    }
};

} // namespace simd

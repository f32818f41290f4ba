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

#include <cstddef>
#include <cstdint>
#include <span>

namespace simd {

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
std::span<const Kernel* const> kernels_for(bool has_avx2);

// The fastest kernel this processor runs. The processor is asked on each
// call, from what the run-time learnt at start-up: cheap, and no state here.
const Kernel& best_kernel();

// Every kernel this processor runs: the tests hold each of them to a byte
// loop.
std::span<const Kernel* const> available_kernels();

// ---- bit idioms on the masks, each held to a bit loop in the tests ----

// Bit i is bit i - 1 of `mask`; bit 0 is the top bit of `before`, the mask
// of the 64 bytes before.
constexpr std::uint64_t shifted_in(std::uint64_t mask, std::uint64_t before)
{
    return mask << 1 | before >> 63;
}

// The starts of lines that are neither indented nor empty: the byte after a
// newline that is neither a space nor a newline.
constexpr std::uint64_t line_heads(std::uint64_t newlines, std::uint64_t spaces,
                                   std::uint64_t newlines_before)
{
    return shifted_in(newlines, newlines_before) & ~(newlines | spaces);
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
    return low >> shift | (high << 1) << (63 - shift);
}

} // namespace simd

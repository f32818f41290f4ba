// SPDX-License-Identifier: MIT
// Byte classification, the one place that knows instruction sets.
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

// What the line reader needs of a block: where lines end, and which bytes
// are spaces, the first byte of an indented line.
struct LineMasks {
    std::uint64_t newlines;
    std::uint64_t blanks; // ' ' only
};

// The white space of one line of at most `max_bytes` bytes, bit i for
// byte i; bits past the line mean nothing. The bit after the line, where
// its last word ends, is in the mask too.
struct LineSpaces {
    static constexpr std::size_t max_bytes = 127;
    std::uint64_t bits[(max_bytes + 1) / 64];
};

struct Kernel {
    const char* name;
    // Classifies the `blocks` 64-byte blocks at `p` into `out[0, blocks)`
    // and tells whether any of their bytes is below 14 but not a newline:
    // a NUL, or white space that the masks do not show.
    bool (*classify_lines)(const char* p, std::size_t blocks, LineMasks* out);
    // Marks the white space (" \t\n\v\f\r") of the `blocks` 64-byte blocks
    // at `p` in `out[0, blocks)`.
    void (*classify_spaces)(const char* p, std::size_t blocks, std::uint64_t* out);
};

// The fastest kernel this processor runs. Chosen once; cheap to call.
const Kernel& best_kernel();

// Every kernel this processor runs, the portable one first: the tests hold
// each of them to a byte loop.
std::span<const Kernel* const> available_kernels();

} // namespace simd

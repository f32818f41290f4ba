// SPDX-License-Identifier: MIT
// The kernels: portable, SSE2 and AVX2 on x86-64, NEON on aarch64. Each
// computes bit i of a mask from byte i of a 64-byte block; the vector ones
// share one loop and differ only in their primitives. VOLREPORT_SIMD=0
// leaves the portable kernel alone.
#include "simd.h"

#include <cstring>
#include <iterator>

#include "swar.h"

#if !defined(VOLREPORT_SIMD)
#define VOLREPORT_SIMD 1
#endif
#if VOLREPORT_SIMD && defined(__x86_64__)
// Every x86-64 processor has SSE2; AVX2 is chosen at run time, so the
// build needs no flag for it.
#define VOLREPORT_SSE2 1
#define VOLREPORT_AVX2 1
#include <immintrin.h>
#endif
#if VOLREPORT_SIMD && defined(__aarch64__) && defined(__ARM_NEON)
#define VOLREPORT_NEON 1
#include <arm_neon.h>
#endif

namespace simd {
namespace {

// ---- portable: eight bytes at a time in a 64-bit word ----
namespace portable {

using namespace swar;

// Transposes the 8x8 bit matrix whose row r is byte r: bit 8r + c moves to
// bit 8c + r, in three rounds of swaps.
std::uint64_t transpose(std::uint64_t x)
{
    std::uint64_t t = (x ^ (x >> 7)) & 0x00aa00aa00aa00aa;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000cccc0000cccc;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000f0f0f0f0;
    return x ^ t ^ (t << 28);
}

// A block's mask from the top bits of its eight words: word i's bits are
// laid side by side as bit i of each byte, and one transpose puts byte j of
// word i at bit 8i + j, fewer steps than gathering each word's bits apart.
struct Gather {
    std::uint64_t bits = 0;
    void add(std::uint64_t top_bits, std::size_t i) { bits |= top_bits >> (7 - i); }
    std::uint64_t mask() const { return transpose(bits); }
};

bool classify_lines(const char* p, std::size_t blocks, LineMasks* out)
{
    // The first pass keeps no value from one block to the next, so that
    // the compiler can take several blocks at once; it leaves the top bits
    // of bytes below 14 other than newlines where the heads go.
    for (std::size_t b = 0; b < blocks; ++b) {
        Gather newlines;
        Gather blanks;
        std::uint64_t controls = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            // A byte equal to a value is a zero byte after an exclusive or
            // with it, which leaves the top bits as they are.
            std::uint64_t x = load8(p + 64 * b + 8 * i);
            std::uint64_t low = x & low7;
            std::uint64_t top = x | low7;
            std::uint64_t newline = zero_bytes(low ^ broadcast('\n'), top);
            newlines.add(newline, i);
            blanks.add(zero_bytes(low ^ broadcast(' '), top), i);
            controls |= ~((low + broadcast(0x80 - 14)) | top | newline);
        }
        // The blanks stand where the white space goes until the second pass.
        out[b] = {newlines.mask(), blanks.mask(), controls & high};
    }
    std::uint64_t nuls = 0;
    std::uint64_t before = 0; // no newline before the first block
    for (std::size_t b = 0; b < blocks; ++b) {
        LineMasks& m = out[b];
        std::uint64_t controls = m.heads;
        m.heads = line_heads(m.newlines, m.spaces, before);
        m.spaces |= m.newlines;
        before = m.newlines;
        // Tabs, carriage returns and NULs are rare.
        if (controls != 0) [[unlikely]] {
            Gather white;
            for (std::size_t i = 0; i < 8; ++i) {
                std::uint64_t x = load8(p + 64 * b + 8 * i);
                white.add(bytes_between<'\t', '\r'>(x), i);
                nuls |= zero_bytes(x & low7, x | low7);
            }
            m.spaces |= white.mask();
        }
    }
    return (nuls & high) != 0;
}

} // namespace portable

// ---- the vector kernels: one loop over the primitives of each ----

// The masks of `blocks` 64-byte blocks, from the vectors `Isa::Bytes` of an
// instruction set. Loads, compares and the least byte are written once in
// the compilers' vector extension; `Isa` gives only what that cannot say:
// how compare results become a bit mask and, where it has a faster one,
// the white-space test. Vectors pass by reference, as none may pass by
// value between this loop, built for no processor in particular, and an
// AVX2 primitive.
template <class Isa>
[[gnu::always_inline]] inline bool classify_blocks(const char* p, std::size_t blocks,
                                                   LineMasks* out)
{
    using Bytes = typename Isa::Bytes;
    constexpr std::size_t count = block_bytes / sizeof(Bytes);
    Bytes least = Bytes{} - 1;
    std::uint64_t before = 0; // no newline before the first block
    for (std::size_t b = 0; b < blocks; ++b, p += block_bytes) {
        Bytes newline[count], blank[count], white[count];
        for (std::size_t i = 0; i < count; ++i) {
            Bytes x;
            std::memcpy(&x, p + sizeof x * i, sizeof x);
            least = x < least ? x : least;
            newline[i] = x == '\n';
            blank[i] = x == ' ';
            // A space, or \t to \r: at most 4 past \t, unsigned.
            if constexpr (requires { Isa::white(x, white[i]); })
                Isa::white(x, white[i]);
            else
                white[i] = blank[i] | (x - '\t' <= 4);
        }
        std::uint64_t newlines = Isa::gather(newline);
        out[b] = {newlines, Isa::gather(white), line_heads(newlines, Isa::gather(blank), before)};
        before = newlines;
    }
    Bytes nul[count] = {least == 0};
    return Isa::gather(nul) != 0;
}

#if defined(VOLREPORT_SSE2)
// ---- SSE2: four 16-byte vectors a block ----
struct Sse2 {
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    static std::uint64_t gather(const Bytes (&found)[4])
    {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i)
            bits |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(__m128i(found[i])))}
                    << (16 * i);
        return bits;
    }
};

#endif

#if defined(VOLREPORT_AVX2)
// ---- AVX2: two 32-byte vectors a block ----
struct Avx2 {
    using Bytes = std::uint8_t __attribute__((vector_size(32)));
    [[gnu::target("avx2")]] static std::uint64_t gather(const Bytes (&found)[2])
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(__m256i(found[0]))) |
               std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(__m256i(found[1])))}
                   << 32;
    }
    // Each of " \t\n\v\f\r" has low four bits of its own: a byte is white
    // space when the entry for its low four bits is the byte itself. Bytes
    // of 128 and above look up 0, which is none of them.
    [[gnu::target("avx2")]] static void white(const Bytes& v, Bytes& found)
    {
        const __m256i table = _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n',
                                               '\v', '\f', '\r', -1, -1, ' ', -1, -1, -1, -1, -1,
                                               -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1);
        found = Bytes(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, __m256i(v)), __m256i(v)));
    }
};

// The loop built for AVX2, with every primitive inlined in it.
[[gnu::target("avx2"), gnu::flatten]] bool classify_avx2(const char* p, std::size_t blocks,
                                                         LineMasks* out)
{
    return classify_blocks<Avx2>(p, blocks, out);
}

#endif

#if defined(VOLREPORT_NEON)
// ---- NEON: four 16-byte vectors a block ----
struct Neon {
    using Bytes = std::uint8_t __attribute__((vector_size(16)));
    // NEON has no byte mask move: each compare result keeps one bit of a
    // weight per byte, and three rounds of pairwise additions pack the 64
    // bytes into one 64-bit word.
    static std::uint64_t gather(const Bytes (&found)[4])
    {
        const Bytes weight = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        uint8x16_t sum[4];
        for (std::size_t i = 0; i < 4; ++i)
            sum[i] = uint8x16_t(found[i] & weight);
        uint8x16_t all = vpaddq_u8(vpaddq_u8(sum[0], sum[1]), vpaddq_u8(sum[2], sum[3]));
        return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(all, all)), 0);
    }
};

#endif

// Portable first, fastest last, and AVX2, when the build has it, at the
// very end so that a processor without it takes the list one short.
constexpr Kernel all_kernels[] = {
    {"portable", portable::classify_lines},
#if defined(VOLREPORT_SSE2)
    {"sse2", classify_blocks<Sse2>},
#endif
#if defined(VOLREPORT_NEON)
    {"neon", classify_blocks<Neon>},
#endif
#if defined(VOLREPORT_AVX2)
    {"avx2", classify_avx2},
#endif
};

} // namespace

std::span<const Kernel> kernels_for([[maybe_unused]] bool has_avx2)
{
#if defined(VOLREPORT_AVX2)
    static_assert(all_kernels[std::size(all_kernels) - 1].classify_lines == classify_avx2,
                  "without AVX2 the list is taken one short");
    if (!has_avx2)
        return {all_kernels, std::size(all_kernels) - 1};
#endif
    return all_kernels;
}

std::span<const Kernel> available_kernels()
{
#if defined(VOLREPORT_AVX2)
    return kernels_for(__builtin_cpu_supports("avx2") != 0);
#else
    return kernels_for(false);
#endif
}

} // namespace simd

// SPDX-License-Identifier: MIT
// The kernels: portable, SSE2 and AVX2 on x86-64, NEON on aarch64. Each
// computes bit i of a mask from byte i of a 64-byte block; only the compares
// differ. VOLREPORT_SIMD=0 leaves the portable kernel alone.
#include "simd.h"

#include <iterator>

#include "swar.h"

#if !defined(VOLREPORT_SIMD)
#define VOLREPORT_SIMD 1
#endif
#if VOLREPORT_SIMD && defined(__x86_64__) && defined(__SSE2__)
#define VOLREPORT_SSE2 1
#include <emmintrin.h>
#if defined(__GNUC__) || defined(__clang__)
// AVX2 is chosen at run time, so the build needs no flag for it.
#define VOLREPORT_AVX2 1
#include <immintrin.h>
#endif
#endif
#if VOLREPORT_SIMD && defined(__aarch64__) && defined(__ARM_NEON)
#define VOLREPORT_NEON 1
#include <arm_neon.h>
#endif

namespace simd {
namespace {

// ---- portable: eight bytes at a time in a 64-bit word ----
namespace portable {

using swar::broadcast;
using swar::high;
using swar::load8;
using swar::low7;

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

// The white space below 14 of a block, and the top bits of its NULs: rare,
// so out of line, where it keeps the common pass's values in registers.
struct Controls {
    std::uint64_t spaces;
    std::uint64_t nuls;
};
[[gnu::noinline]] Controls controls_of(const char* p)
{
    Gather spaces;
    std::uint64_t nuls = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint64_t x = load8(p + 8 * i);
        spaces.add(swar::bytes_between<'\t', '\r'>(x), i);
        nuls |= ~(((x & low7) + low7) | x | low7);
    }
    return {spaces.mask(), nuls & high};
}

bool classify_lines(const char* p, std::size_t blocks, LineMasks* out)
{
    // The first pass keeps no value from one block to the next, so that
    // the compiler can take several blocks at once; it leaves the top bits
    // of bytes below 14 other than newlines where the heads go.
    for (std::size_t b = 0; b < blocks; ++b) {
        Gather newlines;
        Gather spaces;
        std::uint64_t controls = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            // The tests for one byte value share the word's low seven bits
            // and its top bits: a test for a zero byte after an exclusive or
            // with the value. Exact: no carry crosses bytes, since the low
            // seven bits are added apart from the top one.
            std::uint64_t x = load8(p + 64 * b + 8 * i);
            std::uint64_t low = x & low7;
            std::uint64_t top = x | low7;
            std::uint64_t newline = ~(((low ^ broadcast('\n')) + low7) | top);
            newlines.add(newline, i);
            spaces.add(~(((low ^ broadcast(' ')) + low7) | top), i);
            controls |= ~((low + broadcast(0x80 - 14)) | top | newline);
        }
        out[b] = {newlines.mask(), spaces.mask(), controls & high};
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
        if (controls != 0) {
            Controls rare = controls_of(p + 64 * b);
            m.spaces |= rare.spaces;
            nuls |= rare.nuls;
        }
    }
    return nuls != 0;
}

} // namespace portable

constexpr Kernel portable_kernel{"portable", portable::classify_lines};

#if defined(VOLREPORT_SSE2)
// ---- SSE2: four 16-byte compares per block ----
namespace sse2 {

std::uint64_t bits(__m128i hits, std::size_t i)
{
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << (16 * i);
}

bool classify_lines(const char* p, std::size_t blocks, LineMasks* out)
{
    __m128i least = _mm_set1_epi8(-1);
    std::uint64_t before = 0; // no newline before the first block
    for (std::size_t b = 0; b < blocks; ++b, p += 64) {
        std::uint64_t newlines = 0;
        std::uint64_t spaces = 0;
        std::uint64_t whites = 0;
        // Unrolled, so that the shifts of the masks are constants.
#pragma GCC unroll 4
        for (std::size_t i = 0; i < 4; ++i) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            __m128i space = _mm_cmpeq_epi8(x, _mm_set1_epi8(' '));
            // \t to \r: at most 4 past \t, by an unsigned minimum.
            __m128i tab = _mm_sub_epi8(x, _mm_set1_epi8('\t'));
            __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(tab, _mm_set1_epi8(4)), tab);
            newlines |= bits(_mm_cmpeq_epi8(x, _mm_set1_epi8('\n')), i);
            spaces |= bits(space, i);
            whites |= bits(_mm_or_si128(space, control), i);
            least = _mm_min_epu8(least, x);
        }
        out[b] = {newlines, whites, line_heads(newlines, spaces, before)};
        before = newlines;
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128())) != 0;
}

} // namespace sse2

constexpr Kernel sse2_kernel{"sse2", sse2::classify_lines};
#endif

#if defined(VOLREPORT_AVX2)
// ---- AVX2: two 32-byte compares per block ----
namespace avx2 {

[[gnu::target("avx2")]] inline std::uint64_t bits(__m256i hits, std::size_t i)
{
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hits)))
           << (32 * i);
}

[[gnu::target("avx2")]] bool classify_lines(const char* p, std::size_t blocks, LineMasks* out)
{
    // Each of " \t\n\v\f\r" has low four bits of its own: a byte is white
    // space when the entry for its low four bits is the byte itself. Bytes
    // of 128 and above look up 0, which is none of them.
    const __m256i white_table =
        _mm256_setr_epi8(' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1,
                         ' ', -1, -1, -1, -1, -1, -1, -1, -1, '\t', '\n', '\v', '\f', '\r', -1, -1);
    __m256i least = _mm256_set1_epi8(-1);
    std::uint64_t before = 0; // no newline before the first block
    for (std::size_t b = 0; b < blocks; ++b, p += 64) {
        std::uint64_t newlines = 0;
        std::uint64_t spaces = 0;
        std::uint64_t whites = 0;
#pragma GCC unroll 2
        for (std::size_t i = 0; i < 2; ++i) {
            __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
            newlines |= bits(_mm256_cmpeq_epi8(x, _mm256_set1_epi8('\n')), i);
            spaces |= bits(_mm256_cmpeq_epi8(x, _mm256_set1_epi8(' ')), i);
            whites |= bits(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(white_table, x), x), i);
            least = _mm256_min_epu8(least, x);
        }
        out[b] = {newlines, whites, line_heads(newlines, spaces, before)};
        before = newlines;
    }
    return _mm256_movemask_epi8(_mm256_cmpeq_epi8(least, _mm256_setzero_si256())) != 0;
}

} // namespace avx2

constexpr Kernel avx2_kernel{"avx2", avx2::classify_lines};
#endif

#if defined(VOLREPORT_NEON)
// ---- NEON: four 16-byte compares per block ----
namespace neon {

// NEON has no byte mask move: each compare result keeps one bit of a
// weight per byte, and three rounds of pairwise additions pack the 64
// bytes into one 64-bit word.
std::uint64_t bits(uint8x16_t m0, uint8x16_t m1, uint8x16_t m2, uint8x16_t m3)
{
    const uint8x16_t weight = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    uint8x16_t sum0 = vpaddq_u8(vandq_u8(m0, weight), vandq_u8(m1, weight));
    uint8x16_t sum1 = vpaddq_u8(vandq_u8(m2, weight), vandq_u8(m3, weight));
    sum0 = vpaddq_u8(sum0, sum1);
    sum0 = vpaddq_u8(sum0, sum0);
    return vgetq_lane_u64(vreinterpretq_u64_u8(sum0), 0);
}

bool classify_lines(const char* p, std::size_t blocks, LineMasks* out)
{
    uint8x16_t least = vdupq_n_u8(0xff);
    std::uint64_t before = 0; // no newline before the first block
    for (std::size_t b = 0; b < blocks; ++b, p += 64) {
        uint8x16_t newline[4];
        uint8x16_t space[4];
        uint8x16_t white[4];
        for (std::size_t i = 0; i < 4; ++i) {
            uint8x16_t x = vld1q_u8(reinterpret_cast<const std::uint8_t*>(p + 16 * i));
            newline[i] = vceqq_u8(x, vdupq_n_u8('\n'));
            space[i] = vceqq_u8(x, vdupq_n_u8(' '));
            // \t to \r: at most 4 past \t.
            white[i] = vorrq_u8(space[i], vcleq_u8(vsubq_u8(x, vdupq_n_u8('\t')), vdupq_n_u8(4)));
            least = vminq_u8(least, x);
        }
        std::uint64_t newlines = bits(newline[0], newline[1], newline[2], newline[3]);
        out[b] = {newlines, bits(white[0], white[1], white[2], white[3]),
                  line_heads(newlines, bits(space[0], space[1], space[2], space[3]), before)};
        before = newlines;
    }
    return vminvq_u8(least) == 0;
}

} // namespace neon

constexpr Kernel neon_kernel{"neon", neon::classify_lines};
#endif

// Portable first, fastest last, and AVX2, when the build has it, at the
// very end so that a processor without it takes the list one short.
constexpr const Kernel* all_kernels[] = {
    &portable_kernel,
#if defined(VOLREPORT_SSE2)
    &sse2_kernel,
#endif
#if defined(VOLREPORT_NEON)
    &neon_kernel,
#endif
#if defined(VOLREPORT_AVX2)
    &avx2_kernel,
#endif
};

} // namespace

std::span<const Kernel* const> available_kernels()
{
#if defined(VOLREPORT_AVX2)
    if (!__builtin_cpu_supports("avx2"))
        return {all_kernels, std::size(all_kernels) - 1};
#endif
    return all_kernels;
}

const Kernel& best_kernel()
{
    return *available_kernels().back();
}

} // namespace simd

// SPDX-License-Identifier: MIT
// Byte work on eight bytes at once in a 64-bit word, for any processor: the
// load that puts byte i of memory in byte i of the word counted from the low
// end, byte range tests, and eight decimal digits checked and parsed or
// formatted at once. The portable kernel, the scanner and the report line
// share these, so that none of them holds bit tricks of its own.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "contract.h"

namespace swar {

constexpr std::uint64_t ones = 0x0101010101010101;
constexpr std::uint64_t high = 0x8080808080808080;
constexpr std::uint64_t low7 = ~high;

// Every byte of the word set to `c`.
constexpr std::uint64_t broadcast(unsigned char c)
{
    return ones * c;
}

// The 8 bytes at `p`, byte i of memory in byte i of the word.
inline std::uint64_t load8(const char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

// Stores `word` at `p` the way `load8` reads it.
inline void store8(char* p, std::uint64_t word)
{
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    std::memcpy(p, &word, 8);
}

// The top bit of each zero byte of a word, from its low seven bits `low`
// (word & low7) and `top` (word | low7), which tests of several values can
// share. The low seven bits are added apart from the top one, so no carry
// crosses bytes.
constexpr std::uint64_t zero_bytes(std::uint64_t low, std::uint64_t top)
{
    return ~((low + low7) | top);
}

// The top bit of each byte in [lo, hi]. The low seven bits are added apart
// from the top one, so no carry crosses bytes.
template <unsigned lo, unsigned hi>
constexpr std::uint64_t bytes_between(std::uint64_t x)
{
    static_assert(0 < lo && lo <= hi && hi < 127, "the sums stay within a byte's low bits");
    std::uint64_t y = x & low7;
    std::uint64_t from_lo = y + broadcast(static_cast<unsigned char>(0x80 - lo));
    std::uint64_t past_hi = y + broadcast(static_cast<unsigned char>(0x80 - hi - 1));
    return from_lo & ~past_hi & ~x & high;
}

// Numbers are parsed and written in blocks of eight decimal digits.
constexpr std::uint64_t eight_digit_base = 100000000;

// Reads the `n` bytes at `p` (1 to 8) as decimal digits into `value`;
// false, leaving it, when one is not a digit. Each byte less '0' is moved
// to the top of the word, above zeros that lead as digits, and must then
// be below 10: a byte that was no digit is 10 or more, or has its top bit
// set, and a borrow or carry out of it reaches only the bytes after it.
// The digits are combined in pairs, fours and eights by three
// multiplications. Loads 8 bytes.
inline bool parse_digits(const char* p, std::size_t n, std::uint64_t& value)
{
    VOLREPORT_EXPECTS(n >= 1 && n <= 8);
    std::uint64_t word = (load8(p) - broadcast('0')) << (8 * (8 - n));
    if (((word | (word + broadcast(0x80 - 10))) & high) != 0)
        return false;
    word = word * 10 + (word >> 8);
    value = (((word & 0x000000ff000000ff) * (100 + (1000000ULL << 32))) +
             (((word >> 16) & 0x000000ff000000ff) * (1 + (10000ULL << 32)))) >>
            32;
    return true;
}

// The most digits parsed from word loads: two blocks of eight, which
// always fit 64 bits.
constexpr std::size_t most_word_digits = 16;

// Reads the `n` bytes at `p` (1 to `most_word_digits`) as decimal digits
// into `value`, in one or two blocks of eight; false, leaving it, when one
// is not a digit. Loads 16 bytes.
inline bool parse_up_to_16_digits(const char* p, std::size_t n, std::uint64_t& value)
{
    VOLREPORT_EXPECTS(n >= 1 && n <= most_word_digits);
    if (n <= 8)
        return parse_digits(p, n, value);
    std::uint64_t upper = 0;
    std::uint64_t lower = 0;
    if (!parse_digits(p, n - 8, upper) || !parse_digits(p + n - 8, 8, lower))
        return false;
    value = upper * eight_digit_base + lower;
    return true;
}

// The eight decimal digits of `value` (below `eight_digit_base`) as byte
// values 0 to 9, the first digit in the lowest byte: the number is split
// into halves, quarters and digits in the lanes of one word, each division
// a multiplication and a shift that is exact in the lane's range.
constexpr std::uint64_t eight_digits(std::uint64_t value)
{
    VOLREPORT_EXPECTS(value < eight_digit_base);
    std::uint64_t halves = (value / 10000) | ((value % 10000) << 32);
    std::uint64_t hundreds = ((halves * 5243) >> 19) & 0x0000007f0000007f;
    std::uint64_t quarters = hundreds | ((halves - hundreds * 100) << 16);
    std::uint64_t tens = ((quarters * 103) >> 10) & 0x000f000f000f000f;
    return tens | ((quarters - tens * 10) << 8);
}

// How many of the eight digits of `eight_digits` lead with zero, at most
// seven: a zero keeps its last digit.
constexpr unsigned leading_zeros(std::uint64_t digits)
{
    return static_cast<unsigned>(std::countr_zero(digits | (std::uint64_t{1} << 56))) / 8;
}

// `word` without its first `n` bytes (0 to 7): the rest moves down.
constexpr std::uint64_t drop_bytes(std::uint64_t word, unsigned n)
{
    VOLREPORT_EXPECTS(n < 8);
    return word >> (8 * n);
}

// `word` with its first `n` bytes (0 to 7) set to `c`.
constexpr std::uint64_t fill_bytes(std::uint64_t word, unsigned n, unsigned char c)
{
    VOLREPORT_EXPECTS(n < 8);
    std::uint64_t first = (std::uint64_t{1} << (8 * n)) - 1;
    return (word & ~first) | (broadcast(c) & first);
}

} // namespace swar

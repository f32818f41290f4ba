// SPDX-License-Identifier: MIT
// Field scanner for the three line patterns of a volume listing.
//
// The patterns, in the notation of formatted input, are the header
// "%62s%lu%8s%lu K %18s", the first detail line "%126s%14s" and the quota
// "%lu K". These functions reproduce that notation's rules exactly: white
// space is " \t\n\v\f\r"; a text field skips white space and takes one to N
// non-space bytes, leaving the rest of a longer word to the next field; a
// number takes an optional sign and at least one digit, a minus negates
// modulo 2^64 and a magnitude above 2^64 - 1 saturates; scanning stops at
// the first field that fails, and the result is the count of fields
// converted. They neither allocate nor do I/O.
//
// Every function may load, and ignore, up to `scan_padding` bytes past the
// end of its text, which must be readable: the line reader's buffer always
// keeps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "simd.h"

constexpr std::size_t scan_padding = 64;

// A text field with room for N bytes and a terminator, and for the scanner
// to copy whole 16-byte pieces.
template <std::size_t N>
struct Word {
    char text[N + 16] = {};
    std::size_t size = 0;

    static constexpr std::size_t capacity = N;
    std::string_view view() const { return {text, size}; }
};

// The fields collected for one volume. A scan overwrites only the fields it
// converts.
struct VolumeRecord {
    Word<62> name;
    std::uint64_t volume_number = 0;
    Word<8> type;
    std::uint64_t size_k = 0;
    Word<18> status;
    Word<126> detail_word_1;
    Word<14> detail_word_2;
    std::uint64_t max_quota_k = 0;
};

constexpr bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Scans a text field of at most N bytes from `text` into `out`, consuming it
// from `text`. False when `text` holds nothing but white space.
template <std::size_t N>
bool scan_word(std::string_view& text, Word<N>& out);

// Scans an unsigned 64-bit decimal number with an optional sign from `text`
// into `out`, consuming it from `text`. False when no digit follows the
// white space and the sign.
bool scan_number(std::string_view& text, std::uint64_t& out);

// Scans a header line; returns the number of fields converted (0 to 5).
int scan_header(std::string_view line, VolumeRecord& record);

// Scans a first detail line; returns the number of words converted (0 to 2).
int scan_first_detail(std::string_view line, VolumeRecord& record);

// The same two scans for a caller that knows the white space of the line,
// at most 127 bytes long: `spaces` marks it, bits past the line ignored.
int scan_header_masked(std::string_view line, simd::Mask128 spaces, VolumeRecord& record);
int scan_first_detail_masked(std::string_view line, simd::Mask128 spaces, VolumeRecord& record);

// Scans the text after "    MaxQuota "; returns 1 when the quota converted.
int scan_quota(std::string_view text, VolumeRecord& record);

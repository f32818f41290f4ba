// SPDX-License-Identifier: MIT
// Field scanner for the three line kinds of a volume listing.
//
// The patterns, in the notation of formatted input, are the header
// "%62s%lu%8s%lu K %18s", the first detail line "%126s%14s" and the quota
// "%lu K" after "    MaxQuota ". The scans reproduce that notation's rules
// exactly: white space is " \t\n\v\f\r"; a text field skips white space and
// takes one to N bytes that are not, leaving the rest of a longer word to
// the next field; a number takes an optional sign and at least one digit, a
// minus negates modulo 2^64 and a magnitude above 2^64 - 1 saturates;
// scanning stops at the first field that fails, and the result is the count
// of fields converted. They neither allocate nor do I/O.
//
// Each scan takes the line, whose type carries the padding that the scans
// may load past it, and, where the caller has it, the line's white space;
// without it, the scan walks the line a byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "line_reader.h"
#include "simd.h"

// Words are copied in whole pieces of this many bytes, which compile to
// vector moves instead of a call.
constexpr std::size_t word_piece = 16;

// A text field of at most N bytes, with room for a terminator and for
// copying it in whole pieces.
template <std::size_t N>
struct Word {
    static constexpr std::size_t capacity = N;
    char text[N + word_piece] = {};
    std::size_t size = 0;

    std::string_view view() const { return {text, size}; }
};

// The fields collected for one volume, with the widths of its text fields.
// A scan overwrites only the fields it converts.
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

// White space as the patterns know it.
constexpr bool is_white(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first bytes of a quota line; its number follows.
constexpr std::string_view quota_prefix = "    MaxQuota ";

// Scans a header line; returns the number of fields converted (0 to 5).
int scan_header(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record);

// Scans a first detail line; returns the number of words converted (0 to 2).
int scan_first_detail(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record);

// Scans the quota of a line that begins with `quota_prefix`; returns 1 when
// it converted.
int scan_quota(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record);

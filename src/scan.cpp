// SPDX-License-Identifier: MIT
#include "scan.h"

#include <bit>
#include <cstring>
#include <limits>

#include "swar.h"

namespace {

// A position in a line, moved field by field over the line's white-space
// mask. Bits of the mask past the line are never trusted.
struct Cursor {
    const char* line;
    std::size_t size;
    const std::uint64_t* spaces;
    std::size_t at = 0;

    // Moves to the next byte that is not white space; false at the end.
    bool skip_space()
    {
        while (at < size) {
            std::uint64_t text = ~spaces[at / 64] >> (at % 64);
            if (text != 0) {
                at += static_cast<std::size_t>(std::countr_zero(text));
                return at < size;
            }
            at = (at | 63) + 1;
        }
        return false;
    }

    // The length of the word at the cursor, cut at `limit` bytes.
    std::size_t word_length(std::size_t limit) const
    {
        std::size_t end = at;
        for (;;) {
            std::uint64_t space = spaces[end / 64] >> (end % 64);
            if (space != 0) {
                end += static_cast<std::size_t>(std::countr_zero(space));
                break;
            }
            end = (end | 63) + 1;
            if (end >= size || end - at >= limit)
                break;
        }
        end = end < size ? end : size;
        return end - at < limit ? end - at : limit;
    }
};

template <std::size_t N>
bool scan_text(Cursor& c, Word<N>& out)
{
    if (!c.skip_space())
        return false;
    std::size_t n = c.word_length(N);
    // Whole 16-byte pieces; the word's array has room for the last one, and
    // the line's padding for the bytes past it.
    for (std::size_t i = 0; i < n; i += 16)
        std::memcpy(out.text + i, c.line + c.at + i, 16);
    out.text[n] = '\0';
    out.size = n;
    c.at += n;
    return true;
}

// The value of the `n` digits at `p`, more than sixteen of them; false when
// it does not fit 64 bits. Leading zeros never count towards that. Out of
// line: no real listing needs it.
[[gnu::noinline]] bool long_number(const char* p, std::size_t n, std::uint64_t& value)
{
    for (; n > 1 && *p == '0'; --n)
        ++p;
    if (n > std::numeric_limits<std::uint64_t>::digits10 + 1)
        return false;
    std::size_t head = (n - 1) % 8 + 1;
    value = swar::parse_digits(p, head);
    for (p += head, n -= head; n > 0; p += 8, n -= 8) {
        if (__builtin_mul_overflow(value, 100000000, &value) ||
            __builtin_add_overflow(value, swar::parse_digits(p, 8), &value))
            return false;
    }
    return true;
}

[[gnu::always_inline]] inline bool scan_number(Cursor& c, std::uint64_t& out)
{
    if (!c.skip_space())
        return false;
    const char* p = c.line + c.at;
    auto left = c.size - c.at;
    bool negative = *p == '-';
    if (negative || *p == '+') {
        ++p;
        --left;
    }
    std::size_t n = swar::digit_run(p, left);
    if (n == 0)
        return false;
    // Up to sixteen digits always fit, in one or two blocks of eight. A
    // value too large saturates, whatever its sign.
    std::uint64_t value = 0;
    if (n <= 8)
        value = swar::parse_digits(p, n);
    else if (n <= 16)
        value = swar::parse_digits(p, n - 8) * 100000000 + swar::parse_digits(p + n - 8, 8);
    else if (!long_number(p, n, value)) {
        value = std::numeric_limits<std::uint64_t>::max();
        negative = false;
    }
    out = negative ? 0 - value : value;
    c.at = static_cast<std::size_t>(p + n - c.line);
    return true;
}

// Room for the white space of a line that comes without it.
using SpacesRoom = std::uint64_t[(max_line_bytes + 63) / 64];

// A cursor at byte `from` of `line`, over the white space the caller gave
// or, without it, that of the line classified into `room`.
Cursor cursor(std::string_view line, const simd::LineSpaces* spaces, SpacesRoom& room,
              std::size_t from)
{
    if (spaces != nullptr)
        return {line.data(), line.size(), spaces->bits, from};
    simd::best_kernel().classify_spaces(line.data(), (line.size() + 63) / 64, room);
    return {line.data(), line.size(), room, from};
}

} // namespace

int scan_header(std::string_view line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    SpacesRoom room;
    Cursor c = cursor(line, spaces, room, 0);
    if (!scan_text(c, record.name))
        return 0;
    if (!scan_number(c, record.volume_number))
        return 1;
    if (!scan_text(c, record.type))
        return 2;
    if (!scan_number(c, record.size_k))
        return 3;
    if (!c.skip_space() || c.line[c.at] != 'K')
        return 4;
    ++c.at;
    return scan_text(c, record.status) ? 5 : 4;
}

int scan_first_detail(std::string_view line, const simd::LineSpaces* spaces,
                      VolumeRecord& record)
{
    SpacesRoom room;
    Cursor c = cursor(line, spaces, room, 0);
    if (!scan_text(c, record.detail_word_1))
        return 0;
    return scan_text(c, record.detail_word_2) ? 2 : 1;
}

int scan_quota(std::string_view line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    SpacesRoom room;
    Cursor c = cursor(line, spaces, room, quota_prefix.size());
    return scan_number(c, record.max_quota_k) ? 1 : 0;
}

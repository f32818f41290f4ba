// SPDX-License-Identifier: MIT
#include "scan.h"

#include <cstring>
#include <limits>

#include "swar.h"

namespace {

// A position in a line of at most `LineSpaces::max_bytes` bytes, moved
// field by field through the line's words, the runs of bytes that are not
// white space. Where the words start and end comes from the line's
// white-space mask, for all its words at once, so that where a field starts
// never waits for the scan of the field before it. [at, end) is what is
// left of the current word: a field that takes only part of a word leaves
// the rest to the next.
struct MaskCursor {
    const char* line;
    simd::WordEdges edges;
    std::size_t at = 0;
    std::size_t end = 0;

    // Moves past white space to the next byte of a word; false when there
    // is none.
    bool skip_space()
    {
        if (at < end)
            return true;
        if (!edges.next(at))
            return false;
        // A word always ends, as white space follows the line.
        edges.next(end);
        return true;
    }

    // Moves to `from`, a byte after white space.
    void skip_to(std::size_t from)
    {
        at = end = from;
        edges.drop_before(from);
    }
};

// The same walk a byte at a time, for the lines without a mask: long ones,
// and those a caller scans without the line reader.
struct ByteCursor {
    const char* line;
    std::size_t size;
    std::size_t at = 0;
    std::size_t end = 0;

    bool skip_space()
    {
        if (at < end)
            return true;
        while (at < size && is_white(line[at]))
            ++at;
        for (end = at; end < size && !is_white(line[end]);)
            ++end;
        return at < size;
    }

    void skip_to(std::size_t from) { at = end = from; }
};

// The fields' scans are inlined, so that the cursor stays in registers.
template <typename Cursor, std::size_t N>
[[gnu::always_inline]] inline bool scan_text(Cursor& c, Word<N>& out)
{
    if (!c.skip_space())
        return false;
    std::size_t n = c.end - c.at < N ? c.end - c.at : N;
    // Whole pieces, the first of them whatever the size, as a word is never
    // empty; the word's array has room for the last one, and the line's
    // padding for the bytes past it.
    static_assert(scan_padding >= word_piece, "a piece past the line stays in its padding");
    std::memcpy(out.text, c.line + c.at, word_piece);
    for (std::size_t i = word_piece; i < n; i += word_piece)
        std::memcpy(out.text + i, c.line + c.at + i, word_piece);
    out.text[n] = '\0';
    out.size = n;
    c.at += n;
    return true;
}

// Parses the number at the start of the `left` bytes at `p` into `out`;
// returns the bytes it took, 0 when there is no number. A byte at a time
// and out of line: only numbers with a sign, more than
// `swar::most_word_digits` digits or more of the word after them come here.
[[gnu::noinline]] std::size_t long_number(const char* p, std::size_t left, std::uint64_t& out)
{
    const std::size_t first = *p == '-' || *p == '+' ? 1 : 0;
    std::uint64_t value = 0;
    bool overflow = false;
    std::size_t n = first;
    for (; n < left && p[n] >= '0' && p[n] <= '9'; ++n)
        overflow |= __builtin_mul_overflow(value, 10, &value) ||
                    __builtin_add_overflow(value, static_cast<unsigned>(p[n] - '0'), &value);
    if (n == first)
        return 0;
    // A value too large saturates, whatever its sign.
    out = overflow ? std::numeric_limits<std::uint64_t>::max() : *p == '-' ? 0 - value : value;
    return n;
}

template <typename Cursor>
[[gnu::always_inline]] inline bool scan_number(Cursor& c, std::uint64_t& out)
{
    if (!c.skip_space())
        return false;
    const char* p = c.line + c.at;
    std::size_t left = c.end - c.at;
    static_assert(scan_padding >= sizeof(std::uint64_t), "a word load past the line stays in it");
    // Most numbers are a word of up to sixteen digits alone: checked and
    // parsed in one pass of word loads, and the next field starts at the
    // next word.
    if (left <= swar::most_word_digits && swar::parse_up_to_16_digits(p, left, out)) {
        c.at = c.end;
        return true;
    }
    std::size_t n = long_number(p, left, out);
    c.at += n;
    return n != 0;
}

// Runs `scan` on a cursor at the start of `line`, over the white space the
// caller gave or, without it, a byte at a time.
template <typename Scan>
[[gnu::always_inline]] inline int scan_line(PaddedLine line, const simd::LineSpaces* spaces,
                                            Scan scan)
{
    if (spaces == nullptr) {
        ByteCursor c{line.text().data(), line.text().size()};
        return scan(c);
    }
    // The edges check that the mask covers the line.
    MaskCursor c{line.text().data(), simd::WordEdges(*spaces, line.text().size())};
    return scan(c);
}

} // namespace

int scan_header(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    return scan_line(
        line, spaces, [&](auto& c) __attribute__((always_inline)) {
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
        });
}

int scan_first_detail(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    return scan_line(
        line, spaces, [&](auto& c) __attribute__((always_inline)) {
            if (!scan_text(c, record.detail_word_1))
                return 0;
            return scan_text(c, record.detail_word_2) ? 2 : 1;
        });
}

int scan_quota(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    return scan_line(
        line, spaces, [&](auto& c) __attribute__((always_inline)) {
            // The quota follows the prefix, which ends in white space.
            VOLREPORT_EXPECTS(line.text().starts_with(quota_prefix));
            c.skip_to(quota_prefix.size());
            return scan_number(c, record.max_quota_k) ? 1 : 0;
        });
}

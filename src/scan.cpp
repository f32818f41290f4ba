// SPDX-License-Identifier: MIT
#include "scan.h"

#include <bit>
#include <cstring>
#include <limits>

#include "swar.h"

namespace {

// A position in a line, moved field by field through the line's words, the
// runs of bytes that are not white space. Where the words start and end
// comes from the line's white-space mask, a window of 128 bits at a time,
// for all the words there at once, so that where a field starts never waits
// for the scan of the field before it. [at, end) is what is left of the
// current word: a field that takes only part of a word leaves the rest to
// the next. Only a cursor for long lines reads past the first window:
// keeping that out of the short lines' one keeps their cursor in registers.
template <bool Long>
struct Cursor {
    static constexpr std::size_t window = 8 * sizeof(simd::LineSpaces::bits);
    static_assert(simd::LineSpaces::max_bytes < window, "a short line ends in one window");

    const char* line;
    const std::uint64_t* spaces; // bit i: byte i is white space
    std::size_t size;
    std::size_t at = 0;
    std::size_t end = 0;
    std::size_t base = 0;                // the first byte of the window
    std::uint64_t before = ~std::uint64_t{0}; // the mask before the window
    std::uint64_t starts[2];             // where the window's words start, and end
    std::uint64_t ends[2];

    Cursor(const char* line, std::size_t size, const std::uint64_t* spaces)
        : line(line), spaces(spaces), size(size)
    {
        read_mask();
    }

    // Moves past white space to the next byte of a word; false when there
    // is none.
    bool skip_space() { return at < end || (next(starts, at) && next(ends, end)); }

  private:
    static constexpr std::uint64_t all = ~std::uint64_t{0};

    // The 64 bits of the mask from byte `from` on. Bytes past the line
    // count as white space, so that every word ends.
    std::uint64_t mask_word(std::size_t from) const
    {
        return from >= size        ? all
               : size - from >= 64 ? spaces[from / 64]
                                   : spaces[from / 64] | (all << (size - from));
    }

    void read_mask()
    {
        std::uint64_t low = mask_word(Long ? base : 0);
        std::uint64_t high = mask_word((Long ? base : 0) + 64);
        starts[0] = simd::word_starts(low, Long ? before : all);
        starts[1] = simd::word_starts(high, low);
        ends[0] = simd::word_ends(low, Long ? before : all);
        ends[1] = simd::word_ends(high, low);
        before = high;
    }

    // Moves to the next window; false past the line.
    [[gnu::noinline]] bool read_more()
    {
        if (base + window > size)
            return false;
        base += window;
        read_mask();
        return true;
    }

    // Takes the lowest position left in `bits`, reading on where needed;
    // false when there is none.
    bool next(std::uint64_t (&bits)[2], std::size_t& position)
    {
        for (;;) {
            if (bits[0] != 0) {
                position = (Long ? base : 0) + static_cast<std::size_t>(std::countr_zero(bits[0]));
                bits[0] &= bits[0] - 1;
                return true;
            }
            if (bits[1] != 0) {
                position =
                    (Long ? base : 0) + 64 + static_cast<std::size_t>(std::countr_zero(bits[1]));
                bits[1] &= bits[1] - 1;
                return true;
            }
            if (!Long || !read_more())
                return false;
        }
    }
};

// The fields' scans are inlined, so that the cursor stays in registers.
template <bool Long, std::size_t N>
[[gnu::always_inline]] inline bool scan_text(Cursor<Long>& c, Word<N>& out)
{
    if (!c.skip_space())
        return false;
    std::size_t n = c.end - c.at < N ? c.end - c.at : N;
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
// it does not fit 64 bits. Out of line: no real listing needs it.
[[gnu::noinline]] bool long_number(const char* p, std::size_t n, std::uint64_t& value)
{
    value = 0;
    for (const char* end = p + n; p != end; ++p) {
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, static_cast<unsigned>(*p - '0'), &value))
            return false;
    }
    return true;
}

template <bool Long>
[[gnu::always_inline]] inline bool scan_number(Cursor<Long>& c, std::uint64_t& out)
{
    if (!c.skip_space())
        return false;
    const char* p = c.line + c.at;
    std::size_t left = c.end - c.at;
    // Most numbers are a word of up to sixteen digits alone; the next
    // field then starts at the next word, known without counting digits.
    if (left <= 16 && swar::all_digits(p, left)) {
        out = swar::parse_up_to_16_digits(p, left);
        c.at = c.end;
        return true;
    }
    bool negative = *p == '-';
    if (negative || *p == '+') {
        ++p;
        --left;
    }
    std::size_t n = swar::digit_run(p, left);
    if (n == 0)
        return false;
    // A value too large saturates, whatever its sign.
    std::uint64_t value = 0;
    if (n <= 16)
        value = swar::parse_up_to_16_digits(p, n);
    else if (!long_number(p, n, value)) {
        value = std::numeric_limits<std::uint64_t>::max();
        negative = false;
    }
    out = negative ? 0 - value : value;
    c.at = static_cast<std::size_t>(p + n - c.line);
    return true;
}

// Runs `scan` on a cursor over a line that no mask came with, or that is
// too long for one: out of line, as listings seldom have them.
template <typename Scan>
[[gnu::noinline]] int scan_classified(std::string_view line, Scan scan)
{
    std::uint64_t spaces[(max_line_bytes + 63) / 64];
    simd::best_kernel().classify_spaces(line.data(), (line.size() + 63) / 64, spaces);
    if (line.size() <= simd::LineSpaces::max_bytes) {
        Cursor<false> c(line.data(), line.size(), spaces);
        return scan(c);
    }
    Cursor<true> c(line.data(), line.size(), spaces);
    return scan(c);
}

// Runs `scan` on a cursor at the start of `line`, over the white space the
// caller gave or, without it, that of the line classified here.
template <typename Scan>
[[gnu::always_inline]] inline int scan_line(PaddedLine line, const simd::LineSpaces* spaces,
                                            Scan scan)
{
    if (spaces == nullptr)
        return scan_classified(line.text(), scan);
    VOLREPORT_EXPECTS(line.text().size() <= simd::LineSpaces::max_bytes);
    Cursor<false> c(line.text().data(), line.text().size(), spaces->bits);
    return scan(c);
}

} // namespace

int scan_header(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    return scan_line(line, spaces, [&](auto& c) __attribute__((always_inline)) {
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

int scan_first_detail(PaddedLine line, const simd::LineSpaces* spaces,
                      VolumeRecord& record)
{
    return scan_line(line, spaces, [&](auto& c) __attribute__((always_inline)) {
        if (!scan_text(c, record.detail_word_1))
            return 0;
        return scan_text(c, record.detail_word_2) ? 2 : 1;
    });
}

int scan_quota(PaddedLine line, const simd::LineSpaces* spaces, VolumeRecord& record)
{
    return scan_line(line, spaces, [&](auto& c) __attribute__((always_inline)) {
        // The prefix's one word, MaxQuota, comes first; the quota is next.
        c.skip_space();
        c.at = c.end;
        return scan_number(c, record.max_quota_k) ? 1 : 0;
    });
}

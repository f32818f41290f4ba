// SPDX-License-Identifier: MIT
// Block reader that hands out the lines of a listing.
//
// A line is what one read of a 1024-byte line buffer takes: at most 1023
// bytes, ending after the first newline. A longer physical line comes out in
// several pieces, and a last line without a newline is a line like any
// other. Bytes are not interpreted, so a line may hold NUL bytes; its text,
// as a terminated string would hold it, ends at the first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "contract.h"
#include "io.h"
#include "simd.h"

constexpr std::size_t max_line_bytes = 1023;

// Input block size: large enough that the read per block costs nothing
// next to scanning it, small enough to stay in the L2 cache.
constexpr std::size_t default_block_size = std::size_t{128} * 1024;
constexpr std::size_t max_block_size = std::size_t{256} * 1024;

// Bytes past a line that the scans may load and ignore.
constexpr std::size_t scan_padding = 64;

// A line of at most `max_line_bytes` bytes with `scan_padding` readable
// bytes after it. Only storage that keeps the padding makes one, and says
// where it ends: the line reader, and the tests' padded copies.
class PaddedLine {
  public:
    PaddedLine() = default;
    PaddedLine(std::string_view text, const char* storage_end)
        : begin(text.data()), length(text.size())
    {
        VOLREPORT_EXPECTS(text.size() <= max_line_bytes &&
                          storage_end - (text.data() + text.size()) >=
                              static_cast<std::ptrdiff_t>(scan_padding));
    }
    std::string_view text() const { return {begin, length}; }

  private:
    static constexpr char no_text[scan_padding] = {};
    const char* begin = no_text;
    std::size_t length = 0;
};

// Each block of buffered data is classified once, when it is read; taking
// lines and passing over indented ones then only walk the masks. Nothing
// depends on what the storage held before `open_line_reader`: every mask
// that a line can load has been written by then.
class LineReader {
    // The buffered data is a partial line kept from the last read, shorter
    // than a line, and one block read behind it, then the padding for the
    // scans, in whole 64-byte blocks.
    static constexpr std::size_t most_data = max_line_bytes - 1 + max_block_size;
    static constexpr std::size_t data_size = (most_data + scan_padding + 63) / 64 * 64;
    // The masks of the blocks of the data, and of the two after them: a
    // line's first block and the next are always loaded.
    static constexpr std::size_t blocks = (most_data + 63) / 64 + 2;
    static_assert(data_size >= most_data + scan_padding, "the padding is in the storage");

    alignas(64) char data[data_size];
    simd::LineMasks masks[blocks]; // masks[i] describes data[64 * i, 64 * i + 64)

    ByteSource source;
    std::size_t block_size; // bytes asked of each read, 1 to `max_block_size`
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    std::size_t final_blocks; // leading blocks of data whose masks no read changes
    bool at_end;              // the source has reported its end; no more reads
    bool may_hold_nul;        // some buffered byte is a NUL

    PaddedLine padded(std::string_view text) const { return {text, data + data_size}; }
    void clear_masks_after(std::size_t used);

    friend void open_line_reader(LineReader& reader, ByteSource source, std::size_t block_size);
    friend bool take_line_slowly(LineReader& reader, PaddedLine& line);
    friend bool take_line(LineReader& reader, PaddedLine& line);
    friend const simd::LineSpaces* line_spaces(const LineReader& reader, PaddedLine line,
                                               simd::LineSpaces& out);
    friend void skip_indented_lines(LineReader& reader);
    friend bool refill(LineReader& reader);
    friend std::string_view unread(const LineReader& reader);
    friend bool source_ended(const LineReader& reader);
};

// Prepares `reader` to read `source` in blocks of `block_size` bytes.
void open_line_reader(LineReader& reader, ByteSource source,
                      std::size_t block_size = default_block_size);

// The bytes read and not yet taken as lines: a line just taken ends where
// they begin.
inline std::string_view unread(const LineReader& reader)
{
    return {reader.begin, static_cast<std::size_t>(reader.end - reader.begin)};
}

// Whether the source has reported its end: no read will add lines.
inline bool source_ended(const LineReader& reader)
{
    return reader.at_end;
}

// A line up to its first NUL byte.
inline std::string_view up_to_nul(std::string_view line)
{
    return line.substr(0, line.find('\0'));
}

// Takes the next line from the bytes already read and gives its text: the
// line up to its first NUL byte, as a terminated string would hold it.
// False when a whole line is not buffered yet: then either the source has
// ended and there are no more lines, or `refill` must be called.
bool take_line_slowly(LineReader& reader, PaddedLine& line);
[[gnu::always_inline]] inline bool take_line(LineReader& reader, PaddedLine& line)
{
    // Most lines end in the block they start in or the next: two mask
    // loads, and a newline past the data (a block's masks may be older
    // than its bytes) fails the size test.
    auto from = static_cast<std::size_t>(reader.begin - reader.data);
    std::size_t block = from / 64;
    std::uint64_t bits = reader.masks[block].newlines >> (from % 64);
    std::uint64_t next = reader.masks[block + 1].newlines;
    std::size_t length = bits != 0 ? static_cast<std::size_t>(std::countr_zero(bits)) + 1
                         : next != 0
                             ? 64 - from % 64 + 1 + static_cast<std::size_t>(std::countr_zero(next))
                             : ~std::size_t{0};
    if (length > static_cast<std::size_t>(reader.end - reader.begin))
        return take_line_slowly(reader, line);
    std::string_view text(reader.begin, length);
    reader.begin += length;
    // NUL bytes are rare enough that a read records only whether it may
    // hold any.
    if (reader.may_hold_nul) [[unlikely]]
        text = up_to_nul(text);
    line = reader.padded(text);
    return true;
}

// The white space of `line`, a line just taken, from the masks of its
// blocks, written to `out`; null when the line is longer than
// `LineSpaces::max_bytes`. A line cut at a NUL keeps the masks of its text.
[[gnu::always_inline]] inline const simd::LineSpaces*
line_spaces(const LineReader& reader, PaddedLine line, simd::LineSpaces& out)
{
    std::string_view text = line.text();
    if (text.size() > simd::LineSpaces::max_bytes)
        return nullptr;
    VOLREPORT_EXPECTS(text.data() >= reader.data && text.data() + text.size() <= reader.end);
    auto from = static_cast<std::size_t>(text.data() - reader.data);
    std::size_t block = from / 64;
    std::size_t shift = from % 64;
    // The masks of a third block only matter when the line reaches it.
    std::uint64_t first = reader.masks[block].spaces;
    std::uint64_t second = reader.masks[block + 1].spaces;
    std::uint64_t third =
        shift + text.size() > 8 * sizeof out.bits ? reader.masks[block + 2].spaces : 0;
    out = {{simd::funnel(first, second, shift), simd::funnel(second, third, shift)}};
    return &out;
}

// Passes over the buffered whole lines that begin with a space or are empty,
// stopping at the first other line or where the buffered data may not hold
// a whole line. Taking those lines one by one gives the same result; this is
// the filter's fast path, since most lines of a listing are indented.
void skip_indented_lines(LineReader& reader);

// Reads one more block from the source. False when the read failed.
bool refill(LineReader& reader);

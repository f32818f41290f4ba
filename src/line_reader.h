// SPDX-License-Identifier: MIT
// Block reader that hands out the lines of a listing.
//
// A line is what one read of a 1024-byte line buffer takes: at most 1023
// bytes, ending after the first newline. A longer physical line comes out in
// several pieces, and a last line without a newline is a line like any
// other. Bytes are not interpreted, so a line may hold NUL bytes; its text,
// as a terminated string would hold it, ends at the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "contract.h"
#include "io.h"
#include "simd.h"

constexpr std::size_t max_line_bytes = 1023;

// Input block size: large enough that the read per block costs nothing
// next to scanning it, small enough to stay in the L2 cache.
constexpr std::size_t default_block_size = std::size_t{128} * 1024;
constexpr std::size_t max_block_size = std::size_t{256} * 1024;

// Bytes past a line that the scans may load and ignore: a mask window
// reaches to the end of the block after the line's last byte, and a word
// copy loads whole pieces past it (scan.h).
constexpr std::size_t scan_padding = simd::block_bytes;

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
// depends on what the storage held before `open`: every mask that a line
// can load has been written by then, so no constructor clears it.
// cppcheck-suppress noConstructor
class LineReader {
  public:
    // Prepares to read `from` in blocks of `size` bytes (1 to
    // `max_block_size`).
    void open(ByteSource from, std::size_t size = default_block_size);

    // Takes the next line from the bytes already read and gives its text:
    // the line up to its first NUL byte, as a terminated string would hold
    // it. False when a whole line is not buffered yet: then either the
    // source has ended and there are no more lines, or `refill` must be
    // called.
    [[gnu::always_inline]] bool take_line(PaddedLine& line)
    {
        // Most lines end in the block they start in or the next: two mask
        // loads. The masks past the data hold no newline, so a line found
        // there fails the size test.
        auto from = static_cast<std::size_t>(begin - data);
        std::size_t block = from / simd::block_bytes;
        std::size_t length = simd::through_newline(masks[block].newlines, masks[block + 1].newlines,
                                                   from % simd::block_bytes);
        // NUL bytes are rare enough that a read records only whether it may
        // hold any, and then takes every line of its data the slow way.
        if (length > static_cast<std::size_t>(end - begin) || may_hold_nul)
            return take_line_slowly(line);
        line = padded({begin, length});
        begin += length;
        return true;
    }

    // The white space of `line`, a line just taken, from the masks of its
    // blocks, written to `out`; null when the line is longer than
    // `LineSpaces::max_bytes`. A line cut at a NUL keeps the masks of its
    // text.
    [[gnu::always_inline]] const simd::LineSpaces* line_spaces(PaddedLine line,
                                                               simd::LineSpaces& out) const
    {
        std::string_view text = line.text();
        if (text.size() > simd::LineSpaces::max_bytes)
            return nullptr;
        VOLREPORT_EXPECTS(text.data() >= data && text.data() + text.size() <= end);
        auto from = static_cast<std::size_t>(text.data() - data);
        out = simd::spaces_window(masks + from / simd::block_bytes, from % simd::block_bytes,
                                  text.size());
        return &out;
    }

    // Passes over the buffered lines that begin with a space or are empty,
    // up to the next line that does not, when that line starts in the
    // buffered data at most a line's length away; otherwise over none.
    // Taking the lines one by one would give the same lines; this is the
    // filter's fast path, since most lines of a listing are indented.
    void skip_indented_lines();

    // Reads one more block from the source, after the partial line that is
    // left: call it only when `take_line` found no whole line. False when
    // the read failed.
    bool refill();

    // Whether the source has reported its end: no read will add lines.
    bool source_ended() const { return at_end; }

    // The bytes read and not yet taken as lines. A line cut at a NUL ends
    // where they begin, so that callers comparing whole lines (the tests
    // and fuzzers, against a line buffer) can find its end.
    std::string_view unread() const { return {begin, static_cast<std::size_t>(end - begin)}; }

  private:
    // The buffered data is a partial line kept from the last read, shorter
    // than a line, and one block read behind it, then the padding for the
    // scans, in whole blocks.
    static constexpr std::size_t most_data = max_line_bytes - 1 + max_block_size;
    static constexpr std::size_t data_size =
        (most_data + scan_padding + simd::block_bytes - 1) / simd::block_bytes * simd::block_bytes;
    // The masks of the blocks of the data, and of the two after them: a
    // line's first block and the next are always loaded.
    static constexpr std::size_t blocks =
        (most_data + simd::block_bytes - 1) / simd::block_bytes + 2;
    static_assert(data_size >= most_data + scan_padding, "the padding is in the storage");
    static_assert(data_size / simd::block_bytes <= blocks, "every block of data has its masks");

    alignas(simd::block_bytes) char data[data_size];
    simd::LineMasks masks[blocks]; // masks[i] describes the bytes of block i of data

    ByteSource source;
    std::size_t block_size; // bytes asked of each read, 1 to `max_block_size`
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    std::size_t final_blocks; // leading blocks of data whose masks no read changes
    bool at_end;              // the source has reported its end; no more reads
    bool may_hold_nul;        // some buffered byte is a NUL

    PaddedLine padded(std::string_view text) const { return {text, data + data_size}; }
    // A line that ends past its first two blocks, or not yet in the data,
    // or that may hold a NUL.
    bool take_line_slowly(PaddedLine& line);
};

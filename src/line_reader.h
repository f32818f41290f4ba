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

#include "simd.h"

// Where the bytes come from. `read` fills at most `size` bytes of `buffer`
// and returns the count, 0 at the end of input, or -1 on failure.
struct ByteSource {
    void* context;
    long (*read)(void* context, char* buffer, std::size_t size);
};

// A source on a file descriptor; `context` points at the descriptor.
// Interrupted reads are retried.
long read_descriptor(void* context, char* buffer, std::size_t size);

// After a read or write on `fd` failed: whether to try again, as it was
// interrupted, or the descriptor is non-blocking and now ready for
// `events`.
bool may_retry(int fd, short events);

constexpr std::size_t max_line_bytes = 1023;

// Input block size: large enough that the read per block costs nothing
// next to scanning it, small enough to stay in the L2 cache.
constexpr std::size_t default_block_size = std::size_t{128} * 1024;
constexpr std::size_t max_block_size = std::size_t{256} * 1024;

// Bytes past a line that the scanners may load and ignore; the reader's
// storage always has them.
constexpr std::size_t scan_padding = 64;

// Each block of buffered data is classified once, when it is read; taking
// lines and passing over indented ones then only walk the masks.
struct LineReader {
    // The buffered data is a partial line kept from the last read, shorter
    // than a line, and one block read behind it, then the padding for the
    // scans, in whole 64-byte blocks. A line start is always more than a
    // block before the end of the storage, so the masks of the block after
    // it are there.
    static constexpr std::size_t data_size =
        (max_line_bytes - 1 + max_block_size + scan_padding + 63) / 64 * 64;
    static constexpr std::size_t blocks = data_size / 64;
    static_assert((max_line_bytes - 2 + max_block_size) / 64 + 1 < blocks,
                  "the masks of the block after any line start are in the storage");
    static_assert(data_size >= max_line_bytes - 1 + max_block_size + scan_padding,
                  "the padding after the data is in the storage");

    alignas(64) char data[data_size];
    simd::LineMasks masks[blocks]; // masks[i] describes data[64 * i, 64 * i + 64)
    std::uint64_t heads[blocks];   // bit j of heads[i]: a line starts at data[64 * i + j]
                                   // after a newline, and is neither indented nor empty

    ByteSource source;
    std::size_t block_size; // bytes asked of each read, 1 to `max_block_size`
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    std::size_t final_blocks; // leading blocks of data whose masks no read changes
    bool at_end;              // the source has reported its end; no more reads
    bool may_hold_control;    // some buffered byte is below 14 but not a newline: a NUL,
                              // or white space that the masks do not show
};

// Prepares `reader` to read `source` in blocks of `block_size` bytes.
void open_line_reader(LineReader& reader, ByteSource source,
                      std::size_t block_size = default_block_size);

// A line up to its first NUL byte.
inline std::string_view up_to_nul(std::string_view line)
{
    const void* nul = std::memchr(line.data(), '\0', line.size());
    return nul == nullptr
               ? line
               : line.substr(0,
                             static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
}

// Takes the next line from the bytes already read and gives its text: the
// line up to its first NUL byte, as a terminated string would hold it; the
// whole line ends at `reader.begin`. False when a whole line is not
// buffered yet: then either `reader.at_end` holds and there are no more
// lines, or `refill` must be called.
bool take_line_slowly(LineReader& reader, std::string_view& text);
[[gnu::always_inline]] inline bool take_line(LineReader& reader, std::string_view& text)
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
        return take_line_slowly(reader, text);
    text = std::string_view(reader.begin, length);
    reader.begin += length;
    // NUL bytes are rare enough that a read records only whether it may
    // hold any.
    if (reader.may_hold_control) [[unlikely]]
        text = up_to_nul(text);
    return true;
}

// The white space of `text`, the text of a line just taken, from the masks
// of its blocks, written to `out`; null when the line is longer than
// `LineSpaces::max_bytes` or the buffered data may hold white space that the
// masks do not show.
[[gnu::always_inline]] inline const simd::LineSpaces*
line_spaces(const LineReader& reader, std::string_view text, simd::LineSpaces& out)
{
    if (reader.may_hold_control || text.size() > simd::LineSpaces::max_bytes)
        return nullptr;
    auto from = static_cast<std::size_t>(text.data() - reader.data);
    std::size_t block = from / 64;
    std::size_t shift = from % 64;
    auto spaces = [&](std::size_t i) { return reader.masks[i].newlines | reader.masks[i].blanks; };
    // The masks of the block after the line's first are always in the
    // storage, and those of a third only matter when the line reaches it.
    // Two shifts stand for one by 64 - shift, which is 0 and not undefined
    // when shift is 0.
    std::uint64_t first = spaces(block);
    std::uint64_t second = spaces(block + 1);
    std::uint64_t third = shift + text.size() > 128 ? spaces(block + 2) : 0;
    out = {{(first >> shift) | ((second << 1) << (63 - shift)),
            (second >> shift) | ((third << 1) << (63 - shift))}};
    return &out;
}

// Passes over the buffered whole lines that begin with a space or are empty,
// stopping at the first other line or where the buffered data may not hold
// a whole line. Taking those lines one by one gives the same result; this is
// the filter's fast path, since most lines of a listing are indented.
void skip_indented_lines(LineReader& reader);

// Reads one more block from the source. False when the read failed.
bool refill(LineReader& reader);

// SPDX-License-Identifier: MIT
// Block reader that hands out the lines of a listing.
//
// A line is what one read of a 1024-byte line buffer takes: at most 1023
// bytes, ending after the first newline. A longer physical line comes out in
// several pieces, and a last line without a newline is a line like any
// other. Bytes are not interpreted, so a piece may hold NUL bytes; callers
// cut the line at the first NUL where it matters.
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

constexpr std::size_t max_line_bytes = 1023;

// Input block size: large enough that the read per block costs nothing
// next to scanning it, small enough to stay in the L2 cache.
constexpr std::size_t default_block_size = std::size_t{128} * 1024;

// Bytes of storage past the buffered data that a scan may load; they are
// never used.
constexpr std::size_t scan_slack = 64;

// The buffered data: a partial line of at most `max_line_bytes - 1` bytes
// and one block behind it, with `scan_slack` bytes after them, in whole
// 64-byte blocks.
constexpr std::size_t reader_data_size(std::size_t block_size)
{
    return (block_size + max_line_bytes + scan_slack + 63) / 64 * 64;
}

// Storage a reader with this block size needs: the data, the masks of its
// 64-byte blocks, and room to align both.
constexpr std::size_t reader_storage_size(std::size_t block_size)
{
    return 64 + reader_data_size(block_size) +
           reader_data_size(block_size) / 64 * (sizeof(simd::LineMasks) + sizeof(std::uint64_t));
}

// Each block of buffered data is classified once, when it is read; taking
// lines and passing over indented ones then only walk the masks.
struct LineReader {
    ByteSource source;
    std::size_t block_size; // bytes asked of each read, at least 1
    char* data;             // the buffered data, 64-byte aligned in the storage
    simd::LineMasks* masks; // masks[i] describes data[64 * i, 64 * i + 64)
    std::uint64_t* heads;   // bit j of heads[i]: a line starts at data[64 * i + j] after a
                            // newline, and that byte is neither a space nor a newline
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    std::size_t final_blocks;   // leading blocks of data whose masks no read changes
    bool at_end;                // the source has reported its end; no more reads
    bool may_hold_control;      // some buffered byte is below 14 but not a newline: a NUL,
                                // or white space that the masks do not show
    const simd::Kernel* kernel; // classifies the blocks; the best one unless a test swaps it
};

// Prepares `reader` over `storage`, which must hold
// `reader_storage_size(block_size)` bytes.
void init_line_reader(LineReader& reader, ByteSource source, char* storage, std::size_t block_size);

// The position of the first newline in data[from, limit), or `limit`.
inline std::size_t find_newline(const LineReader& reader, std::size_t from, std::size_t limit)
{
    if (from >= limit)
        return limit;
    std::size_t block = from / 64;
    std::uint64_t bits = reader.masks[block].newlines & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
        if (++block * 64 >= limit)
            return limit;
        bits = reader.masks[block].newlines;
    }
    std::size_t at = block * 64 + static_cast<std::size_t>(std::countr_zero(bits));
    return at < limit ? at : limit;
}

// Takes the next line from the bytes already read: `line` as read, and
// `text`, the line up to its first NUL byte, which is all of it that counts
// when a line is handled as a terminated string. False when a whole line is
// not buffered yet: then either `reader.at_end` holds and there are no more
// lines, or `refill` must be called.
inline bool take_line(LineReader& reader, std::string_view& line, std::string_view& text)
{
    auto from = static_cast<std::size_t>(reader.begin - reader.data);
    auto available = static_cast<std::size_t>(reader.end - reader.begin);
    // Most lines end in their first block or the next: two mask loads, and
    // a newline past the data (a block's masks may be older than its bytes)
    // fails the size test. Both blocks are in the storage, as the data
    // leaves room for more than a block past any line start. Callgrind:
    // 920,000 fewer instructions for 20,000 volumes than the exact search
    // alone.
    std::size_t block = from / 64;
    std::uint64_t bits = reader.masks[block].newlines >> (from % 64);
    std::uint64_t next = reader.masks[block + 1].newlines;
    std::size_t length = bits != 0 ? static_cast<std::size_t>(std::countr_zero(bits)) + 1
                         : next != 0
                             ? 64 - from % 64 + 1 + static_cast<std::size_t>(std::countr_zero(next))
                             : ~std::size_t{0};
    if (length > available) {
        std::size_t window = available < max_line_bytes ? available : max_line_bytes;
        std::size_t newline = find_newline(reader, from, from + window);
        if (newline < from + window)
            length = newline - from + 1;
        else if (available >= max_line_bytes || (reader.at_end && available > 0))
            length = window;
        else
            return false;
    }
    line = std::string_view(reader.begin, length);
    text = line;
    // NUL bytes are rare enough that a read records only whether it may
    // hold any.
    if (reader.may_hold_control) {
        if (const void* nul = std::memchr(reader.begin, '\0', length))
            text = std::string_view(
                reader.begin,
                static_cast<std::size_t>(static_cast<const char*>(nul) - reader.begin));
    }
    reader.begin += length;
    return true;
}

// The white space of `text`, a line just taken, from the masks of its
// blocks: one shift of two words instead of classifying it again. False
// when the line is longer than 127 bytes or the buffered data may hold
// white space that the masks do not show.
inline bool line_spaces(const LineReader& reader, std::string_view text, simd::Mask128& out)
{
    if (reader.may_hold_control || text.size() > 127)
        return false;
    auto from = static_cast<std::size_t>(text.data() - reader.data);
    std::size_t block = from / 64;
    std::size_t shift = from % 64;
    auto spaces = [&](std::size_t i) { return reader.masks[i].newlines | reader.masks[i].blanks; };
    // Bits of blocks past the line are not used, so the next block's may
    // be stale; it is in the storage, as in `take_line`. Two shifts stand
    // for one by 64 - shift, which is 0 and not undefined when shift is 0.
    std::uint64_t first = spaces(block);
    std::uint64_t second = spaces(block + 1);
    std::uint64_t third = shift + text.size() > 128 ? spaces(block + 2) : 0;
    out = {(first >> shift) | ((second << 1) << (63 - shift)),
           (second >> shift) | ((third << 1) << (63 - shift))};
    return true;
}

inline bool take_line(LineReader& reader, std::string_view& line)
{
    std::string_view text;
    return take_line(reader, line, text);
}

// Passes over the buffered whole lines that begin with a space or are empty,
// stopping at the first other line or where the buffered data may not hold
// a whole line. Taking those lines one by one gives the same result; this is
// the filter's fast path, since most lines of a listing are indented.
void skip_indented_lines(LineReader& reader);

// Reads one more block from the source. False when the read failed.
bool refill(LineReader& reader);

// Block reader that hands out the lines of a listing.
//
// A line is what one read of a 1024-byte line buffer takes: at most 1023
// bytes, ending after the first newline. A longer physical line comes out in
// several pieces, and a last line without a newline is a line like any
// other. Bytes are not interpreted, so a piece may hold NUL bytes; callers
// cut the line at the first NUL where it matters.
#pragma once

#include <cstddef>
#include <string_view>

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
constexpr std::size_t default_block_size = 128 * 1024;

struct LineReader {
    ByteSource source;
    std::size_t block_size; // bytes asked of each read, at least 1
    char* storage;          // block_size + max_line_bytes bytes
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    bool at_end; // the source has reported its end; no more reads
};

// Prepares `reader` over `storage`, which must hold at least
// `block_size + max_line_bytes` bytes.
void init_line_reader(LineReader& reader, ByteSource source, char* storage,
                      std::size_t block_size);

// Takes the next line from the bytes already read. False when a whole line
// is not buffered yet: then either `reader.at_end` holds and there are no
// more lines, or `refill` must be called.
bool take_line(LineReader& reader, std::string_view& line);

// Reads one more block from the source. False when the read failed.
bool refill(LineReader& reader);

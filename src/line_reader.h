// Block reader that hands out the lines of a listing.
//
// A line is what one read of a 1024-byte line buffer takes: at most 1023
// bytes, ending after the first newline. A longer physical line comes out in
// several pieces, and a last line without a newline is a line like any
// other. Bytes are not interpreted, so a piece may hold NUL bytes; callers
// cut the line at the first NUL where it matters.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Bytes of storage past the buffered data that a vector scan may load; they
// are never used.
constexpr std::size_t scan_slack = 64;

// Storage a reader with this block size needs.
constexpr std::size_t reader_storage_size(std::size_t block_size)
{
    return block_size + max_line_bytes + scan_slack;
}

struct LineReader {
    ByteSource source;
    std::size_t block_size; // bytes asked of each read, at least 1
    char* storage;          // reader_storage_size(block_size) bytes
    const char* begin;      // unread bytes are [begin, end)
    const char* end;
    bool at_end; // the source has reported its end; no more reads
};

// Prepares `reader` over `storage`, which must hold
// `reader_storage_size(block_size)` bytes.
void init_line_reader(LineReader& reader, ByteSource source, char* storage,
                      std::size_t block_size);

// Finds the first `c` among the `size` bytes at `p`, or returns null. It may
// load bytes up to `p + size + 15`, so it is only for buffered data, which
// keeps `scan_slack` readable bytes behind it; a vector compare costs less
// than a library call on the short lines of a listing.
inline const char* find_byte(const char* p, std::size_t size, char c)
{
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(c);
    for (std::size_t i = 0; i < size; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, needle)));
        if (mask != 0) {
            std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            return at < size ? p + at : nullptr;
        }
    }
    return nullptr;
#else
    return static_cast<const char*>(std::memchr(p, c, size));
#endif
}

// Takes the next line from the bytes already read. False when a whole line
// is not buffered yet: then either `reader.at_end` holds and there are no
// more lines, or `refill` must be called.
inline bool take_line(LineReader& reader, std::string_view& line)
{
    std::size_t available = static_cast<std::size_t>(reader.end - reader.begin);
    std::size_t window = available < max_line_bytes ? available : max_line_bytes;
    const char* newline = find_byte(reader.begin, window, '\n');
    std::size_t length;
    if (newline != nullptr)
        length = static_cast<std::size_t>(newline - reader.begin) + 1;
    else if (available >= max_line_bytes || (reader.at_end && available > 0))
        length = window;
    else
        return false;
    line = std::string_view(reader.begin, length);
    reader.begin += length;
    return true;
}

// Passes over the buffered whole lines that begin with a space or are empty,
// stopping at the first other line or where the buffered data may not hold
// a whole line. Taking those lines one by one gives the same result; this is
// the filter's fast path, since most lines of a listing are indented.
void skip_indented_lines(LineReader& reader);

// Reads one more block from the source. False when the read failed.
bool refill(LineReader& reader);

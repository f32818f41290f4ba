// SPDX-License-Identifier: MIT
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

// 32-byte compares are chosen at run time where the compiler can target them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VOLREPORT_HAVE_AVX2 1
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
constexpr std::size_t default_block_size = std::size_t{128} * 1024;

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
    bool at_end;       // the source has reported its end; no more reads
    bool wide_vectors; // skip lines with 32-byte compares (where the processor has them)
};

// Prepares `reader` over `storage`, which must hold
// `reader_storage_size(block_size)` bytes.
void init_line_reader(LineReader& reader, ByteSource source, char* storage, std::size_t block_size);

// Finds the first newline among the `size` bytes at `p`, or the first
// newline or NUL byte when `or_nul` holds; null when there is none. It may
// load bytes up to `p + size + 15`, so it is only for buffered data, which
// keeps `scan_slack` readable bytes behind it: a vector compare costs less
// than a library call on the short lines of a listing, and one pass finds
// both bytes.
inline const char* find_line_end(const char* p, std::size_t size, bool or_nul)
{
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i nul = or_nul ? _mm_setzero_si128() : newline;
    for (std::size_t i = 0; i < size; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, newline), _mm_cmpeq_epi8(bytes, nul));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0) {
            std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            return at < size ? p + at : nullptr;
        }
    }
    return nullptr;
#else
    const void* newline = std::memchr(p, '\n', size);
    if (!or_nul)
        return static_cast<const char*>(newline);
    std::size_t before =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - p) : size;
    const void* nul = std::memchr(p, '\0', before);
    return static_cast<const char*>(nul ? nul : newline);
#endif
}

// Takes the next line from the bytes already read: `line` as read, and
// `text`, the line up to its first NUL byte, which is all of it that counts
// when a line is handled as a terminated string. False when a whole line is
// not buffered yet: then either `reader.at_end` holds and there are no more
// lines, or `refill` must be called.
inline bool take_line(LineReader& reader, std::string_view& line, std::string_view& text)
{
    const char* begin = reader.begin;
    auto available = static_cast<std::size_t>(reader.end - begin);
    std::size_t window = available < max_line_bytes ? available : max_line_bytes;
    const char* newline = find_line_end(begin, window, true);
    const char* nul = nullptr;
    if (newline != nullptr && *newline == '\0') {
        nul = newline;
        auto searched = static_cast<std::size_t>(nul + 1 - begin);
        newline = find_line_end(nul + 1, window - searched, false);
    }
    std::size_t length;
    if (newline != nullptr)
        length = static_cast<std::size_t>(newline - begin) + 1;
    else if (available >= max_line_bytes || (reader.at_end && available > 0))
        length = window;
    else
        return false;
    line = std::string_view(begin, length);
    text = nul == nullptr ? line : std::string_view(begin, static_cast<std::size_t>(nul - begin));
    reader.begin += length;
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

// SPDX-License-Identifier: MIT
#include "line_reader.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(VOLREPORT_HAVE_AVX2)
#include <immintrin.h>
#endif

long read_descriptor(void* context, char* buffer, std::size_t size)
{
    int fd = *static_cast<int*>(context);
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0)
            return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor left non-blocking by whoever opened it: wait.
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
                return -1;
        } else if (errno != EINTR) {
            return -1;
        }
    }
}

void init_line_reader(LineReader& reader, ByteSource source, char* storage, std::size_t block_size)
{
    reader.source = source;
    reader.block_size = block_size == 0 ? 1 : block_size;
    reader.storage = storage;
    reader.begin = storage;
    reader.end = storage;
    reader.at_end = false;
#if defined(VOLREPORT_HAVE_AVX2)
    reader.wide_vectors = __builtin_cpu_supports("avx2");
#else
    reader.wide_vectors = false;
#endif
    // The vector scan may look at bytes past the data; give them a value.
    std::memset(storage, 0, reader_storage_size(reader.block_size));
}

#if defined(__SSE2__)

namespace {

// The newline and space masks of the 64 bytes at `p`: bit i for byte i.
struct Sse2Masks {
    static void load(const char* p, std::uint64_t& newlines, std::uint64_t& spaces)
    {
        const __m128i newline = _mm_set1_epi8('\n');
        const __m128i space = _mm_set1_epi8(' ');
        newlines = 0;
        spaces = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            auto n = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, newline)));
            auto s = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
            newlines |= static_cast<std::uint64_t>(n) << (16 * i);
            spaces |= static_cast<std::uint64_t>(s) << (16 * i);
        }
    }
};

#if defined(VOLREPORT_HAVE_AVX2)
// The same in two 32-byte compares; it takes a tenth off the whole run on a
// listing in the page cache.
struct Avx2Masks {
    [[gnu::target("avx2")]] static inline void load(const char* p, std::uint64_t& newlines,
                                                    std::uint64_t& spaces)
    {
        const __m256i newline = _mm256_set1_epi8('\n');
        const __m256i space = _mm256_set1_epi8(' ');
        newlines = 0;
        spaces = 0;
        for (std::size_t i = 0; i < 2; ++i) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
            auto n =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, newline)));
            auto s =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, space)));
            newlines |= static_cast<std::uint64_t>(n) << (32 * i);
            spaces |= static_cast<std::uint64_t>(s) << (32 * i);
        }
    }
};
#endif

// Looks at 64 bytes at a time: the lines that start in them are the bytes
// after a newline, and the first start whose byte is neither a space nor a
// newline ends the pass. A line longer than a line buffer would be cut into
// pieces, each a line of its own; such lines are left to `take_line` by
// stopping before them.
template <class Masks>
[[gnu::always_inline]] inline void skip_with(LineReader& reader)
{
    const char* p = reader.begin;
    const char* const end = reader.end;
    const char* line_start = p; // the last line start known
    std::size_t run = 0;        // bytes of the current line seen before `p`
    std::uint64_t carry = 1;    // a line starts at `p`
    while (p < end) {
        std::uint64_t newlines;
        std::uint64_t spaces;
        Masks::load(p, newlines, spaces);
        auto valid = static_cast<std::size_t>(end - p);
        std::uint64_t in_data = valid >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << valid) - 1;
        newlines &= in_data;
        std::uint64_t starts = ((newlines << 1) | carry) & in_data;
        std::uint64_t others = starts & ~(newlines | spaces);
        if (newlines == 0) {
            // No line ends here: stop before a line could reach its limit.
            if (others != 0 || run + 64 > max_line_bytes - 64)
                break;
            run += 64;
            p += 64;
            carry = 0;
            continue;
        }
        if (others != 0) {
            line_start = p + __builtin_ctzll(others);
            break;
        }
        auto last = static_cast<std::size_t>(63 - __builtin_clzll(newlines));
        line_start = p + last + 1;
        if (valid <= 64)
            break;
        run = 63 - last;
        carry = newlines >> 63;
        p += 64;
    }
    reader.begin = line_start;
}

} // namespace

#if defined(VOLREPORT_HAVE_AVX2)
[[gnu::target("avx2")]] static void skip_avx2(LineReader& reader)
{
    skip_with<Avx2Masks>(reader);
}
#endif

void skip_indented_lines(LineReader& reader)
{
#if defined(VOLREPORT_HAVE_AVX2)
    if (reader.wide_vectors) {
        skip_avx2(reader);
        return;
    }
#endif
    skip_with<Sse2Masks>(reader);
}

#else

void skip_indented_lines(LineReader& reader)
{
    std::string_view line;
    const char* start = reader.begin;
    while (start < reader.end && (*start == ' ' || *start == '\n') && take_line(reader, line) &&
           line.back() == '\n')
        start = reader.begin;
    reader.begin = start;
}

#endif

bool refill(LineReader& reader)
{
    // Keep the partial line at the front so that it stays contiguous; it is
    // shorter than a line, so a whole block always fits behind it.
    std::size_t kept = static_cast<std::size_t>(reader.end - reader.begin);
    if (reader.begin != reader.storage) {
        std::memmove(reader.storage, reader.begin, kept);
        reader.begin = reader.storage;
        reader.end = reader.storage + kept;
    }
    long n = reader.source.read(reader.source.context, reader.storage + kept, reader.block_size);
    if (n < 0)
        return false;
    if (n == 0)
        reader.at_end = true;
    reader.end += n;
    return true;
}

// SPDX-License-Identifier: MIT
#include "line_reader.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <unistd.h>

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
    auto misalignment = reinterpret_cast<std::uintptr_t>(storage) % 64;
    reader.data = storage + (misalignment == 0 ? 0 : 64 - misalignment);
    // The masks are plain words in the caller's byte storage, right behind
    // the data and so aligned with it.
    reader.masks = reinterpret_cast<simd::LineMasks*>( // NOLINT(*-reinterpret-cast)
        reader.data + reader_data_size(reader.block_size));
    reader.heads = reinterpret_cast<std::uint64_t*>( // NOLINT(*-reinterpret-cast)
        reader.masks + reader_data_size(reader.block_size) / 64);
    reader.begin = reader.data;
    reader.end = reader.data;
    reader.final_blocks = 0;
    reader.at_end = false;
    reader.may_hold_control = false;
    reader.kernel = &simd::best_kernel();
}

namespace {

// Walks the line starts that the newline masks give, 64 bytes at a time: the
// first start whose byte is neither a space nor a newline ends the pass. A
// line that would not fit a line buffer would be cut into pieces, each a
// line of its own; the pass stops before such a line and leaves it to
// `take_line`, as it does with a line the data does not hold whole.
void skip_line_by_line(LineReader& reader)
{
    const auto end = static_cast<std::size_t>(reader.end - reader.data);
    auto line = static_cast<std::size_t>(reader.begin - reader.data); // the line being walked
    if (line >= end)
        return;
    std::size_t block = line / 64;
    std::uint64_t carry = std::uint64_t{1}
                          << (line % 64); // a start not given by this block's newlines
    std::uint64_t from = ~std::uint64_t{0} << (line % 64);
    for (;;) {
        const std::size_t base = block * 64;
        const simd::LineMasks masks = reader.masks[block];
        if (end - base > 64 && base + 64 - line < max_line_bytes) {
            // The common block: all in the data, and too close to the last
            // line start for a line to reach its limit in it. Half the
            // instructions of the exact walk below.
            std::uint64_t newlines = masks.newlines & from;
            std::uint64_t starts = ((newlines << 1) | carry) & from;
            std::uint64_t others = starts & ~(newlines | masks.blanks);
            if (others != 0) {
                reader.begin =
                    reader.data + base + static_cast<std::size_t>(std::countr_zero(others));
                return;
            }
            if (newlines != 0)
                line = base + 64 - static_cast<std::size_t>(std::countl_zero(newlines));
            carry = newlines >> 63;
            from = ~std::uint64_t{0};
            ++block;
            continue;
        }
        const bool last = end - base <= 64;
        std::uint64_t valid =
            from & (last ? (~std::uint64_t{0} >> (64 - (end - base))) : ~std::uint64_t{0});
        std::uint64_t newlines = masks.newlines & valid;
        // The bit after each newline is a line start.
        std::uint64_t starts = ((newlines << 1) | carry) & valid;
        std::uint64_t others = starts & ~(newlines | masks.blanks);
        std::size_t first_end =
            newlines != 0 ? base + static_cast<std::size_t>(std::countr_zero(newlines)) + 1 : 0;
        if (others != 0) {
            std::size_t stop = base + static_cast<std::size_t>(std::countr_zero(others));
            if (stop != line && first_end - line > max_line_bytes)
                stop = line;
            reader.begin = reader.data + stop;
            return;
        }
        if (newlines != 0) {
            if (first_end - line > max_line_bytes)
                break;
            line = base + 64 - static_cast<std::size_t>(std::countl_zero(newlines));
        } else if (base + 64 - line >= max_line_bytes) {
            break;
        }
        if (last)
            break;
        carry = newlines >> 63;
        from = ~std::uint64_t{0};
        ++block;
    }
    reader.begin = reader.data + line;
}

} // namespace

// The next line that is not indented is the first bit of `heads` past the
// current line; only when that is further than a line buffer holds can a
// line in between be too long, and the exact walk decides. Callgrind: a
// quarter of the instructions of walking every block's line starts.
void skip_indented_lines(LineReader& reader)
{
    const auto end = static_cast<std::size_t>(reader.end - reader.data);
    const auto begin = static_cast<std::size_t>(reader.begin - reader.data);
    if (begin >= end || (reader.data[begin] != ' ' && reader.data[begin] != '\n'))
        return;
    const std::size_t first_block = begin / 64;
    const std::size_t last_block = (end - 1) / 64;
    std::size_t block = first_block;
    std::uint64_t heads = reader.heads[block] & (~std::uint64_t{0} << (begin % 64));
    // The block after the data holds a head, so the walk needs no bound.
    while (heads == 0)
        heads = reader.heads[++block];
    std::size_t stop = block * 64 + static_cast<std::size_t>(std::countr_zero(heads));
    if (stop >= end) {
        // No such line in the data: stop after its last whole line.
        block = last_block;
        std::uint64_t newlines = reader.masks[block].newlines;
        while (newlines == 0 && block > first_block)
            newlines = reader.masks[--block].newlines;
        if (block == first_block)
            newlines &= ~std::uint64_t{0} << (begin % 64);
        stop = newlines == 0
                   ? begin
                   : block * 64 + 64 - static_cast<std::size_t>(std::countl_zero(newlines));
    }
    if (stop - begin > max_line_bytes) {
        skip_line_by_line(reader);
        return;
    }
    reader.begin = reader.data + stop;
}

bool refill(LineReader& reader)
{
    // Keep the partial line at the front so that it stays contiguous; it is
    // shorter than a line, so a whole block always fits behind it. Its
    // masks move with it, by classifying it again: under 1023 bytes.
    auto kept = static_cast<std::size_t>(reader.end - reader.begin);
    if (reader.begin != reader.data) {
        std::memmove(reader.data, reader.begin, kept);
        reader.begin = reader.data;
        reader.end = reader.data + kept;
        reader.final_blocks = 0;
        reader.may_hold_control = false;
    }
    long n = reader.source.read(reader.source.context, reader.data + kept, reader.block_size);
    if (n < 0)
        return false;
    if (n == 0)
        reader.at_end = true;
    reader.end += n;
    // The bytes past the data are loaded by the scans and never used; give
    // them a value all the same. Spaces, as no NUL is among them.
    std::memset(reader.data + kept + n, ' ', scan_slack);
    auto size = static_cast<std::size_t>(reader.end - reader.data);
    std::size_t blocks = (size + 63) / 64;
    std::size_t first = reader.final_blocks;
    if (blocks > first)
        reader.may_hold_control |= reader.kernel->classify_lines(
            reader.data + 64 * first, blocks - first, reader.masks + first);
    // The bit after each newline is a line start; the last byte of the
    // block before carries into the first of the next.
    std::uint64_t carry = first == 0 ? 0 : reader.masks[first - 1].newlines >> 63;
    for (std::size_t i = first; i < blocks; ++i) {
        std::uint64_t newlines = reader.masks[i].newlines;
        reader.heads[i] = ((newlines << 1) | carry) & ~(newlines | reader.masks[i].blanks);
        carry = newlines >> 63;
    }
    // A head past the data ends the walk of `skip_indented_lines`; the
    // storage leaves room for it, as the data ends over a block before it
    // does.
    reader.heads[blocks] = 1;
    reader.final_blocks = size / 64;
    return true;
}

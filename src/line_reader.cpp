// SPDX-License-Identifier: MIT
#include "line_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool may_retry(int fd, short events)
{
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A descriptor left non-blocking by whoever opened it: wait.
        pollfd ready{fd, events, 0};
        return ::poll(&ready, 1, -1) >= 0 || errno == EINTR;
    }
    return errno == EINTR;
}

long read_descriptor(void* context, char* buffer, std::size_t size)
{
    int fd = *static_cast<int*>(context);
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0)
            return n;
        if (!may_retry(fd, POLLIN))
            return -1;
    }
}

void open_line_reader(LineReader& reader, ByteSource source, std::size_t block_size)
{
    reader.source = source;
    reader.block_size = std::clamp<std::size_t>(block_size, 1, max_block_size);
    reader.begin = reader.data;
    reader.end = reader.data;
    reader.final_blocks = 0;
    reader.at_end = false;
    reader.may_hold_nul = false;
    reader.clear_masks_after(0);
}

// The two blocks after the data have no bytes yet, and no newline.
void LineReader::clear_masks_after(std::size_t used)
{
    VOLREPORT_EXPECTS(used + 2 <= blocks);
    masks[used] = masks[used + 1] = {};
}

bool take_line_slowly(LineReader& reader, PaddedLine& line)
{
    // A line that ends past its first two blocks, or that the masks cannot
    // tell about yet, is searched for its newline directly.
    auto available = static_cast<std::size_t>(reader.end - reader.begin);
    std::size_t length = available < max_line_bytes ? available : max_line_bytes;
    if (const void* newline = std::memchr(reader.begin, '\n', length))
        length = static_cast<std::size_t>(static_cast<const char*>(newline) - reader.begin) + 1;
    else if (available < max_line_bytes && !(reader.at_end && available > 0))
        return false;
    line = reader.padded(up_to_nul(std::string_view(reader.begin, length)));
    reader.begin += length;
    return true;
}

void skip_indented_lines(LineReader& reader)
{
    const auto end = static_cast<std::size_t>(reader.end - reader.data);
    const auto begin = static_cast<std::size_t>(reader.begin - reader.data);
    if (begin >= end || (reader.data[begin] != ' ' && reader.data[begin] != '\n'))
        return;
    // Every line before the next head fits a line buffer when that head is
    // at most a line's length away. Further on, a long line could come in
    // pieces that are not indented, so the pass then leaves the lines to be
    // taken one by one, until a head is that close.
    const std::size_t reach = begin + max_line_bytes;
    const std::size_t last = end - 1 < reach ? end - 1 : reach;
    std::size_t block = begin / 64;
    std::uint64_t heads = reader.masks[block].heads & (~std::uint64_t{0} << (begin % 64));
    while (heads == 0 && (block + 1) * 64 <= last)
        heads = reader.masks[++block].heads;
    std::size_t stop = block * 64 + static_cast<std::size_t>(std::countr_zero(heads));
    if (stop <= last)
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
        reader.may_hold_nul = false;
    }
    long n = reader.source.read(reader.source.context, reader.data + kept, reader.block_size);
    if (n < 0)
        return false;
    if (n == 0)
        reader.at_end = true;
    reader.end += n;
    // The padding is loaded by the scans and never used; give it a value
    // all the same. Spaces, as no NUL is among them.
    std::memset(reader.data + kept + n, ' ', scan_padding);
    auto size = static_cast<std::size_t>(reader.end - reader.data);
    std::size_t blocks = (size + 63) / 64;
    std::size_t first = reader.final_blocks;
    // Blocks before `first` are kept only when nothing was taken since the
    // last read, and then hold part of a line with no newline: the kernel
    // starts as after none.
    if (blocks > first)
        reader.may_hold_nul |= simd::best_kernel().classify_lines(
            reader.data + 64 * first, blocks - first, reader.masks + first);
    reader.clear_masks_after(blocks);
    reader.final_blocks = size / 64;
    return true;
}

// SPDX-License-Identifier: MIT
#include "line_reader.h"

#include <algorithm>
#include <cstring>

void LineReader::open(ByteSource from, std::size_t size)
{
    VOLREPORT_EXPECTS(size >= 1 && size <= max_block_size);
    source = from;
    block_size = size;
    begin = end = data;
    final_blocks = 0;
    at_end = false;
    may_hold_nul = false;
    // No data yet: no newline in the two blocks a line loads first.
    masks[0] = masks[1] = {};
}

bool LineReader::take_line_slowly(PaddedLine& line)
{
    // The masks cannot tell about a line that ends past its first two
    // blocks, or past the data: search for its newline directly.
    auto available = static_cast<std::size_t>(end - begin);
    std::size_t length = available < max_line_bytes ? available : max_line_bytes;
    if (const void* newline = std::memchr(begin, '\n', length))
        length = static_cast<std::size_t>(static_cast<const char*>(newline) - begin) + 1;
    else if (available < max_line_bytes && !(at_end && available > 0))
        return false;
    // The text ends at the first NUL, as a terminated string would.
    std::string_view text(begin, length);
    line = padded(text.substr(0, text.find('\0')));
    begin += length;
    return true;
}

void LineReader::skip_indented_lines()
{
    const auto stop = static_cast<std::size_t>(end - data);
    const auto from = static_cast<std::size_t>(begin - data);
    if (from >= stop || (data[from] != ' ' && data[from] != '\n'))
        return;
    // Every line before the next head fits a line buffer when that head is
    // at most a line's length away. Further on, a long line could come in
    // pieces that are not indented, so the pass then leaves the lines to be
    // taken one by one, until a head is that close.
    const std::size_t last = std::min(stop - 1, from + max_line_bytes);
    std::size_t head = simd::first_head(masks, from, last);
    if (head <= last)
        begin = data + head;
}

bool LineReader::refill()
{
    // Keep the partial line at the front so that it stays contiguous; it is
    // shorter than a line, so a whole block always fits behind it. Its
    // masks move with it, by classifying it again: under 1023 bytes.
    auto kept = static_cast<std::size_t>(end - begin);
    VOLREPORT_EXPECTS(kept < max_line_bytes);
    if (begin != data) {
        std::memmove(data, begin, kept);
        begin = data;
        end = data + kept;
        final_blocks = 0;
        may_hold_nul = false;
    }
    long n = source.read(source.context, data + kept, block_size);
    if (n < 0)
        return false;
    at_end = n == 0;
    end += n;
    // The kernels classify whole blocks, so up to a block less a byte past
    // the data is loaded; give it a value. Spaces, as no NUL is among them.
    static_assert(scan_padding >= simd::block_bytes - 1, "the last block is in the storage");
    std::memset(data + kept + n, ' ', scan_padding);
    auto size = static_cast<std::size_t>(end - data);
    std::size_t used = (size + simd::block_bytes - 1) / simd::block_bytes;
    std::size_t first = final_blocks;
    // Blocks before `first` are kept only when nothing was taken since the
    // last read, and then hold part of a line with no newline: the kernel
    // starts as after none.
    if (used > first)
        may_hold_nul |= simd::available_kernels().back().classify_lines(
            data + simd::block_bytes * first, used - first, masks + first);
    // The two blocks after the data have no bytes yet, and no newline. There
    // is room for them: the data is at most `most_data`, as a refill keeps
    // less than a line.
    masks[used] = masks[used + 1] = {};
    final_blocks = size / simd::block_bytes;
    return true;
}

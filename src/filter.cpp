// SPDX-License-Identifier: MIT
// The listing scanner and the report line.
#include "filter.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

bool write_descriptor(void* context, const char* data, std::size_t size)
{
    int fd = *static_cast<int*>(context);
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        // Nothing written for a non-empty buffer is no progress: retrying
        // would spin for ever on a device that keeps answering 0.
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A descriptor left non-blocking by whoever opened it: wait.
                pollfd ready{fd, POLLOUT, 0};
                if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
                    return false;
            } else if (errno != EINTR) {
                return false;
            }
            continue;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool flush_report(ReportBuffer& out)
{
    if (out.size == 0)
        return true;
    std::size_t size = out.size;
    out.size = 0;
    return out.sink.write(out.sink.context, out.data, size);
}

namespace {

// The report line is built from whole 16-byte copies, which compile to
// single vector moves instead of calls: a field's text is copied in pieces
// of 16 (its array has room for the last one) and the write position then
// advances by the field's real length. The buffer keeps room for the
// overshoot.
template <std::size_t N>
char* put_word(char* p, const Word<N>& word)
{
    for (std::size_t i = 0; i < word.size; i += 16)
        std::memcpy(p + i, word.text + i, 16);
    return p + word.size;
}

// A field of at most `Pieces` pieces is copied whole, without a loop: fewer
// instructions than counting its pieces (callgrind: 430,000 fewer for
// 20,000 report lines).
template <std::size_t Pieces, std::size_t N>
char* put_short_word(char* p, const Word<N>& word)
{
    static_assert(N <= 16 * Pieces && N + 16 >= 16 * Pieces, "the array holds the pieces");
    std::memcpy(p, word.text, 16 * Pieces);
    return p + word.size;
}

constexpr char spaces[32] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                             ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                             ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// "00" to "99", for writing numbers two digits at a time.
constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The eight decimal digits of `value` (below 10^8), the first digit in the
// lowest byte: the number is split in halves, quarters and digits in the
// lanes of one word, each division a multiplication and a shift that is
// exact in the lane's range. A quarter of the instructions of a loop over
// pairs of digits.
std::uint64_t eight_digits(std::uint64_t value)
{
    std::uint64_t halves = (value / 10000) | ((value % 10000) << 32);
    std::uint64_t hundreds = ((halves * 5243) >> 19) & 0x0000007f0000007f;
    std::uint64_t quarters = hundreds | ((halves - hundreds * 100) << 16);
    std::uint64_t tens = ((quarters * 103) >> 10) & 0x000f000f000f000f;
    return tens | ((quarters - tens * 10) << 8);
}

// Writes `value`, at least 10^8, in decimal: nine digits or more, so no
// padding. Below 10^16, as sizes in K are, two blocks of eight digits.
// Kept out of line so that the common case inlines.
[[gnu::noinline]] char* put_long_number(char* p, std::uint64_t value)
{
    if (value < 10000000000000000) {
        // The high block is not zero; its leading zeros are shifted out
        // and the next block's store covers the bytes left behind.
        std::uint64_t high = eight_digits(value / 100000000);
        auto zeros = static_cast<unsigned>(std::countr_zero(high)) / 8;
        std::uint64_t text = (high + 0x3030303030303030) >> (8 * zeros);
        std::uint64_t low = eight_digits(value % 100000000) + 0x3030303030303030;
        if constexpr (std::endian::native == std::endian::big) {
            text = __builtin_bswap64(text);
            low = __builtin_bswap64(low);
        }
        std::memcpy(p, &text, 8);
        p += 8 - zeros;
        std::memcpy(p, &low, 8);
        return p + 8;
    }
    char digits[20];
    char* first = digits + 20;
    while (value >= 100) {
        first -= 2;
        std::memcpy(first, digit_pairs.data() + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        first -= 2;
        std::memcpy(first, digit_pairs.data() + 2 * value, 2);
    } else {
        *--first = static_cast<char>('0' + value);
    }
    auto n = static_cast<std::size_t>(digits + 20 - first);
    std::memcpy(p, first, n);
    return p + n;
}

// Writes `value` in decimal, right-aligned in 9 bytes; a longer number is
// written whole.
char* put_number(char* p, std::uint64_t value)
{
    if (value >= 100000000)
        return put_long_number(p, value);
    std::uint64_t digits = eight_digits(value);
    // Leading zeros become spaces; a zero keeps its last digit.
    auto zeros = static_cast<unsigned>(std::countr_zero(digits | (std::uint64_t{1} << 56))) / 8;
    std::uint64_t leading = zeros == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * zeros);
    std::uint64_t text =
        ((digits + 0x3030303030303030) & ~leading) | (0x2020202020202020 & leading);
    if constexpr (std::endian::native == std::endian::big)
        text = __builtin_bswap64(text);
    *p = ' ';
    std::memcpy(p + 1, &text, 8);
    return p + 9;
}

bool starts_with(std::string_view line, std::string_view prefix)
{
    return line.size() >= prefix.size() &&
           std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

enum class Next { line, end, read_error, write_error };

// Takes the next line, up to its first NUL byte: a line is handled as a
// terminated string. Reads more input when no whole line is buffered, after
// writing out the report lines so far, so that a report never waits behind
// a slow producer. Inlined into each of its four calls: callgrind counts 6%
// fewer instructions for the whole run than with one shared copy.
[[gnu::always_inline]] inline Next next_line(LineReader& in, ReportBuffer& out,
                                             std::string_view& text)
{
    std::string_view line;
    for (;;) {
        if (take_line(in, line, text))
            return Next::line;
        if (in.at_end)
            return Next::end;
        if (!flush_report(out))
            return Next::write_error;
        if (!refill(in))
            return Next::read_error;
    }
}

// Lines handed to the scanners are views into the reader's buffer.
static_assert(scan_slack >= scan_padding, "the reader keeps the bytes the scanners may load");

// Hundreds of KiB, so static rather than on the stack, where a caller with
// a small stack could not give them; one filter runs at a time per process.
// Constant-initialised, so that no guard or start-up code comes with them.
alignas(64) constinit char storage[reader_storage_size(max_block_size)] = {};
constinit ReportBuffer report_buffer{};

constexpr std::string_view detail_indent = "    ";
constexpr std::string_view quota_prefix = "    MaxQuota ";

} // namespace

bool write_report_line(ReportBuffer& out, const VolumeRecord& record)
{
    if (out.size + ReportBuffer::max_line > ReportBuffer::capacity && !flush_report(out))
        return false;
    char* start = out.data + out.size;
    char* p = put_short_word<4>(start, record.name);
    if (record.name.size < 32) {
        std::memcpy(p, spaces, 32);
        p = start + 32;
    }
    *p++ = ' ';
    p = put_number(p, record.max_quota_k);
    *p++ = ' ';
    p = put_number(p, record.size_k);
    *p++ = ' ';
    p = put_short_word<1>(p, record.type);
    *p++ = ' ';
    p = put_word(p, record.detail_word_1);
    *p++ = ' ';
    p = put_short_word<1>(p, record.detail_word_2);
    *p++ = '\n';
    out.size += static_cast<std::size_t>(p - start);
    return true;
}

FilterStatus filter_listing(ByteSource source, ByteSink sink, const VolumeSelection& choice,
                            std::size_t block_size)
{
    if (block_size > max_block_size)
        block_size = max_block_size;
    ReportBuffer& out = report_buffer;
    LineReader in;
    init_line_reader(in, source, storage, block_size);
    out.sink = sink;
    out.size = 0;
    VolumeRecord record;

    // Every way out of the loop is the end of input or a failed stream: a
    // record dropped by the end of input would only find the end again.
    std::string_view line;
    Next next;
    for (;;) {
        skip_indented_lines(in);
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        // The line's first byte is always in the buffer, even when a NUL
        // there leaves its text empty; a NUL is none of the bytes below.
        // Only a line that starts with T can be a summary line, so most
        // lines pay one compare for both.
        const char first = *line.data();
        if (first == ' ' || first == '\n')
            continue;
        if (first == 'T' &&
            (starts_with(line, "Total number of") || starts_with(line, "Total volumes on")))
            continue;
        simd::Mask128 spaces;
        if ((line_spaces(in, line, spaces) ? scan_header_masked(line, spaces, record)
                                           : scan_header(line, record)) != 5)
            continue;
        if (!is_selected(choice, record.type.view(), record.status.view()))
            continue;

        // The next three lines belong to this volume whatever they hold; a
        // line that fails its test drops the record and is not looked at
        // again.
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, detail_indent) ||
            (line_spaces(in, line, spaces) ? scan_first_detail_masked(line, spaces, record)
                                           : scan_first_detail(line, record)) < 2)
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, detail_indent))
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, quota_prefix))
            continue;
        line.remove_prefix(quota_prefix.size());
        if (scan_quota(line, record) < 1)
            continue;

        if (!write_report_line(out, record))
            return FilterStatus::write_error;
    }

    // Report lines written before a read failure stay.
    bool flushed = flush_report(out);
    if (next == Next::write_error || !flushed)
        return FilterStatus::write_error;
    return next == Next::read_error ? FilterStatus::read_error : FilterStatus::ok;
}

FilterStatus run_filter()
{
    int input = 0;
    int output = 1;
    return filter_listing({&input, read_descriptor}, {&output, write_descriptor}, selection);
}

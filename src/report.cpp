// SPDX-License-Identifier: MIT
#include "report.h"

#include <cstring>

#include "swar.h"

void open_report(ReportBuffer& out, ByteSink sink)
{
    out.sink = sink;
    out.size = 0;
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

// Copies a word in whole pieces, the first whatever its size, which
// compile to vector moves instead of a call; the write position then
// moves by the word's size.
template <std::size_t N>
char* put_word(char* p, const Word<N>& word)
{
    VOLREPORT_EXPECTS(word.size <= N);
    static_assert(word_piece <= ReportBuffer::overshoot, "a last piece stays in the buffer");
    std::memcpy(p, word.text, word_piece);
    for (std::size_t i = word_piece; i < word.size; i += word_piece)
        std::memcpy(p + i, word.text + i, word_piece);
    return p + word.size;
}

constexpr std::uint64_t ascii_zeros = swar::broadcast('0');

// Writes `value` in decimal without padding, eight digits at a time; the
// first block's leading zeros are shifted out, and the next store covers
// what they leave behind.
char* put_digits(char* p, std::uint64_t value)
{
    static_assert(ReportBuffer::overshoot >= sizeof value, "a last word stays in the buffer");
    if (value >= swar::eight_digit_base) {
        p = put_digits(p, value / swar::eight_digit_base);
        swar::store8(p, swar::eight_digits(value % swar::eight_digit_base) + ascii_zeros);
        return p + 8;
    }
    std::uint64_t digits = swar::eight_digits(value);
    unsigned zeros = swar::leading_zeros(digits);
    swar::store8(p, swar::drop_bytes(digits + ascii_zeros, zeros));
    return p + 8 - zeros;
}

// Writes `value` in decimal, right-aligned in `number_column` bytes.
char* put_number(char* p, std::uint64_t value)
{
    static_assert(number_column == 1 + 8, "a space and eight digits");
    if (value >= swar::eight_digit_base)
        return put_digits(p, value);
    std::uint64_t digits = swar::eight_digits(value);
    // Leading zeros become spaces.
    *p = ' ';
    swar::store8(p + 1, swar::fill_bytes(digits + ascii_zeros, swar::leading_zeros(digits), ' '));
    return p + number_column;
}

} // namespace

bool write_report_line(ReportBuffer& out, const VolumeRecord& record)
{
    if (out.size + max_report_line + ReportBuffer::overshoot > ReportBuffer::capacity &&
        !flush_report(out))
        return false;
    char* start = out.data + out.size;
    char* p = put_word(start, record.name);
    if (record.name.size < name_column) {
        static_assert(ReportBuffer::overshoot >= name_column, "the padding stays in the buffer");
        std::memset(p, ' ', name_column);
        p = start + name_column;
    }
    *p++ = ' ';
    p = put_number(p, record.max_quota_k);
    *p++ = ' ';
    p = put_number(p, record.size_k);
    *p++ = ' ';
    p = put_word(p, record.type);
    *p++ = ' ';
    p = put_word(p, record.detail_word_1);
    *p++ = ' ';
    p = put_word(p, record.detail_word_2);
    *p++ = '\n';
    out.size += static_cast<std::size_t>(p - start);
    return true;
}

// The listing scanner and the report line.
#include "filter.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

bool write_descriptor(void* context, const char* data, std::size_t size)
{
    int fd = *static_cast<int*>(context);
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
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

char* put_text(char* p, std::string_view text)
{
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

char* put_padding(char* p, std::size_t used, std::size_t width)
{
    for (; used < width; ++used)
        *p++ = ' ';
    return p;
}

// Writes `value` in decimal, right-aligned in `width` bytes; a longer
// number is written whole.
char* put_number(char* p, std::uint64_t value, std::size_t width)
{
    char digits[20];
    std::size_t n = 0;
    do {
        digits[sizeof digits - ++n] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    p = put_padding(p, n, width);
    return put_text(p, {digits + sizeof digits - n, n});
}

bool starts_with(std::string_view line, std::string_view prefix)
{
    return line.size() >= prefix.size() &&
           std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

// A line is handled as a terminated string: a NUL byte ends it.
std::string_view up_to_nul(std::string_view line)
{
    const void* nul = std::memchr(line.data(), '\0', line.size());
    if (nul == nullptr)
        return line;
    return {line.data(), static_cast<std::size_t>(static_cast<const char*>(nul) - line.data())};
}

enum class Next { line, end, read_error, write_error };

// Takes the next line, reading more input when none is buffered. Report
// lines are written out first, so that a report never waits behind a slow
// producer.
Next next_line(LineReader& in, ReportBuffer& out, std::string_view& line)
{
    for (;;) {
        if (take_line(in, line))
            return Next::line;
        if (in.at_end)
            return Next::end;
        if (!flush_report(out))
            return Next::write_error;
        if (!refill(in))
            return Next::read_error;
    }
}

constexpr std::string_view detail_indent = "    ";
constexpr std::string_view quota_prefix = "    MaxQuota ";

} // namespace

bool write_report_line(ReportBuffer& out, const VolumeRecord& record)
{
    if (out.size + ReportBuffer::max_line > ReportBuffer::capacity && !flush_report(out))
        return false;
    char* start = out.data + out.size;
    char* p = put_text(start, record.name.view());
    p = put_padding(p, record.name.size, 32);
    *p++ = ' ';
    p = put_number(p, record.max_quota_k, 9);
    *p++ = ' ';
    p = put_number(p, record.size_k, 9);
    *p++ = ' ';
    p = put_text(p, record.type.view());
    *p++ = ' ';
    p = put_text(p, record.detail_word_1.view());
    *p++ = ' ';
    p = put_text(p, record.detail_word_2.view());
    *p++ = '\n';
    out.size += static_cast<std::size_t>(p - start);
    return true;
}

FilterStatus filter_listing(ByteSource source, ByteSink sink,
                            const VolumeSelection& choice, std::size_t block_size)
{
    if (block_size > max_block_size)
        block_size = max_block_size;
    char storage[max_block_size + max_line_bytes];
    LineReader in;
    init_line_reader(in, source, storage, block_size);
    ReportBuffer out;
    out.sink = sink;
    VolumeRecord record;

    // Every way out of the loop is the end of input or a failed stream: a
    // record dropped by the end of input would only find the end again.
    std::string_view line;
    Next next;
    for (;;) {
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        // Most lines of a listing are the detail lines of a volume's block;
        // they begin with a space and cost one comparison here.
        if (line[0] == ' ' || line[0] == '\n')
            continue;
        line = up_to_nul(line);
        if (starts_with(line, "Total number of") || starts_with(line, "Total volumes on"))
            continue;
        if (scan_header(line, record) != 5)
            continue;
        if (!is_selected(choice, record.type.view(), record.status.view()))
            continue;

        // The next three lines belong to this volume whatever they hold; a
        // line that fails its test drops the record and is not looked at
        // again.
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        line = up_to_nul(line);
        if (!starts_with(line, detail_indent) || scan_first_detail(line, record) < 2)
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(up_to_nul(line), detail_indent))
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        line = up_to_nul(line);
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

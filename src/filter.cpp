// SPDX-License-Identifier: MIT
// The spine of the filter: a listing's lines, walked volume by volume.
#include "filter.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "swar.h"

namespace {

// The storage of one run: hundreds of KiB, so on the heap rather than the
// stack, where a caller with a small stack could not give them. One
// allocation a run, and nothing kept between runs.
struct FilterStorage {
    LineReader in;
    ReportBuffer out;
};

enum class Next { line, end, read_error, write_error };

// Takes the text of the next line. Reads more input when no whole line is
// buffered, after writing out the report lines so far, so that a report
// never waits behind a slow producer. Inlined into each of its four calls.
[[gnu::always_inline]] inline Next next_line(LineReader& in, ReportBuffer& out,
                                             PaddedLine& line)
{
    while (!take_line(in, line)) {
        if (source_ended(in))
            return Next::end;
        if (!flush_report(out))
            return Next::write_error;
        if (!refill(in))
            return Next::read_error;
    }
    return Next::line;
}

[[gnu::always_inline]] inline bool starts_with(PaddedLine line, std::string_view prefix)
{
    const char* text = line.text().data();
    return line.text().size() >= prefix.size() &&
           (prefix.size() < 8 ? std::memcmp(text, prefix.data(), prefix.size()) == 0
                              : swar::same_bytes(text, prefix.data(), prefix.size()));
}

constexpr std::string_view detail_indent = "    ";

FilterStatus filter_with(LineReader& in, ReportBuffer& out, const VolumeSelection& choice)
{
    VolumeRecord record;
    simd::LineSpaces spaces;

    // Every way out of the loop is the end of input or a failed stream: a
    // record dropped by the end of input would only find the end again.
    PaddedLine line;
    Next next;
    for (;;) {
        skip_indented_lines(in);
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        // A line's first byte is always in the buffer, even when a NUL there
        // leaves its text empty; a NUL is none of the bytes below. Only a
        // line that starts with T can be a summary line.
        const char first = *line.text().data();
        if (first == ' ' || first == '\n')
            continue;
        if (first == 'T' &&
            (starts_with(line, "Total number of") || starts_with(line, "Total volumes on")))
            continue;
        if (scan_header(line, line_spaces(in, line, spaces), record) != 5)
            continue;
        if (!is_selected(choice, record.type.view(), record.status.view()))
            continue;

        // The next three lines belong to this volume whatever they hold; a
        // line that fails its test drops the record and is not looked at
        // again.
        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, detail_indent) ||
            scan_first_detail(line, line_spaces(in, line, spaces), record) < 2)
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, detail_indent))
            continue;

        if ((next = next_line(in, out, line)) != Next::line)
            break;
        if (!starts_with(line, quota_prefix) ||
            scan_quota(line, line_spaces(in, line, spaces), record) < 1)
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

} // namespace

FilterStatus filter_listing(ByteSource source, ByteSink sink, const VolumeSelection& choice,
                            std::size_t block_size)
{
    void* memory = std::aligned_alloc(alignof(FilterStorage), sizeof(FilterStorage));
    if (memory == nullptr)
        return FilterStatus::no_memory;
    auto* storage = new (memory) FilterStorage;
    open_line_reader(storage->in, source, block_size);
    open_report(storage->out, sink);
    FilterStatus status = filter_with(storage->in, storage->out, choice);
    std::free(memory);
    return status;
}

FilterStatus run_filter()
{
    int input = 0;
    int output = 1;
    return filter_listing({&input, read_descriptor}, {&output, write_descriptor}, selection);
}

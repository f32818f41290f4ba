// SPDX-License-Identifier: MIT
// The spine of the filter: a listing's lines, walked volume by volume.
#include "filter.h"

#include <cstdlib>
#include <new>
#include <string_view>

namespace {

// Takes the next line. Reads more input when no whole line is buffered,
// after writing out the report lines so far, so that a report never waits
// behind a slow producer. False at the end of input, leaving `status` ok,
// or when a stream failed, saying which. Inlined into each of its four
// calls.
[[gnu::always_inline]] inline bool next_line(LineReader& in, ReportBuffer& out, PaddedLine& line,
                                             FilterStatus& status)
{
    while (!in.take_line(line)) {
        if (in.source_ended())
            return false;
        status = !flush_report(out) ? FilterStatus::write_error
                 : !in.refill()     ? FilterStatus::read_error
                                    : FilterStatus::ok;
        if (status != FilterStatus::ok)
            return false;
    }
    return true;
}

constexpr std::string_view detail_indent = "    ";

} // namespace

// Hot and out of line: inlined into main, which runs once, the loop's
// estimated counts put the report line among the blocks never executed,
// which the compiler then builds for size, with a division per number.
[[gnu::hot, gnu::noinline]] FilterStatus filter_listing(FilterStorage& storage, ByteSource source,
                                                        ByteSink sink,
                                                        const VolumeSelection& choice,
                                                        std::size_t block_size)
{
    auto& [in, out] = storage;
    in.open(source, block_size);
    open_report(out, sink);
    VolumeRecord record;
    simd::LineSpaces spaces;

    // Every way out of the loop is the end of input or a failed stream: a
    // record dropped by the end of input would only find the end again.
    PaddedLine line;
    FilterStatus status = FilterStatus::ok;
    for (;;) {
        in.skip_indented_lines();
        if (!next_line(in, out, line, status))
            break;
        // A line's first byte is always in the buffer, even when a NUL there
        // leaves its text empty; a NUL is none of the bytes below. Only a
        // line that starts with T can be a summary line.
        const char first = *line.text().data();
        if (first == ' ' || first == '\n')
            continue;
        if (first == 'T' && (line.text().starts_with("Total number of") ||
                             line.text().starts_with("Total volumes on")))
            continue;
        if (scan_header(line, in.line_spaces(line, spaces), record) != 5)
            continue;
        if (!is_selected(choice, record.type.view(), record.status.view()))
            continue;

        // The next three lines belong to this volume whatever they hold; a
        // line that fails its test drops the record and is not looked at
        // again.
        if (!next_line(in, out, line, status))
            break;
        if (!line.text().starts_with(detail_indent) ||
            scan_first_detail(line, in.line_spaces(line, spaces), record) < 2)
            continue;

        if (!next_line(in, out, line, status))
            break;
        if (!line.text().starts_with(detail_indent))
            continue;

        if (!next_line(in, out, line, status))
            break;
        if (!line.text().starts_with(quota_prefix) ||
            scan_quota(line, in.line_spaces(line, spaces), record) < 1)
            continue;

        if (!write_report_line(out, record))
            return FilterStatus::write_error;
    }

    // Report lines written before a read failure stay.
    if (!flush_report(out))
        return FilterStatus::write_error;
    return status;
}

FilterStatus run_filter()
{
    void* memory = std::aligned_alloc(alignof(FilterStorage), sizeof(FilterStorage));
    if (memory == nullptr)
        return FilterStatus::no_memory;
    int input = 0;
    int output = 1;
    FilterStatus status = filter_listing(*new (memory) FilterStorage, {&input, read_descriptor},
                                         {&output, write_descriptor}, selection);
    std::free(memory);
    return status;
}

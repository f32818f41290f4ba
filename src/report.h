// SPDX-License-Identifier: MIT
// The report line: six columns of a complete volume record, collected in a
// buffer and handed to a sink when it fills or before the filter waits for
// input.
#pragma once

#include <cstddef>

#include "io.h"
#include "scan.h"

// Column layout: the name padded to 32 bytes, each number right-aligned in
// 9; longer values are written whole. A 64-bit number has at most 20 digits.
constexpr std::size_t name_column = 32;
constexpr std::size_t number_column = 9;
constexpr std::size_t max_number_digits = 20;

// The longest report line: every field at its widest, five separating
// spaces and a newline.
constexpr std::size_t max_report_line =
    decltype(VolumeRecord::name)::capacity + 2 * max_number_digits +
    decltype(VolumeRecord::type)::capacity + decltype(VolumeRecord::detail_word_1)::capacity +
    decltype(VolumeRecord::detail_word_2)::capacity + 6;

struct ReportBuffer {
    static constexpr std::size_t capacity = std::size_t{64} * 1024;
    // A line is written with whole stores, each starting inside it, that
    // may reach this far past its end: the widest is the name's padding.
    static constexpr std::size_t overshoot = name_column;
    static_assert(capacity >= max_report_line + overshoot, "a line always fits");

    ByteSink sink;
    std::size_t size;
    char data[capacity];
};

// Prepares `out` to collect lines for `sink`.
void open_report(ReportBuffer& out, ByteSink sink);

// Hands the collected lines to the sink. False when the sink failed.
bool flush_report(ReportBuffer& out);

// Appends the report line of a complete record. False when the buffer had
// to be flushed and the sink failed.
bool write_report_line(ReportBuffer& out, const VolumeRecord& record);

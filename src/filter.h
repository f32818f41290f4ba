// SPDX-License-Identifier: MIT
// The listing filter, callable on any byte source and sink so that tests,
// fuzzers and benchmarks can drive it without a process.
#pragma once

#include <cstddef>
#include <string_view>

#include "line_reader.h"
#include "scan.h"
#include "volreport.h"

// Where the report goes. `write` takes all of [data, data + size) and
// returns false when it could not.
struct ByteSink {
    void* context;
    bool (*write)(void* context, const char* data, std::size_t size);
};

// A sink on a file descriptor; `context` points at the descriptor. Short
// and interrupted writes are retried.
bool write_descriptor(void* context, const char* data, std::size_t size);

// Largest input block the filter reads at once.
constexpr std::size_t max_block_size = std::size_t{256} * 1024;

// Report lines are collected here and handed to the sink in large blocks,
// and whenever the filter is about to wait for more input.
struct ReportBuffer {
    static constexpr std::size_t capacity = std::size_t{64} * 1024;
    // A report line is at most 62 + 20 + 20 + 8 + 126 + 14 bytes of fields,
    // five spaces and a newline; its fields are copied in fixed-size pieces
    // that may reach up to 32 bytes further.
    static constexpr std::size_t max_line = 256 + 32;

    ByteSink sink;
    std::size_t size = 0;
    char data[capacity];
};

// Hands the collected lines to the sink. False when the sink failed.
bool flush_report(ReportBuffer& out);

// Appends the report line of a complete record. False when the buffer had
// to be flushed and the sink failed.
bool write_report_line(ReportBuffer& out, const VolumeRecord& record);

// Runs the filter over `source`, reading blocks of `block_size` bytes (1 to
// `max_block_size`), and writes the report to `sink`.
FilterStatus filter_listing(ByteSource source, ByteSink sink, const VolumeSelection& choice,
                            std::size_t block_size = default_block_size);

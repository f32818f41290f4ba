// SPDX-License-Identifier: MIT
// The listing filter, callable on any byte source and sink so that tests,
// fuzzers and benchmarks can drive it without a process.
#pragma once

#include <cstddef>

#include "line_reader.h"
#include "report.h"
#include "volreport.h"

// The buffers of a run: hundreds of KiB, so on the heap rather than the
// stack, where a caller with a small stack could not give them. A run
// depends on nothing they held before, so a caller may keep them for
// many runs.
struct FilterStorage {
    LineReader in;
    ReportBuffer out;
};

// Runs the filter over `source`, reading blocks of `block_size` bytes (1 to
// `max_block_size`), and writes the report to `sink`, in `storage`.
FilterStatus filter_listing(FilterStorage& storage, ByteSource source, ByteSink sink,
                            const VolumeSelection& choice,
                            std::size_t block_size = default_block_size);

// SPDX-License-Identifier: MIT
// The listing filter, callable on any byte source and sink so that tests,
// fuzzers and benchmarks can drive it without a process.
#pragma once

#include <cstddef>

#include "line_reader.h"
#include "report.h"
#include "volreport.h"

// Runs the filter over `source`, reading blocks of `block_size` bytes (1 to
// `max_block_size`), and writes the report to `sink`. Each run has buffers
// of its own, so runs keep nothing from each other.
FilterStatus filter_listing(ByteSource source, ByteSink sink, const VolumeSelection& choice,
                            std::size_t block_size = default_block_size);

// SPDX-License-Identifier: MIT
// Helpers shared by the tests, fuzzers and benchmarks: the filter driven
// from memory, lines as the scanners want them, readable failure messages.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter.h"
#include "simd.h"

// A byte source over memory that may hand out fewer bytes than asked, the
// way a pipe does: `cap_seed` 0 gives full reads, any other value a
// repeatable sequence of short ones. With `fail_at_end` the read that would
// find the end fails instead.
struct MemorySource {
    std::string_view rest;
    unsigned cap_seed = 0;
    bool fail_at_end = false;

    static long read(void* context, char* buffer, std::size_t size);
    ByteSource source() { return {this, read}; }
};

// A sink that appends to the std::string `context` points at.
bool append_to_string(void* context, const char* data, std::size_t size);

// A sink that refuses everything.
bool refuse_bytes(void* context, const char* data, std::size_t size);

// Text followed by the readable bytes the scanners may load past its end,
// and nothing more, so that AddressSanitizer sees a load past them. They
// look like more of a field, so a scanner that used them would be seen.
// `text` keeps a terminated copy for the C library.
struct Padded {
    std::string text;
    std::unique_ptr<char[]> storage;

    explicit Padded(std::string_view line);
    PaddedLine line() const
    {
        return {{storage.get(), text.size()}, storage.get() + text.size() + scan_padding};
    }
    operator PaddedLine() const { return line(); }
};

// Block sizes for the line reader around the 1023-byte line limit, where a
// piece of a line and a block boundary can meet, a few small ones and the
// large ones; the report and the lines must not depend on them.
// clang-format off
constexpr std::size_t block_sizes[] = {1,    2,    3,    7,    31,   64,   511,  1022,
                                       1023, 1024, 1025, 2047, 2048, default_block_size,
                                       max_block_size};
// clang-format on

// The lines a 1024-byte fgets loop takes from `text`, as the byte ranges
// each call consumed, NUL bytes and all.
std::vector<std::string_view> fgets_lines(std::string_view text);

// Reads `bytes` with the line reader of `reused_storage`, in blocks of
// `block_size` from a source whose short reads follow `cap_seed`, and
// compares its lines with `fgets_lines`. With `skip` the fast pass over
// indented lines runs before every line: when it moves, it must pass over
// whole lines that begin with a space or are empty, and stop at the next
// line that does not. Says how the reader differs, or nothing.
std::string line_reader_mismatch(std::string_view bytes, std::size_t block_size, unsigned cap_seed,
                                 bool skip);

// The masks of `bytes` by their definitions, one byte at a time: entry b for
// bytes [64b, 64b + 64), no bits past the end, and no newline before the
// first byte, as a kernel takes it. The oracle of the kernels, of the line
// reader's white space and of the scanners' masks.
struct ByteLoopMasks {
    std::vector<simd::LineMasks> blocks;
    bool nuls = false; // some byte is a NUL
};
ByteLoopMasks byte_loop_masks(std::string_view bytes);

// Scans `line`, cut at its first NUL and at a line buffer's length as the
// filter hands it over, with the three scanners, without a mask and with one
// made byte by byte, and with the C library's formatted input; says how they
// differ, or nothing when they convert the same count of fields to the same
// values.
std::string scan_mismatch(std::string_view line);

// Shows invisible bytes, so that a failing comparison says which byte differs.
std::string visible(std::string_view bytes);

// Filter storage kept for the whole process and never cleared, so that
// each run starts on what the run before left: runs must not depend on it.
FilterStorage& reused_storage();

// The status and report of a run of the whole filter in-process, on
// `reused_storage`, reading from `in`.
struct FilterRun {
    FilterStatus status;
    std::string report;
};
FilterRun run_in_memory(MemorySource in, const VolumeSelection& choice = {},
                        std::size_t block_size = default_block_size);

// The report of `run_in_memory` on `listing`, with a marker appended when the
// filter reported a failure.
std::string filter_string(std::string_view listing, const VolumeSelection& choice = {},
                          std::size_t block_size = default_block_size);

// Stops the process with a message, for checks outside a test framework; a
// fuzzer then saves the input that did it.
[[noreturn]] void check_failed(const char* what, std::string_view detail = {});

inline void require(bool condition, const char* what, std::string_view detail = {})
{
    if (!condition)
        check_failed(what, detail);
}

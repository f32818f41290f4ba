// SPDX-License-Identifier: MIT
// Where the filter's bytes come from and go to, and the source and sink on
// file descriptors that the program uses.
#pragma once

#include <cstddef>

// Where the bytes come from. `read` fills at most `size` bytes of `buffer`
// and returns the count, 0 at the end of input, or -1 on failure.
struct ByteSource {
    void* context;
    long (*read)(void* context, char* buffer, std::size_t size);
};

// Where the report goes. `write` takes all of [data, data + size) and
// returns false when it could not.
struct ByteSink {
    void* context;
    bool (*write)(void* context, const char* data, std::size_t size);
};

// The source and sink on a file descriptor, which `context` points at.
// Reads and writes interrupted by a signal are made again, a non-blocking
// descriptor is waited for, and short writes are continued.
long read_descriptor(void* context, char* buffer, std::size_t size);
bool write_descriptor(void* context, const char* data, std::size_t size);

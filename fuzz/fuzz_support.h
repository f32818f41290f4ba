// SPDX-License-Identifier: MIT
// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter.h"

// Stops the run with a message; libFuzzer then saves the input that did it.
[[noreturn]] inline void fuzz_failure(const char* what, std::string_view detail = {})
{
    (void)std::fprintf(stderr, "fuzz check failed: %s\n", what);
    if (!detail.empty())
        (void)std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void require(bool condition, const char* what, std::string_view detail = {})
{
    if (!condition)
        fuzz_failure(what, detail);
}

// A byte source over memory that may hand out fewer bytes than asked, the
// way a pipe does: `cap_seed` 0 gives full reads, any other value a
// repeatable sequence of short ones. With `fail_at_end` the read that would
// find the end fails instead.
struct MemorySource {
    std::string_view rest;
    unsigned cap_seed = 0;
    bool fail_at_end = false;

    static long read(void* context, char* buffer, std::size_t size)
    {
        auto* self = static_cast<MemorySource*>(context);
        if (self->rest.empty() && self->fail_at_end)
            return -1;
        std::size_t n = size < self->rest.size() ? size : self->rest.size();
        if (self->cap_seed != 0 && n > 1) {
            self->cap_seed = self->cap_seed * 1103515245u + 12345u;
            n = 1 + (self->cap_seed >> 16) % n;
        }
        self->rest.copy(buffer, n);
        self->rest.remove_prefix(n);
        return static_cast<long>(n);
    }

    ByteSource source() { return {this, read}; }
};

inline bool append_to_string(void* context, const char* data, std::size_t size)
{
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

// SPDX-License-Identifier: MIT
// Helpers shared by the in-process tests.
#pragma once

#include <string>
#include <string_view>

#include "filter.h"
#include "visible.h"

// Text followed by the readable bytes the scanners may load past its end.
// They look like more of a field, so a scanner that used them would be seen.
struct Padded {
    std::string storage;
    std::size_t size;

    explicit Padded(std::string_view text) : storage(text), size(text.size())
    {
        storage.append(scan_padding / 2, '7').append(scan_padding / 2, 'K');
    }
    operator std::string_view() const { return {storage.data(), size}; }
};

// A byte source over a string.
struct StringSource {
    std::string_view rest;

    static long read(void* context, char* buffer, std::size_t size)
    {
        auto* self = static_cast<StringSource*>(context);
        std::size_t n = size < self->rest.size() ? size : self->rest.size();
        self->rest.copy(buffer, n);
        self->rest.remove_prefix(n);
        return static_cast<long>(n);
    }
};

inline bool append_to_string(void* context, const char* data, std::size_t size)
{
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

// Runs the whole filter in-process and returns the report.
inline std::string filter_string(std::string_view listing, const VolumeSelection& choice = {},
                                 std::size_t block_size = default_block_size)
{
    StringSource source{listing};
    std::string report;
    FilterStatus status = filter_listing({&source, StringSource::read}, {&report, append_to_string},
                                         choice, block_size);
    if (status != FilterStatus::ok)
        report += "<filter failed>";
    return report;
}

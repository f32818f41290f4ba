// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <cstdio>
#include <cstdlib>

long MemorySource::read(void* context, char* buffer, std::size_t size)
{
    auto* self = static_cast<MemorySource*>(context);
    if (self->rest.empty() && self->fail_at_end)
        return -1;
    std::size_t n = size < self->rest.size() ? size : self->rest.size();
    if (self->cap_seed != 0 && n > 1) {
        self->cap_seed = self->cap_seed * 1103515245U + 12345U;
        n = 1 + (self->cap_seed >> 16U) % n;
    }
    self->rest.copy(buffer, n);
    self->rest.remove_prefix(n);
    return static_cast<long>(n);
}

bool append_to_string(void* context, const char* data, std::size_t size)
{
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

bool refuse_bytes(void* /*context*/, const char* /*data*/, std::size_t /*size*/)
{
    return false;
}

Padded::Padded(std::string_view line) : text(line), storage(line)
{
    storage.append(scan_padding / 2, '7').append(scan_padding / 2, 'K');
}

std::string visible(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += hex[c >> 4U];
                out += hex[c & 15U];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string filter_string(std::string_view listing, const VolumeSelection& choice,
                          std::size_t block_size)
{
    MemorySource in{listing};
    std::string report;
    if (filter_listing(in.source(), {&report, append_to_string}, choice, block_size) !=
        FilterStatus::ok)
        report += "<filter failed>";
    return report;
}

void check_failed(const char* what, std::string_view detail)
{
    (void)std::fprintf(stderr, "check failed: %s\n", what);
    if (!detail.empty())
        (void)std::fprintf(stderr, "  %s\n", visible(detail).c_str());
    std::abort();
}

// SPDX-License-Identifier: MIT
// floor: the work below which no filter on the vector layer can go. It
// reads standard input in volreport's block size and classifies each block
// into line masks (newlines, white space, line starts), and does nothing
// else; bench/run.sh times volreport as a
// multiple of it. A ratio to this floor holds from machine to machine,
// where one to another program does not.
//
// Usage: floor < LISTING
//
// Prints the number of newlines, which keeps the classification from
// being optimised away. Exit status 2 when a read fails.
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "line_reader.h"
#include "simd.h"

namespace {

constexpr std::size_t blocks = (default_block_size + 63) / 64;
// The kernel takes whole 64-byte blocks, so the last one of a short read
// reaches past the bytes read, into storage that is there.
alignas(64) char data[blocks * 64];
simd::LineMasks masks[blocks];

} // namespace

int main()
{
    const simd::Kernel& kernel = simd::available_kernels().back();
    std::uint64_t newlines = 0;
    for (;;) {
        ssize_t n = ::read(0, data, default_block_size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::perror("floor: read");
            return 2;
        }
        if (n == 0)
            break;
        auto size = static_cast<std::size_t>(n);
        std::size_t used = (size + 63) / 64;
        // Bytes left from the last read would count their newlines again.
        std::memset(data + size, ' ', used * 64 - size);
        kernel.classify_lines(data, used, masks);
        for (std::size_t i = 0; i < used; ++i)
            newlines += static_cast<std::uint64_t>(std::popcount(masks[i].newlines));
    }
    std::printf("%llu\n", static_cast<unsigned long long>(newlines));
    return 0;
}

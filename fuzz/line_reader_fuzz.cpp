// SPDX-License-Identifier: MIT
// The line reader against a plain fgets loop with a 1024-byte buffer: any
// bytes, any block size and any pattern of short reads give the same
// sequence of lines. fgets lines may hold NUL bytes, so lines are compared
// as the byte ranges each call consumed. With the low bit of the third byte
// set, the fast pass over indented lines runs before every line, and what it
// passes over must be whole lines that begin with a space or are empty.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "test_support.h"

namespace {

// The first input byte picks a block size from the table, or with its top
// bit set, together with the second byte, any size up to 32768.
std::size_t block_size_from(const std::uint8_t* data)
{
    if ((data[0] & 0x80U) != 0)
        return 1 + (static_cast<std::size_t>(data[0] & 0x7fU) << 8 | data[1]);
    return block_sizes[data[0] % std::size(block_sizes)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
    std::string mismatch =
        line_reader_mismatch(bytes, block_size_from(data), data[2] >> 1U, (data[2] & 1U) != 0);
    require(mismatch.empty(), "the line reader takes the lines fgets takes", mismatch);
    return 0;
}

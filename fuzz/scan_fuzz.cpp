// SPDX-License-Identifier: MIT
// The three scanning patterns against the C library's formatted input on the
// same bytes: the same count of converted fields and the same values, with
// and without the line's white space given. The line is cut at its first NUL
// and at a line buffer's length, as the filter hands it over; with the first
// byte odd it is read as a quota line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1U) != 0)
        line.insert(0, quota_prefix);
    std::string mismatch = scan_mismatch(line);
    require(mismatch.empty(), "scans agree with sscanf", mismatch);
    return 0;
}

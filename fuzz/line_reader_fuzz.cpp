// SPDX-License-Identifier: MIT
// The line reader against a plain fgets loop with a 1024-byte buffer: any
// bytes, any block size and any pattern of short reads give the same
// sequence of lines. fgets lines may hold NUL bytes, so lines are compared
// as the byte ranges each call consumed. With the low bit of the third byte
// set, the fast pass over indented lines runs before every line, and what it
// passes over must be whole lines that begin with a space or are empty.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "line_reader.h"
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
    std::size_t block_size = block_size_from(data);
    std::string_view bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

    MemorySource in{bytes, static_cast<unsigned>(data[2] >> 1U)};
    bool skip_indented = (data[2] & 1U) != 0;
    // One reader for every input, never cleared: a run must not depend on
    // what the run before left.
    LineReader& reader = reused_storage().in;
    reader.open(in.source(), block_size);

    FILE* plain =
        bytes.empty() ? nullptr : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    require(bytes.empty() || plain != nullptr, "fmemopen");
    // Zeroed, because fgets writes the bytes after a NUL in a line without
    // MemorySanitizer knowing: it takes the line to end at the NUL.
    char buffer[1024] = {};
    long consumed = 0;

    // Where the reader's next line starts in `bytes`.
    auto position = [&] {
        return static_cast<long>(bytes.size() - in.rest.size() - reader.unread().size());
    };

    for (;;) {
        if (skip_indented) {
            long before = position();
            reader.skip_indented_lines();
            require(position() >= before, "the fast pass only moves on");
            for (long skipped_to = position(); consumed < skipped_to;) {
                require(std::fgets(buffer, sizeof buffer, plain) != nullptr,
                        "the fast pass passes over lines fgets has");
                long after = std::ftell(plain);
                std::string_view skipped = bytes.substr(static_cast<std::size_t>(consumed),
                                                        static_cast<std::size_t>(after - consumed));
                require(skipped[0] == ' ' || skipped[0] == '\n',
                        "the fast pass passes over indented and empty lines only", skipped);
                require(skipped.back() == '\n' && after <= skipped_to,
                        "the fast pass passes over whole lines only", skipped);
                consumed = after;
            }
        }
        PaddedLine padded;
        if (!reader.take_line(padded)) {
            if (reader.source_ended())
                break;
            require(reader.refill(), "a memory source never fails");
            continue;
        }
        // The whole line ends where the reader goes on; its text, at its
        // first NUL.
        std::string_view text = padded.text();
        std::string_view line(text.data(), static_cast<std::size_t>(reader.unread().data() - text.data()));
        require(text == line.substr(0, line.find('\0')), "the text ends at the first NUL", line);
        require(plain != nullptr && std::fgets(buffer, sizeof buffer, plain) != nullptr,
                "fgets has a line too", line);
        long after = std::ftell(plain);
        auto length = static_cast<std::size_t>(after - consumed);
        require(line.size() == length, "same line length", line);
        require(line == bytes.substr(static_cast<std::size_t>(consumed), length), "same line bytes",
                line);
        require(std::memcmp(buffer, line.data(), length) == 0 && buffer[length] == '\0',
                "fgets read the same bytes", line);
        consumed = after;
    }
    require(static_cast<std::size_t>(consumed) == bytes.size(), "every byte is in a line");
    if (plain != nullptr) {
        require(std::fgets(buffer, sizeof buffer, plain) == nullptr, "fgets has no more lines");
        (void)std::fclose(plain);
    }
    return 0;
}

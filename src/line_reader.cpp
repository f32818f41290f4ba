#include "line_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

long read_descriptor(void* context, char* buffer, std::size_t size)
{
    int fd = *static_cast<int*>(context);
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void init_line_reader(LineReader& reader, ByteSource source, char* storage,
                      std::size_t block_size)
{
    reader.source = source;
    reader.block_size = block_size == 0 ? 1 : block_size;
    reader.storage = storage;
    reader.begin = storage;
    reader.end = storage;
    reader.at_end = false;
}

bool take_line(LineReader& reader, std::string_view& line)
{
    std::size_t available = static_cast<std::size_t>(reader.end - reader.begin);
    std::size_t window = available < max_line_bytes ? available : max_line_bytes;
    const void* newline = std::memchr(reader.begin, '\n', window);
    std::size_t length;
    if (newline != nullptr)
        length = static_cast<std::size_t>(static_cast<const char*>(newline) - reader.begin) + 1;
    else if (available >= max_line_bytes || (reader.at_end && available > 0))
        length = window;
    else
        return false;
    line = std::string_view(reader.begin, length);
    reader.begin += length;
    return true;
}

bool refill(LineReader& reader)
{
    // Keep the partial line at the front so that it stays contiguous; it is
    // shorter than a line, so a whole block always fits behind it.
    std::size_t kept = static_cast<std::size_t>(reader.end - reader.begin);
    if (reader.begin != reader.storage) {
        std::memmove(reader.storage, reader.begin, kept);
        reader.begin = reader.storage;
        reader.end = reader.storage + kept;
    }
    long n = reader.source.read(reader.source.context, reader.storage + kept,
                                reader.block_size);
    if (n < 0)
        return false;
    if (n == 0)
        reader.at_end = true;
    reader.end += n;
    return true;
}

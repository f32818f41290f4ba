// SPDX-License-Identifier: MIT
#include "io.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// One `call` (read or write) on `fd`, made again while it is interrupted
// by a signal, and, on a descriptor left non-blocking by whoever opened
// it, after waiting until it is ready for `events`.
template <auto call, typename Bytes>
ssize_t transfer(int fd, Bytes bytes, std::size_t size, short events)
{
    ssize_t n;
    while ((n = call(fd, bytes, size)) < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd ready{fd, events, 0};
            if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
                return -1;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return n;
}

} // namespace

long read_descriptor(void* context, char* buffer, std::size_t size)
{
    return transfer<::read>(*static_cast<int*>(context), buffer, size, POLLIN);
}

bool write_descriptor(void* context, const char* data, std::size_t size)
{
    while (size > 0) {
        // Nothing written for a non-empty buffer is no progress: retrying
        // would spin for ever on a device that keeps answering 0.
        ssize_t n = transfer<::write>(*static_cast<int*>(context), data, size, POLLOUT);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

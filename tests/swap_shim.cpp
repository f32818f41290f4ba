// SPDX-License-Identifier: MIT
// Preloaded into the program by the command-line tests to widen a race that
// is otherwise a matter of luck: just before the program opens the file
// named by VOLREPORT_SWAP_NAME for writing, that name is replaced by a
// symbolic link to VOLREPORT_SWAP_TARGET, as another process renaming a
// link into the output directory at that moment would do. Opening the name
// VOLREPORT_DENY_WRITE names for writing fails with EACCES, as for a
// read-only file under any user but root. And closing the descriptor
// VOLREPORT_CLOSE_FAILS names releases it but fails with EIO, as a network
// file system reports a write error that it found late.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

void swap_in_link(const char* path, int flags)
{
    const char* name = std::getenv("VOLREPORT_SWAP_NAME");
    const char* target = std::getenv("VOLREPORT_SWAP_TARGET");
    if (name == nullptr || target == nullptr || (flags & O_ACCMODE) == O_RDONLY ||
        std::strcmp(path, name) != 0)
        return;
    std::string temporary = std::string(name) + ".swap";
    if (::symlink(target, temporary.c_str()) != 0 || std::rename(temporary.c_str(), name) != 0)
        std::abort();
}

} // namespace

// On the systems the shim runs on, open64 is the C library's open under a
// second name, so one function stands in for both.
extern "C" int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    // The mode is passed only when the call can create a file.
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    swap_in_link(path, flags);
    const char* denied = std::getenv("VOLREPORT_DENY_WRITE");
    if (denied != nullptr && (flags & O_ACCMODE) != O_RDONLY && std::strcmp(path, denied) == 0) {
        errno = EACCES;
        return -1;
    }
    auto real = reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, "open"));
    return real(path, flags, mode);
}
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

extern "C" int close(int fd)
{
    auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "close"));
    const char* failing = std::getenv("VOLREPORT_CLOSE_FAILS");
    if (real(fd) != 0)
        return -1;
    if (failing == nullptr || std::atoi(failing) != fd)
        return 0;
    errno = EIO;
    return -1;
}

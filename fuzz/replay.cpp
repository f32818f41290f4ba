// SPDX-License-Identifier: MIT
// Feeds every file in the directories named to a fuzz target's
// LLVMFuzzerTestOneInput without libFuzzer, in name order, so that its
// corpus runs as a regression test with any compiler. A failed check stops
// the process, as it would stop the fuzzer; the last name printed is the
// input that did it.
//
// Files are listed and read with the C library alone: MemorySanitizer sees
// what the C library writes, but not what the compiled parts of the C++
// library write, so this driver runs in the msan build too.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int not_dot(const dirent* entry)
{
    return std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
}

// Replays the file `name` in the directory `dir`; false when it cannot be
// read. The input is in a buffer of exactly its size, as libFuzzer gives it,
// so that the sanitizers catch a read past its end.
bool replay(int dir, const char* name)
{
    int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    auto size = static_cast<std::size_t>(status.st_size);
    auto data = std::make_unique<std::uint8_t[]>(size);
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd, data.get() + done, size - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (done != size)
        return false;
    LLVMFuzzerTestOneInput(data.get(), size);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        dirent** names = nullptr;
        int dir = ::open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int count = dir < 0 ? -1 : ::scandir(argv[i], &names, not_dot, alphasort);
        if (count < 0) {
            (void)std::fprintf(stderr, "cannot list %s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        for (int k = 0; k < count; ++k) {
            (void)std::fprintf(stderr, "%s/%s\n", argv[i], names[k]->d_name);
            if (!replay(dir, names[k]->d_name)) {
                (void)std::fprintf(stderr, "cannot read it: %s\n", std::strerror(errno));
                return 1;
            }
            std::free(names[k]);
        }
        std::free(names);
        ::close(dir);
        replayed += static_cast<std::size_t>(count);
    }
    // An empty corpus would pass without checking anything.
    if (replayed == 0) {
        (void)std::fprintf(stderr, "no corpus to replay\n");
        return 1;
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}

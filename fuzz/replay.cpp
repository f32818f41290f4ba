// SPDX-License-Identifier: MIT
// Feeds files to a fuzz target's LLVMFuzzerTestOneInput without libFuzzer,
// so that its corpus runs as a regression test with any compiler. Each
// argument is a file or a directory whose files are all run, in name order.
// A failed check stops the process, as it would stop the fuzzer; the last
// name printed is the input that did it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Runs one input from a buffer of exactly its size, as libFuzzer does, so
// that the sanitizers catch a read past its end.
bool replay(const std::filesystem::path& file)
{
    std::error_code error;
    std::size_t size = std::filesystem::file_size(file, error);
    auto data = std::make_unique<std::uint8_t[]>(error ? 0 : size);
    std::ifstream in(file, std::ios::binary);
    if (error || !in.read(reinterpret_cast<char*>(data.get()), static_cast<std::streamsize>(size))) {
        (void)std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    (void)std::fprintf(stderr, "%s\n", file.c_str());
    LLVMFuzzerTestOneInput(data.get(), size);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
        if (error) {
            (void)std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    std::sort(files.begin(), files.end());
    if (!std::all_of(files.begin(), files.end(), replay))
        return 1;
    std::printf("%zu inputs replayed\n", files.size());
    // An empty corpus would pass without checking anything.
    return files.empty() ? 1 : 0;
}

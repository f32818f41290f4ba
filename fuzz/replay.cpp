// SPDX-License-Identifier: MIT
// Feeds every file in the directories named to a fuzz target's
// LLVMFuzzerTestOneInput without libFuzzer, in name order, so that its
// corpus runs as a regression test with any compiler. A failed check stops
// the process, as it would stop the fuzzer; the last name printed is the
// input that did it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (int i = 1; i < argc && !error; ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    // An empty corpus would pass without checking anything.
    if (error || files.empty()) {
        (void)std::fprintf(stderr, "no corpus to replay: %s\n", error.message().c_str());
        return 1;
    }
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // A buffer of exactly the input's size, as libFuzzer gives it, so
        // that the sanitizers catch a read past its end.
        auto data = std::make_unique<std::uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), data.get());
        (void)std::fprintf(stderr, "%s\n", file.c_str());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}

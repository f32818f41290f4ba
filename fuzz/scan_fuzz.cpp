// SPDX-License-Identifier: MIT
// The three scanning patterns against the C library's formatted input on the
// same bytes: the same count of converted fields and the same values. The
// line is cut at its first NUL, as the filter hands it over, and the scanners
// get a copy followed only by the bytes they may load past its end; those
// look like more of a field, so a scanner that used them would be caught,
// and a load further out is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "scan.h"
#include "test_support.h"

namespace {

int converted(int sscanf_result)
{
    return sscanf_result == EOF ? 0 : sscanf_result;
}

template <std::size_t N>
void require_word(const Word<N>& word, const char* expected, const char* what,
                  std::string_view line)
{
    require(word.view() == expected, what, line);
    require(word.size <= N && word.text[word.size] == '\0', what, line);
}

// NOLINTBEGIN(cert-err34-c): the C library's conversion rules are the oracle here
void check_header(std::string_view exact, const char* line)
{
    VolumeRecord record;
    char name[63] = "";
    char type[9] = "";
    char status[19] = "";
    unsigned long number = 0;
    unsigned long size = 0;
    int fields = scan_header(exact, record);
    int expected =
        converted(std::sscanf(line, "%62s%lu%8s%lu K %18s", name, &number, type, &size, status));
    require(fields == expected, "header: same count of fields", exact);
    if (fields >= 1)
        require_word(record.name, name, "header: name", exact);
    if (fields >= 2)
        require(record.volume_number == number, "header: volume number", exact);
    if (fields >= 3)
        require_word(record.type, type, "header: type", exact);
    if (fields >= 4)
        require(record.size_k == size, "header: size", exact);
    if (fields >= 5)
        require_word(record.status, status, "header: status", exact);
}

void check_first_detail(std::string_view exact, const char* line)
{
    VolumeRecord record;
    char word_1[127] = "";
    char word_2[15] = "";
    int fields = scan_first_detail(exact, record);
    int expected = converted(std::sscanf(line, "%126s%14s", word_1, word_2));
    require(fields == expected, "first detail: same count of words", exact);
    if (fields >= 1)
        require_word(record.detail_word_1, word_1, "first detail: first word", exact);
    if (fields >= 2)
        require_word(record.detail_word_2, word_2, "first detail: second word", exact);
}

void check_quota(std::string_view exact, const char* line)
{
    VolumeRecord record;
    unsigned long quota = 0;
    int fields = scan_quota(exact, record);
    int expected = converted(std::sscanf(line, "%lu K", &quota));
    require(fields == expected, "quota: same count", exact);
    if (fields == 1)
        require(record.max_quota_k == quota, "quota: value", exact);
}
// NOLINTEND(cert-err34-c)

template <std::size_t N>
bool same_word(const Word<N>& a, const Word<N>& b)
{
    return a.view() == b.view();
}

// Given the line's white space, the scans give the same fields as when they
// find it themselves.
void check_masked(std::string_view exact)
{
    if (exact.size() > 127)
        return;
    simd::Mask128 spaces{0, 0};
    for (std::size_t i = 0; i < exact.size(); ++i) {
        if (is_space(exact[i]))
            (i < 64 ? spaces.low : spaces.high) |= std::uint64_t{1} << (i % 64);
    }
    // Bits past the line must not count.
    constexpr std::uint64_t noise = 0xaaaaaaaaaaaaaaaa;
    std::size_t size = exact.size();
    spaces.low |= noise & (size >= 64 ? 0 : ~std::uint64_t{0} << size);
    spaces.high |= noise & (size <= 64 ? ~std::uint64_t{0} : ~std::uint64_t{0} << (size - 64));
    VolumeRecord plain;
    VolumeRecord masked;
    int fields = scan_header(exact, plain);
    require(scan_header_masked(exact, spaces, masked) == fields, "masked header: count", exact);
    require(same_word(plain.name, masked.name) && plain.volume_number == masked.volume_number &&
                same_word(plain.type, masked.type) && plain.size_k == masked.size_k &&
                same_word(plain.status, masked.status),
            "masked header: fields", exact);
    fields = scan_first_detail(exact, plain);
    require(scan_first_detail_masked(exact, spaces, masked) == fields, "masked detail: count",
            exact);
    require(same_word(plain.detail_word_1, masked.detail_word_1) &&
                same_word(plain.detail_word_2, masked.detail_word_2),
            "masked detail: words", exact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), size);
    line.resize(std::strlen(line.c_str()));
    auto exact = std::make_unique<char[]>(line.size() + scan_padding);
    std::memcpy(exact.get(), line.data(), line.size());
    for (std::size_t i = 0; i < scan_padding; ++i)
        exact[line.size() + i] = "7K"[i % 2];
    std::string_view view(exact.get(), line.size());

    check_header(view, line.c_str());
    check_first_detail(view, line.c_str());
    check_quota(view, line.c_str());
    check_masked(view);
    return 0;
}

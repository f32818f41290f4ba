// SPDX-License-Identifier: MIT
// A literal reading of the listing rules, kept free of anything clever: its
// only job is to be obviously right. It has its own selection test so that
// a fault in the program's cannot hide in both.
#include "plain_filter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

namespace {

bool wanted(const VolumeSelection& choice, const char* type, const char* status)
{
    if (std::strcmp(type, "RW") == 0 && !choice.include_read_write)
        return false;
    if (std::strcmp(type, "RO") == 0 && !choice.include_read_only)
        return false;
    if (std::strcmp(type, "BK") == 0 && !choice.include_backup)
        return false;
    if (std::strcmp(status, "Off-line") == 0 && !choice.include_offline)
        return false;
    if (std::strcmp(status, "On-line") == 0 && !choice.include_online)
        return false;
    return true;
}

} // namespace

// NOLINTBEGIN(cert-err34-c): the C library's conversion rules are the point here
void plain_filter(std::FILE* in, std::FILE* out, const VolumeSelection& choice)
{
    char line[1024];
    char name[63], type[9], status[19], word1[127], word2[15];
    unsigned long number, size, quota;
    while (std::fgets(line, sizeof line, in)) {
        if (line[0] == ' ' || line[0] == '\n')
            continue;
        if (std::strncmp(line, "Total number of", 15) == 0 ||
            std::strncmp(line, "Total volumes on", 16) == 0)
            continue;
        if (std::sscanf(line, "%62s%lu%8s%lu K %18s", name, &number, type, &size, status) != 5)
            continue;
        if (!wanted(choice, type, status))
            continue;
        if (!std::fgets(line, sizeof line, in) || std::strncmp(line, "    ", 4) != 0 ||
            std::sscanf(line, "%126s%14s", word1, word2) < 2)
            continue;
        if (!std::fgets(line, sizeof line, in) || std::strncmp(line, "    ", 4) != 0)
            continue;
        if (!std::fgets(line, sizeof line, in) || std::strncmp(line, "    MaxQuota ", 13) != 0 ||
            std::sscanf(line + 13, "%lu K", &quota) < 1)
            continue;
        (void)std::fprintf(out, "%-32s %9lu %9lu %s %s %s\n", name, quota, size, type, word1,
                           word2);
    }
}
// NOLINTEND(cert-err34-c)

std::string plain_report(std::string_view listing, const VolumeSelection& choice)
{
    // fmemopen refuses an empty buffer, and there is nothing to report then.
    if (listing.empty())
        return {};
    // Mode "r" only reads the buffer.
    std::FILE* in = fmemopen(const_cast<char*>(listing.data()), listing.size(), "r");
    if (in == nullptr)
        check_failed("fmemopen", std::strerror(errno));
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    if (out == nullptr)
        check_failed("open_memstream", std::strerror(errno));
    plain_filter(in, out, choice);
    (void)std::fclose(in);
    if (std::fclose(out) != 0)
        check_failed("open_memstream", std::strerror(errno));
    std::string report(text, size);
    std::free(text);
    return report;
}

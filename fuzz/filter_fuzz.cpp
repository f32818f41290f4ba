// SPDX-License-Identifier: MIT
// The whole filter on arbitrary bytes. The first byte flips the selection
// switches and picks a block size; the rest is the listing. The report must
// keep its layout, must not depend on how the input is cut into blocks, and
// must be the one the plain fgets/sscanf loop writes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "filter.h"
#include "fuzz_support.h"

namespace {

VolumeSelection selection_from(unsigned char bits)
{
    VolumeSelection choice;
    choice.include_read_write ^= (bits & 1U) != 0;
    choice.include_read_only ^= (bits & 2U) != 0;
    choice.include_backup ^= (bits & 4U) != 0;
    choice.include_online ^= (bits & 8U) != 0;
    choice.include_offline ^= (bits & 16U) != 0;
    return choice;
}

// Block sizes around the 1023-byte line limit, where a piece of a line and
// a block boundary can meet.
constexpr std::size_t odd_block_sizes[] = {2, 3, 7, 512, 1022, 1023, 1024, 1025};

struct Run {
    FilterStatus status;
    std::string report;
};

Run run_filter_on(std::string_view listing, const VolumeSelection& choice, std::size_t block_size,
                  unsigned cap_seed = 0, bool fail_at_end = false)
{
    MemorySource in{listing, cap_seed, fail_at_end};
    Run run{FilterStatus::ok, {}};
    run.status = filter_listing(in.source(), {&run.report, append_to_string}, choice, block_size);
    return run;
}

bool always_fails(void* /*context*/, const char* /*data*/, std::size_t /*size*/)
{
    return false;
}

bool is_white(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t word_length(std::string_view text)
{
    std::size_t n = 0;
    while (n < text.size() && !is_white(text[n]))
        ++n;
    return n;
}

// Takes a word of 1 to `max` bytes and the byte `after` that must follow it.
std::string_view take_word(std::string_view& rest, std::size_t max, char after, const char* what,
                           std::string_view line)
{
    std::size_t n = word_length(rest);
    require(n >= 1 && n <= max, what, line);
    require(n < rest.size() && rest[n] == after, what, line);
    std::string_view word = rest.substr(0, n);
    rest.remove_prefix(n + 1);
    return word;
}

// A number column: all digits of a 64-bit value, right-aligned in 9 bytes.
void take_number(std::string_view& rest, const char* what, std::string_view line)
{
    std::size_t spaces = 0;
    while (spaces < rest.size() && rest[spaces] == ' ')
        ++spaces;
    std::size_t digits = 0;
    while (spaces + digits < rest.size() && is_digit(rest[spaces + digits]))
        ++digits;
    require(digits >= 1 && digits <= 20, what, line);
    require(spaces + digits == (digits < 9 ? 9 : digits), what, line);
    require(digits == 1 || rest[spaces] != '0', what, line);
    if (digits == 20)
        require(rest.substr(spaces, 20) <= "18446744073709551615", what, line);
    require(spaces + digits < rest.size() && rest[spaces + digits] == ' ', what, line);
    rest.remove_prefix(spaces + digits + 1);
}

bool contains(std::string_view haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string_view::npos;
}

std::size_t count_of(std::string_view haystack, std::string_view needle)
{
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string_view::npos;
         at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

void check_report_line(std::string_view line, std::string_view listing,
                       const VolumeSelection& choice)
{
    std::string_view rest = line;
    std::size_t name_size = word_length(rest);
    require(name_size >= 1 && name_size <= 62, "name is 1 to 62 bytes", line);
    std::size_t width = name_size < 32 ? 32 : name_size;
    require(rest.size() > width, "name column is complete", line);
    for (std::size_t i = name_size; i <= width; ++i)
        require(rest[i] == ' ', "name is padded to 32 bytes and a space", line);
    std::string_view name = rest.substr(0, name_size);
    rest.remove_prefix(width + 1);

    take_number(rest, "quota column", line);
    take_number(rest, "size column", line);
    std::string_view type = take_word(rest, 8, ' ', "type column", line);
    std::string_view word_1 = take_word(rest, 126, ' ', "first detail word", line);
    std::string_view word_2 = take_word(rest, 14, '\n', "second detail word", line);
    require(rest.empty(), "nothing after the sixth column", line);

    for (std::string_view field : {name, type, word_1, word_2})
        require(contains(listing, field), "every text field comes from the listing", line);
    require(type != "RW" || choice.include_read_write, "RW only when wanted", line);
    require(type != "RO" || choice.include_read_only, "RO only when wanted", line);
    require(type != "BK" || choice.include_backup, "BK only when wanted", line);
}

// The same listing the plain way, with the C library's line reading and
// formatted input, as a second opinion on the whole report.
std::string stdio_report(std::string_view listing, const VolumeSelection& choice)
{
    std::string report;
    if (listing.empty())
        return report;
    FILE* in = fmemopen(const_cast<char*>(listing.data()), listing.size(), "r");
    require(in != nullptr, "fmemopen");
    char line[1024];
    char name[63];
    char type[9];
    char status[19];
    char word_1[127];
    char word_2[15];
    unsigned long number = 0;
    unsigned long size = 0;
    unsigned long quota = 0;
    // NOLINTBEGIN(cert-err34-c): the C library's conversion rules are the oracle here
    while (std::fgets(line, sizeof line, in) != nullptr) {
        if (line[0] == ' ' || line[0] == '\n')
            continue;
        if (std::strncmp(line, "Total number of", 15) == 0 ||
            std::strncmp(line, "Total volumes on", 16) == 0)
            continue;
        if (std::sscanf(line, "%62s%lu%8s%lu K %18s", name, &number, type, &size, status) != 5)
            continue;
        if (!is_selected(choice, type, status))
            continue;
        if (std::fgets(line, sizeof line, in) == nullptr || std::strncmp(line, "    ", 4) != 0 ||
            std::sscanf(line, "%126s%14s", word_1, word_2) < 2)
            continue;
        if (std::fgets(line, sizeof line, in) == nullptr || std::strncmp(line, "    ", 4) != 0)
            continue;
        if (std::fgets(line, sizeof line, in) == nullptr ||
            std::strncmp(line, "    MaxQuota ", 13) != 0 ||
            std::sscanf(line + 13, "%lu K", &quota) < 1)
            continue;
        char out[320];
        int n = std::snprintf(out, sizeof out, "%-32s %9lu %9lu %s %s %s\n", name, quota, size,
                              type, word_1, word_2);
        require(n > 0 && static_cast<std::size_t>(n) < sizeof out, "report line fits");
        report.append(out, static_cast<std::size_t>(n));
    }
    // NOLINTEND(cert-err34-c)
    (void)std::fclose(in);
    return report;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    VolumeSelection choice = selection_from(data[0]);
    std::string_view listing(reinterpret_cast<const char*>(data) + 1, size - 1);

    Run whole = run_filter_on(listing, choice, default_block_size);
    require(whole.status == FilterStatus::ok, "a memory source never fails");
    const std::string& report = whole.report;

    require(report.empty() || report.back() == '\n', "every report line ends with a newline",
            report);
    std::size_t lines = 0;
    for (std::size_t start = 0; start < report.size(); ++lines) {
        std::size_t end = report.find('\n', start) + 1;
        check_report_line(std::string_view(report).substr(start, end - start), listing, choice);
        start = end;
    }
    require(lines <= count_of(listing, "    MaxQuota "),
            "every report line takes a line beginning with \"    MaxQuota \"");

    require(run_filter_on(listing, choice, 1).report == report,
            "one-byte blocks give the same report");
    unsigned seed = data[0] | 1U;
    Run cut = run_filter_on(listing, choice, odd_block_sizes[data[0] >> 5], seed);
    require(cut.status == FilterStatus::ok && cut.report == report,
            "odd blocks and short reads give the same report");

    require(stdio_report(listing, choice) == report, "the fgets/sscanf loop agrees", report);

    // A source that fails where it would end: the lines before it stay,
    // and nothing is made up.
    Run failed = run_filter_on(listing, choice, odd_block_sizes[data[0] >> 5], seed, true);
    require(failed.status == FilterStatus::read_error, "a read failure is reported");
    require(report.compare(0, failed.report.size(), failed.report) == 0,
            "a read failure keeps a prefix of the report");

    // A sink that refuses everything is reported exactly when there was
    // something to write.
    MemorySource in{listing};
    FilterStatus refused = filter_listing(in.source(), {nullptr, always_fails}, choice);
    require((refused == FilterStatus::write_error) == !report.empty(),
            "a write failure is reported when there is a report");
    return 0;
}

// SPDX-License-Identifier: MIT
// The whole filter against the plain fgets/sscanf filter on listings built
// from the input bytes. Raw bytes rarely make a complete record, so the input
// is read as a list of decisions: which kind of block comes next (a volume,
// a summary line, a long line, raw bytes, ...) and how to damage it (CR and
// CRLF ends, tabs, NULs, words at their width limits, numbers around 2^64
// with signs, lines of 1020 to 1026 bytes, headers where detail lines should
// be). Once the input runs out every decision is 0, which is always the
// plain, well-formed choice.
//
// Input: byte 0 flips the selection switches (bits 0-4); byte 1 picks the
// block size (low four bits) and the pattern of short reads (high four
// bits); the rest drives the generator.
//
// Checks: the report is the plain filter's; it does not depend on the block
// size or on short reads; a source that fails where it would end keeps the
// report up to the last complete line; a sink that refuses everything is
// reported exactly when there is something to write; every report line has
// the report's layout.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "filter.h"
#include "plain_filter.h"
#include "test_support.h"

namespace {

using namespace std::string_view_literals;

// Past this size the generator stops: bigger listings only make each run
// slower, and every shape it builds fits well below it.
constexpr std::size_t max_listing_size = std::size_t{4} * 1024;

// Hands out the input's bytes one decision at a time, and 0 once they have
// run out.
struct Choices {
    const std::uint8_t* next;
    std::size_t left;

    std::uint8_t byte()
    {
        if (left == 0)
            return 0;
        --left;
        return *next++;
    }
    std::size_t below(std::size_t n) { return byte() % n; }
    template <class Table>
    auto pick(const Table& table)
    {
        return table[below(std::size(table))];
    }
    // Any entry of `table` when `odd`, else its realistic entry 0.
    template <class Table>
    auto pick_if(bool odd, const Table& table)
    {
        return odd ? pick(table) : table[0];
    }
    // Up to `max` of the input's bytes, as they are.
    std::string_view raw(std::size_t max)
    {
        std::size_t n = below(max + 1);
        if (n > left)
            n = left;
        std::string_view bytes(reinterpret_cast<const char*>(next), n);
        next += n;
        left -= n;
        return bytes;
    }
};

// ---- the pieces of a listing; entry 0 of each table is the realistic one ----

constexpr std::string_view names[] = {
    "home.alice",
    "proj.orbit.delta",
    "sw.cascade.prism.eu-west.ro",
    "logs.tundra.ember.bk",
    "Total",
    "Totally",
    "vol.a",
    "x",
};
constexpr std::string_view types[] = {"RW", "RO", "BK", "XX", "rw", "RWX", "R", "BKK"};
constexpr std::string_view statuses[] = {
    "On-line", "Off-line", "busy", "Offline", "on-line", "On-linee", "Off-lin", "On-line\0x"sv,
};
constexpr std::string_view servers[] = {"fs1.example.org", "fs12.example.org", "a", "fs.b"};
constexpr std::string_view partitions[] = {"/part/a", "/part/b", "/vicepa", "b"};

// Numbers as the scanners meet them: at and around 2^64, with signs, with
// leading zeros, and signs or letters that end a number early.
constexpr std::string_view numbers[] = {
    "536870915",
    "0",
    "18446744073709551615",
    "18446744073709551616",
    "18446744073709551614",
    "99999999999999999999999",
    "-1",
    "-0",
    "+5",
    "-18446744073709551615",
    "-18446744073709551616",
    "+18446744073709551616",
    "0000000000000000000000000042",
    "4294967296",
    "- 5",
    "+",
    "-",
    "12abc",
    "0x10",
    "+-3",
    "1844674407370955161",
    "184467440737095516150",
};
constexpr std::string_view separators[] = {" ", "  ", "\t", " \t ", "", "\v", "\f", "\r"};
constexpr std::string_view k_words[] = {" K ", "K ", " K", " KB ", " ", " k ", "K", " \tK\t"};
constexpr std::string_view indents[] = {"    ", "   ", "\t", "      ", "  \t ", "     ", " ", ""};
constexpr std::string_view quota_prefixes[] = {
    "    MaxQuota ", "     MaxQuota ", "    MaxQuota\t", "    MaxQuota",
    "   MaxQuota ",  "    Maxquota ",  "    MaxQuota  ", "\tMaxQuota ",
};
constexpr std::string_view quota_ends[] = {" K", "", " M", "K", " K extra", "\tK", " KB", "x"};
constexpr std::string_view summaries[] = {
    "Total number of volumes on server fs1.example.org partition /part/a: 5",
    "Total volumes on-line 11 ; off-line 1 ; busy 0",
    "Total number of",
    "Total volumes on",
    "Total number o",
    "Total volumes o",
    " Total number of volumes",
    "\tTotal volumes on-line 1",
};
constexpr std::string_view short_lines[] = {"\n",     "\r\n",   " \n",  "\t\n",
                                            "\0\n"sv, "    \n", "\v\n", ""};
constexpr std::string_view trailers[] = {
    "    created       2019-03-11 09:14:02",
    "    files     48211 ; dirs    2390",
    "    reads 1822 today ; 9410 this week",
    "",
};

// Appends a word of `size` bytes whose bytes say where they stand, so that a
// word cut in the wrong place shows in the report.
void put_word(std::string& out, std::size_t size, char first)
{
    for (std::size_t i = 0; i < size; ++i)
        out += static_cast<char>('a' + (first - 'a' + i) % 26);
}

// A word just under, at or just over the width `limit`, or twice over it.
void put_limit_word(std::string& out, Choices& in, std::size_t limit, char first)
{
    std::size_t pick = in.below(4);
    put_word(out, pick == 3 ? 2 * limit + 1 : limit - 1 + pick, first);
}

// A realistic number, or with `odd` one from the table or any 64-bit value
// with or without a minus sign. Right-aligned in `width` bytes when that is
// given.
void put_number(std::string& out, Choices& in, bool odd, std::size_t width = 0)
{
    std::uint64_t value = std::uint64_t{in.byte()} * 4099U;
    std::size_t pick = odd ? in.below(std::size(numbers) + 2) : std::size(numbers) + 1;
    if (pick < std::size(numbers)) {
        out += numbers[pick];
        return;
    }
    if (odd) {
        for (int i = 0; i < 8; ++i)
            value = value << 8U | in.byte();
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    auto size = static_cast<std::size_t>(end - digits) + (pick == std::size(numbers) ? 1 : 0);
    if (size < width)
        out.append(width - size, ' ');
    if (pick == std::size(numbers))
        out += '-';
    out.append(digits, end);
}

// Damage to one volume, one bit each.
enum Damage : unsigned {
    crlf_ends = 1U << 0U,
    odd_separators = 1U << 1U,
    width_limits = 1U << 2U,
    odd_numbers = 1U << 3U,
    line_replaced = 1U << 4U,
    odd_indents = 1U << 5U,
    nul_byte = 1U << 6U,
    long_line = 1U << 7U,
};

// A word at its width limits when `limits`, else one from `table`.
template <class Table>
void put_field(std::string& out, Choices& in, bool limits, std::size_t limit, char first,
               const Table& table)
{
    if (limits)
        put_limit_word(out, in, limit, first);
    else
        out += in.pick(table);
}

void put_header(std::string& out, Choices& in, unsigned damage)
{
    std::size_t start = out.size();
    bool limits = (damage & width_limits) != 0;
    bool separators_odd = (damage & odd_separators) != 0;
    bool numbers_odd = (damage & odd_numbers) != 0;
    put_field(out, in, limits, 62, 'a', names);
    // Listings align the volume number at column 34.
    if (!separators_odd)
        out.append(out.size() - start < 33 ? 34 - (out.size() - start) : 1, ' ');
    else
        out += in.pick(separators);
    put_number(out, in, numbers_odd);
    out += in.pick_if(separators_odd, separators);
    put_field(out, in, limits && in.byte() % 2 != 0, 8, 'r', types);
    out += in.pick_if(separators_odd, separators);
    put_number(out, in, numbers_odd, separators_odd ? 0 : 10);
    out += in.pick_if(separators_odd, k_words);
    put_field(out, in, limits && in.byte() % 2 != 0, 18, 'o', statuses);
}

void put_first_detail(std::string& out, Choices& in, unsigned damage)
{
    bool limits = (damage & width_limits) != 0;
    out += in.pick_if((damage & odd_indents) != 0, indents);
    put_field(out, in, limits, 126, 'f', servers);
    out += in.pick_if((damage & odd_separators) != 0, separators);
    put_field(out, in, limits, 14, 'p', partitions);
}

void put_second_detail(std::string& out, Choices& in, unsigned damage)
{
    out += in.pick_if((damage & odd_indents) != 0, indents);
    out += "ids rw 536870915 ro 0 bk 536870917";
}

void put_quota(std::string& out, Choices& in, unsigned damage)
{
    out += in.pick_if((damage & odd_indents) != 0, quota_prefixes);
    put_number(out, in, (damage & odd_numbers) != 0, (damage & odd_separators) != 0 ? 0 : 10);
    out += in.pick_if((damage & odd_numbers) != 0, quota_ends);
}

// Pads `line` with a word of filler so that, with its line end, it is 1020
// to 1026 bytes long: around the 1023 bytes a line read can hold.
void lengthen(std::string& line, std::size_t end_size, Choices& in)
{
    std::size_t target = 1020 + in.below(7);
    if (line.size() + end_size + 1 < target)
        line.append(" ").append(target - end_size - line.size() - 1, 'z');
}

// One volume: a header, three detail lines, a few more detail lines and an
// empty line, as a listing has them, then damaged by the bits of a byte.
void add_volume(std::string& listing, Choices& in)
{
    // Kept from run to run: allocations are much of a run's cost under the
    // address sanitizer.
    static std::string lines[4];
    for (std::string& line : lines)
        line.clear();
    unsigned damage = in.byte();
    put_header(lines[0], in, damage);
    put_first_detail(lines[1], in, damage);
    put_second_detail(lines[2], in, damage);
    put_quota(lines[3], in, damage);
    std::size_t dropped = std::size(lines);
    if ((damage & line_replaced) != 0) {
        // A detail line goes missing, or something else stands in its place:
        // a header (the next volume's), a summary, an empty line.
        std::string& line = lines[1 + in.below(3)];
        switch (in.below(4)) {
        case 0: line.clear(), put_header(line, in, 0); break;
        case 1: line = in.pick(summaries); break;
        case 2: line.clear(); break;
        default: dropped = static_cast<std::size_t>(&line - lines); break;
        }
    }
    if ((damage & nul_byte) != 0) {
        std::string& line = lines[in.below(4)];
        line.insert(in.below(line.size() + 1), 1, '\0');
    }
    std::string_view end = (damage & crlf_ends) != 0 ? "\r\n" : "\n";
    if ((damage & long_line) != 0)
        lengthen(lines[in.below(4)], end.size(), in);
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        if (i != dropped)
            listing.append(lines[i]).append(end);
    }
    for (std::size_t n = in.below(4); n > 0; --n)
        listing.append(in.pick(trailers)).append(end);
}

// A line of 1020 to 1026 bytes with its newline: a header with filler, a
// detail line with filler, or filler alone.
void add_long_line(std::string& listing, Choices& in)
{
    constexpr std::string_view starts[] = {"vol.a 536 RW 100 K On-line", "    MaxQuota 500 K", "y",
                                           "    fs1.example.org /part/a"};
    static std::string line;
    line = in.pick(starts);
    lengthen(line, 1, in);
    listing.append(line).append("\n");
}

// Damages the listing so far at a position chosen by two bytes.
void damage_listing(std::string& listing, Choices& in)
{
    constexpr char bytes[] = {'\0', '\r', '\t', '\n', ' ', 'K', '-', '\xff'};
    if (listing.empty())
        return;
    std::size_t at = (static_cast<std::size_t>(in.byte()) << 8U | in.byte()) % listing.size();
    std::size_t how = in.below(10);
    if (how < std::size(bytes))
        listing.insert(at, 1, bytes[how]);
    else if (how == std::size(bytes))
        listing.erase(at, 1);
    else
        listing.resize(at); // cut short
}

void make_listing(std::string& listing, Choices& in)
{
    listing.clear();
    while (in.left > 0 && listing.size() < max_listing_size) {
        switch (in.below(10)) {
        case 0:
        case 1:
        case 2: add_volume(listing, in); break;
        case 3: listing.append(in.pick(summaries)).append("\n"); break;
        case 4: listing.append(in.pick(short_lines)); break;
        case 5: listing.append(in.raw(64)); break;
        case 6: add_long_line(listing, in); break;
        case 7: put_header(listing, in, in.byte()), listing += '\n'; break;
        case 8: damage_listing(listing, in); break;
        default: listing.append("\n"); break;
        }
    }
}

// ---- running and checking ----

VolumeSelection selection_from(unsigned bits)
{
    VolumeSelection choice;
    choice.include_read_write ^= (bits & 1U) != 0;
    choice.include_read_only ^= (bits & 2U) != 0;
    choice.include_backup ^= (bits & 4U) != 0;
    choice.include_online ^= (bits & 8U) != 0;
    choice.include_offline ^= (bits & 16U) != 0;
    return choice;
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
    require(n >= 1 && n <= max && n < rest.size() && rest[n] == after, what, line);
    std::string_view word = rest.substr(0, n);
    rest.remove_prefix(n + 1);
    return word;
}

// A number column: all digits of a 64-bit value, right-aligned in 9 bytes.
void take_number(std::string_view& rest, const char* what, std::string_view line)
{
    std::size_t spaces = rest.find_first_not_of(' ');
    std::size_t end = rest.find_first_not_of("0123456789", spaces);
    require(spaces != std::string_view::npos && end != std::string_view::npos, what, line);
    std::size_t digits = end - spaces;
    require(digits >= 1 && digits <= max_number_digits, what, line);
    require(end == (digits < number_column ? number_column : digits), what, line);
    require(digits == 1 || rest[spaces] != '0', what, line);
    if (digits == 20)
        require(rest.substr(spaces, 20) <= "18446744073709551615", what, line);
    require(rest[end] == ' ', what, line);
    rest.remove_prefix(end + 1);
}

// The layout of one report line, and its type against the selection.
void check_report_line(std::string_view line, const VolumeSelection& choice)
{
    std::string_view rest = line;
    std::size_t name_size = word_length(rest);
    require(name_size >= 1 && name_size <= decltype(VolumeRecord::name)::capacity,
            "name fits its field", line);
    std::size_t width = name_size < name_column ? name_column : name_size;
    require(rest.size() > width, "name column is complete", line);
    for (std::size_t i = name_size; i <= width; ++i)
        require(rest[i] == ' ', "name is padded to its column and a space", line);
    rest.remove_prefix(width + 1);
    take_number(rest, "quota column", line);
    take_number(rest, "size column", line);
    std::string_view type =
        take_word(rest, decltype(VolumeRecord::type)::capacity, ' ', "type column", line);
    take_word(rest, decltype(VolumeRecord::detail_word_1)::capacity, ' ', "first detail word",
              line);
    take_word(rest, decltype(VolumeRecord::detail_word_2)::capacity, '\n', "second detail word",
              line);
    require(rest.empty(), "nothing after the sixth column", line);
    require(type != "RW" || choice.include_read_write, "RW only when wanted", line);
    require(type != "RO" || choice.include_read_only, "RO only when wanted", line);
    require(type != "BK" || choice.include_backup, "BK only when wanted", line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    VolumeSelection choice = selection_from(data[0]);
    Choices in{data + 2, size - 2};
    static std::string listing;
    make_listing(listing, in);
    // The line reader looks at a partial line again after every read, so
    // tiny blocks on a long listing make a run very slow; this floor keeps a
    // run to about a hundred reads.
    std::size_t block_size = std::clamp(
        listing.size() / 64, block_sizes[(data[1] & 15U) % std::size(block_sizes)], max_block_size);
    unsigned cap_seed = data[1] >> 4U;

    // The plain filter's report is the reference for every run of the fast
    // one, so one run with the block size and short reads from the input
    // checks both agreement and block-size independence.
    const std::string report = plain_report(listing, choice);
    FilterRun cut = run_in_memory({listing, cap_seed}, choice, block_size);
    require(cut.status == FilterStatus::ok, "a memory source never fails");
    require(cut.report == report, "the fgets/sscanf filter agrees", cut.report);

    std::size_t lines = 0;
    for (std::size_t start = 0, end; start < report.size(); start = end, ++lines) {
        end = report.find('\n', start);
        require(end != std::string::npos, "every report line ends with a newline", report);
        check_report_line(std::string_view(report).substr(start, ++end - start), choice);
    }
    std::size_t quota_lines = 0;
    for (std::size_t at = 0; (at = listing.find("    MaxQuota ", at)) != std::string::npos; ++at)
        ++quota_lines;
    require(lines <= quota_lines, "every report line takes a line beginning with MaxQuota");

    // One block as large as the listing reads the whole of it at once.
    std::size_t one_block = std::min(listing.size() + 1, max_block_size);

    // A source that fails where it would end: the report stays up to the
    // last complete line of the listing, and only a last line without its
    // newline can be missing.
    FilterRun failed = run_in_memory({listing, cap_seed, true}, choice, one_block);
    require(failed.status == FilterStatus::read_error, "a read failure is reported");
    require(report.compare(0, failed.report.size(), failed.report) == 0,
            "a read failure keeps a prefix of the report", failed.report);
    std::string_view lost = std::string_view(report).substr(failed.report.size());
    std::size_t lost_lines = static_cast<std::size_t>(std::count(lost.begin(), lost.end(), '\n'));
    require(lost_lines == 0 || (lost_lines == 1 && listing.back() != '\n'),
            "a read failure loses at most the line the failure cut", lost);

    // A sink that refuses everything is reported exactly when there was
    // something to write.
    MemorySource refused_in{listing};
    FilterStatus refused = filter_listing(reused_storage(), refused_in.source(),
                                          {nullptr, refuse_bytes}, choice, one_block);
    require((refused == FilterStatus::write_error) == !report.empty(),
            "a write failure is reported when there is a report");
    return 0;
}

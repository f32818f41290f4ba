// SPDX-License-Identifier: MIT
// gen_listing: writes a synthetic volume listing to standard output, for
// timing volreport on inputs of realistic shape and any size.
//
// Usage: gen_listing [--volumes N] [--seed S] | gen_listing --help
//
// The output depends only on N and S: the random numbers come from a
// generator defined here, not from the standard library's engines or
// distributions, whose results may differ between library versions.
//
// Shape: servers hold up to four partitions, and each partition is opened by
// a "Total number of volumes ..." line and closed by a "Total volumes on-line
// ..." line. Each volume is a header line, ten detail lines (the first three
// are the ones volreport reads) and an empty line. About 70% of the volumes
// are read-write, 20% read-only and 10% backup; about 5% are off-line.
// About 0.5% of the entries are broken: either a one-line busy notice or a
// header line whose detail lines are missing. A volume averages a little
// over 400 bytes, so 500000 volumes make about 210 MB.

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {

// splitmix64: small, fast, and fully defined by its constants, so every
// machine produces the same sequence for the same seed.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // A value in [0, bound). The slight bias of the modulo does not matter
    // for test data, and it keeps the sequence independent of the platform.
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }

    // A value in [low, high], both ends included.
    std::uint64_t between(std::uint64_t low, std::uint64_t high)
    {
        return low + below(high - low + 1);
    }

    // True with a probability of `per_thousand` / 1000.
    bool chance(unsigned per_thousand) { return below(1000) < per_thousand; }

  private:
    std::uint64_t state_;
};

// Output goes through one large buffer and fwrite: formatting by hand into
// it is several times faster than stream insertion for hundreds of MB.
class Output {
  public:
    // Room that one entry never exceeds, so callers flush only between
    // entries and never check space per byte.
    static constexpr std::size_t entry_room = 4096;

    ~Output() { delete[] data_; }

    bool ok() const { return ok_; }

    void put(std::string_view text)
    {
        std::memcpy(data_ + used_, text.data(), text.size());
        used_ += text.size();
    }

    void put(char c) { data_[used_++] = c; }

    void spaces(std::size_t count)
    {
        std::memset(data_ + used_, ' ', count);
        used_ += count;
    }

    void number(std::uint64_t value)
    {
        char* end = std::to_chars(data_ + used_, data_ + capacity, value).ptr;
        used_ = static_cast<std::size_t>(end - data_);
    }

    // Right-aligned in `width` bytes; a wider number is written whole.
    void number(std::uint64_t value, std::size_t width)
    {
        char digits[24];
        char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        std::size_t length = static_cast<std::size_t>(end - digits);
        if (length < width)
            spaces(width - length);
        put(std::string_view(digits, length));
    }

    // Left-aligned text padded to `width` bytes, always followed by at
    // least one space so the next column stays separate.
    void column(std::string_view text, std::size_t width)
    {
        put(text);
        spaces(text.size() < width ? width - text.size() : 1);
    }

    void two_digits(unsigned value)
    {
        put(static_cast<char>('0' + value / 10));
        put(static_cast<char>('0' + value % 10));
    }

    // Writes the buffer out when less than one entry's room is left.
    void reserve_entry()
    {
        if (capacity - used_ < entry_room)
            flush();
    }

    void flush()
    {
        if (used_ != 0 && std::fwrite(data_, 1, used_, stdout) != used_) {
            ok_ = false;
        }
        used_ = 0;
    }

  private:
    static constexpr std::size_t capacity = std::size_t{1} << 20;
    char* data_ = new char[capacity];
    std::size_t used_ = 0;
    bool ok_ = true;
};

constexpr std::array<std::string_view, 24> syllables = {
    "ka", "ro", "mi", "ten", "lu",  "sa",  "vor", "el", "da", "ni", "pe",  "tor",
    "bi", "an", "go", "re",  "mar", "sil", "ju",  "ko", "fa", "li", "ben", "ra",
};

constexpr std::array<std::string_view, 20> words = {
    "atlas",   "orbit",  "delta",  "harbor", "quartz", "meadow", "pixel",
    "summit",  "cobalt", "lumen",  "tundra", "vertex", "falcon", "prism",
    "cascade", "ember",  "nimbus", "radius", "beacon", "zephyr",
};

constexpr std::array<std::string_view, 10> qualifiers = {
    "2019", "2021", "2023", "2024", "eu-west", "us-east", "archive", "scratch", "v2", "v3",
};

constexpr std::array<std::string_view, 8> families = {
    "home", "proj", "sw", "logs", "data", "web", "build", "mail",
};

// Builds a volume name of at most 32 bytes into `out`; returns its length.
// RO and BK copies get a suffix so they stand out from their RW volume.
std::size_t make_name(Random& random, std::string_view type, char* out)
{
    std::size_t length = 0;
    auto append = [&](std::string_view text) {
        std::memcpy(out + length, text.data(), text.size());
        length += text.size();
    };
    std::string_view family = families[random.below(families.size())];
    append(family);
    append(".");
    if (family == "home") {
        unsigned count = static_cast<unsigned>(random.between(2, 3));
        for (unsigned i = 0; i < count; ++i) {
            append(syllables[random.below(syllables.size())]);
        }
        if (random.chance(300)) {
            char digits[4];
            char* end = std::to_chars(digits, digits + sizeof digits, random.below(100)).ptr;
            append(std::string_view(digits, static_cast<std::size_t>(end - digits)));
        }
    } else {
        append(words[random.below(words.size())]);
        append(".");
        append(words[random.below(words.size())]);
        if (random.chance(500)) {
            append(".");
            append(qualifiers[random.below(qualifiers.size())]);
        }
    }
    if (type == "RO")
        append(".ro");
    if (type == "BK")
        append(".bk");
    return length;
}

// Days since 2015-01-01 to a calendar date (proleptic Gregorian).
struct Date {
    unsigned year, month, day;
};

Date date_from_days(std::uint64_t days_since_2015)
{
    // Shift to an era that starts on 0000-03-01 so leap days fall last.
    std::int64_t z = static_cast<std::int64_t>(days_since_2015) + 16436 + 719468;
    std::int64_t era = z / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<unsigned>(year), static_cast<unsigned>(month), static_cast<unsigned>(day)};
}

// The listing is dated as if taken at the start of 2025.
constexpr std::uint64_t listing_day = 3653;

void timestamp_line(Output& out, std::string_view label, std::uint64_t day, Random& random)
{
    Date date = date_from_days(day);
    out.put("    ");
    out.column(label, 14);
    out.number(date.year);
    out.put('-');
    out.two_digits(date.month);
    out.put('-');
    out.two_digits(date.day);
    out.put(' ');
    out.two_digits(static_cast<unsigned>(random.below(24)));
    out.put(':');
    out.two_digits(static_cast<unsigned>(random.below(60)));
    out.put(':');
    out.two_digits(static_cast<unsigned>(random.below(60)));
    out.put('\n');
}

// Sizes in K: mostly small, a few past 2^32 K so the report's number columns
// overflow their widths now and then.
std::uint64_t make_size(Random& random)
{
    std::uint64_t roll = random.below(1000);
    if (roll < 10)
        return random.between(std::uint64_t{1} << 32, std::uint64_t{1} << 36);
    if (roll < 100)
        return random.between(10'000'000, 900'000'000);
    if (roll < 600)
        return random.between(100'000, 10'000'000);
    return random.below(100'000);
}

std::uint64_t make_quota(Random& random, std::uint64_t size)
{
    if (random.chance(30))
        return 0; // no limit set
    std::uint64_t quota = size + size / 4 + random.between(1'000, 2'000'000);
    return quota / 1000 * 1000; // quotas are set by hand, in round numbers
}

struct Tally {
    std::uint64_t online = 0, offline = 0, busy = 0;
};

struct Partition {
    std::string_view server;
    std::string_view name;
};

void write_volume(Output& out, Random& random, const Partition& where, std::uint64_t family_id,
                  Tally& tally)
{
    std::uint64_t roll = random.below(1000);
    std::string_view type = roll < 700 ? "RW" : roll < 900 ? "RO" : "BK";
    std::uint64_t volume_number = family_id + (type == "RW" ? 0 : type == "RO" ? 1 : 2);

    char name[40];
    std::size_t name_length = make_name(random, type, name);
    std::string_view volume_name(name, name_length);

    std::uint64_t broken = random.below(1000);
    if (broken < 3) {
        // A volume that was in use while the listing was taken: one line
        // that names it but carries no type, size or status.
        ++tally.busy;
        out.column(volume_name, 34);
        out.number(volume_number);
        out.put(" -- busy, no details available\n\n");
        return;
    }

    bool offline = random.chance(50);
    if (offline) {
        ++tally.offline;
    } else {
        ++tally.online;
    }
    std::uint64_t size = make_size(random);

    out.column(volume_name, 34);
    out.number(volume_number);
    out.put(' ');
    out.put(type);
    out.put(' ');
    out.number(size, 10);
    out.put(offline ? " K Off-line\n" : " K On-line\n");

    if (broken < 5) {
        // The listing lost this volume's detail lines.
        out.put('\n');
        return;
    }

    out.put("    ");
    out.put(where.server);
    out.put(' ');
    out.put(where.name);
    out.put('\n');

    out.put("    ids rw ");
    out.number(family_id);
    out.put(" ro ");
    out.number(type == "RO" || random.chance(300) ? family_id + 1 : 0);
    out.put(" bk ");
    out.number(type == "BK" || random.chance(600) ? family_id + 2 : 0);
    out.put('\n');

    out.put("    MaxQuota ");
    out.number(make_quota(random, size), 10);
    out.put(" K\n");

    std::uint64_t created = random.below(listing_day - 30);
    std::uint64_t updated = random.between(created, listing_day - 1);
    std::uint64_t copied = random.between(updated, listing_day - 1);
    std::uint64_t checked = random.between(copied, listing_day - 1);
    timestamp_line(out, "created", created, random);
    timestamp_line(out, "updated", updated, random);
    timestamp_line(out, "copied", copied, random);
    timestamp_line(out, "checked", checked, random);

    std::uint64_t files = random.below(size / 8 + 10);
    out.put("    files ");
    out.number(files, 9);
    out.put(" ; dirs ");
    out.number(files / 20 + 1, 7);
    out.put('\n');

    std::uint64_t reads_today = offline ? 0 : random.below(5000);
    out.put("    reads ");
    out.number(reads_today);
    out.put(" today ; ");
    out.number(reads_today * random.between(3, 7));
    out.put(" this week\n");

    std::uint64_t writes_today = offline || type != "RW" ? 0 : random.below(800);
    out.put("    writes ");
    out.number(writes_today);
    out.put(" today ; ");
    out.number(writes_today * random.between(3, 7));
    out.put(" this week\n");

    out.put('\n');
}

[[noreturn]] void usage(const char* program)
{
    std::fprintf(stderr, "Usage: %s [--volumes N] [--seed S]\n", program);
    std::exit(2);
}

// Asked-for help is the program's output, not an error.
[[noreturn]] void help(const char* program)
{
    std::printf("Usage: %s [--volumes N] [--seed S]\n"
                "Writes a listing of N volumes (default 1000) to standard output.\n"
                "The same N and seed S (default 1) always give the same bytes.\n",
                program);
    std::exit(std::fflush(stdout) == 0 ? 0 : 1);
}

std::uint64_t parse_count(const char* program, const char* text)
{
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || stop == text)
        usage(program);
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    const char* program = argc > 0 ? argv[0] : "gen_listing";
    std::uint64_t volume_count = 1000;
    std::uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option == "--help")
            help(program);
        if (i + 1 >= argc)
            usage(program);
        if (option == "--volumes") {
            volume_count = parse_count(program, argv[++i]);
        } else if (option == "--seed") {
            seed = parse_count(program, argv[++i]);
        } else {
            usage(program);
        }
    }

    constexpr std::array<std::string_view, 4> partition_names = {
        "/part/a",
        "/part/b",
        "/part/c",
        "/part/d",
    };

    Random random(seed);
    Output out;
    std::uint64_t written = 0;
    std::uint64_t next_family_id = 536'900'000;
    char server[32];
    // A failed write ends the run early rather than formatting the rest.
    for (unsigned server_index = 1; written < volume_count && out.ok(); ++server_index) {
        int server_length = std::snprintf(server, sizeof server, "fs%u.example.org", server_index);
        std::string_view server_name(server, static_cast<std::size_t>(server_length));
        unsigned partitions = static_cast<unsigned>(random.between(1, 4));
        for (unsigned p = 0; p < partitions && written < volume_count && out.ok(); ++p) {
            Partition where{server_name, partition_names[p]};
            std::uint64_t entries = random.between(1'500, 6'000);
            if (entries > volume_count - written)
                entries = volume_count - written;

            out.reserve_entry();
            out.put("Total number of volumes on server ");
            out.put(where.server);
            out.put(" partition ");
            out.put(where.name);
            out.put(": ");
            out.number(entries);
            out.put('\n');

            Tally tally;
            for (std::uint64_t v = 0; v < entries; ++v) {
                out.reserve_entry();
                write_volume(out, random, where, next_family_id, tally);
                next_family_id += 3;
            }
            written += entries;

            out.reserve_entry();
            out.put("Total volumes on-line ");
            out.number(tally.online);
            out.put(" ; off-line ");
            out.number(tally.offline);
            out.put(" ; busy ");
            out.number(tally.busy);
            out.put("\n\n");
        }
    }

    out.flush();
    // A full disk may only show when the last block reaches the file.
    if (!out.ok() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: write error on standard output\n", program);
        return 1;
    }
    return 0;
}

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

#include "plain_filter.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

const std::string header = "vol.a 536 RW 100 K On-line\n";
const std::string detail_1 = "    alpha beta\n";
const std::string detail_2 = "    anything at all\n";
const std::string detail_3 = "    MaxQuota 500 K\n";
// The lines after a header, and a volume up to its quota line.
const std::string details = detail_1 + detail_2 + detail_3;
const std::string before_quota = header + detail_1 + detail_2;
const std::string volume = header + details;
const std::string report = "vol.a                                  500       100 RW alpha beta\n";

std::string volume_of(const std::string& name, const std::string& type, const std::string& status)
{
    return name + " 1 " + type + " 100 K " + status + "\n" + details;
}

std::string report_of(const std::string& name, const std::string& type)
{
    std::string line = name;
    if (line.size() < 32)
        line.append(32 - line.size(), ' ');
    return line + "       500       100 " + type + " alpha beta\n";
}

struct FilterRow {
    const char* behaviour;
    std::string listing;
    std::string report;
};

const std::vector<FilterRow> walk_rows = {
    {"empty input writes nothing", "", ""},
    {"a wanted volume gives one 67-byte line", volume, report},
    {"a last line without a newline counts", before_quota + "    MaxQuota 500 K", report},
    {"summary and foreign lines are skipped",
     "Total number of volumes on server a partition b: 1\n" + volume +
         "Total volumes on-line 1 ; off-line 0\nnot a header\n\n",
     report},
    {"a header named Total is still a header unless it starts a summary",
     "Totally 536 RW 100 K On-line\n" + details,
     "Totally                                500       100 RW alpha beta\n"},
    {"unwanted volume's detail lines are skipped", volume_of("ro.vol", "RO", "On-line") + volume,
     report},
    {"several volumes keep the listing's order",
     volume_of("one", "RW", "On-line") + volume_of("two", "XX", "busy") +
         volume_of("three", "RW", "On-line"),
     report_of("one", "RW") + report_of("two", "XX") + report_of("three", "RW")},
};

const std::vector<FilterRow> quota_rows = {
    {"quota without K is accepted", before_quota + "    MaxQuota 500\n", report},
    {"quota followed by other text is accepted", before_quota + "    MaxQuota 500 M\n", report},
    {"extra spaces before the quota are accepted", before_quota + "    MaxQuota      500 K\n",
     report},
    {"a word for the quota drops the record", before_quota + "    MaxQuota lots K\n" + volume,
     report},
    {"nothing after MaxQuota drops the record", before_quota + "    MaxQuota \n", ""},
    {"MaxQuota indented further drops the record", before_quota + "     MaxQuota 500 K\n", ""},
    {"MaxQuota without its space drops the record", before_quota + "    MaxQuota\t500 K\n", ""},
};

const std::vector<FilterRow> header_rows = {
    {"size followed by status without K is skipped", "vol.a 536 RW 100 On-line\n" + details, ""},
    {"K against the size is accepted", "vol.a 536 RW 100K On-line\n" + details, report},
    {"four fields are not a header", "vol.a 536 RW 100\n" + details, ""},
    {"a negative size wraps", "vol.a 536 RW -1 K On-line\n" + details,
     "vol.a                                  500 18446744073709551615 RW alpha beta\n"},
    {"an oversized size saturates, leading zeros ignored",
     "vol.a 536 RW 0000099999999999999999999 K On-line\n" + detail_1 + detail_2 +
         "    MaxQuota 00000000000000000000007\n",
     "vol.a                                    7 18446744073709551615 RW alpha beta\n"},
    {"numbers wider than 32 bits are written whole",
     "vol.a 536 RW 4294967296 K On-line\n" + detail_1 + detail_2 + "    MaxQuota 123456789012 K\n",
     "vol.a" + std::string(28, ' ') + "123456789012 4294967296 RW alpha beta\n"},
    {"numbers from nine to seventeen digits keep every zero",
     "vol.a 536 RW 9999999999999999 K On-line\n" + detail_1 + detail_2 +
         "    MaxQuota 100000000 K\n" + "vol.b 536 RW 10000000000000000 K On-line\n" + detail_1 +
         detail_2 + "    MaxQuota 1000000000000000 K\n",
     "vol.a" + std::string(28, ' ') + "100000000 9999999999999999 RW alpha beta\n" + "vol.b" +
         std::string(28, ' ') + "1000000000000000 10000000000000000 RW alpha beta\n"},
    {"a sign apart from its digits fails the field", "vol.a 536 RW - 100 K On-line\n" + details,
     ""},
    {"carriage-return line ends read like newlines",
     "vol.a 536 RW 100 K On-line\r\n    alpha beta\r\n    x\r\n    MaxQuota 500 K\r\n\r\n", report},
    {"a header indented by a tab is a header", "\t" + volume, report},
    {"a header indented by a space is skipped", " " + volume, ""},
    {"a 40-byte name is written whole", volume_of(std::string(40, 'n'), "RW", "On-line"),
     std::string(40, 'n') + "       500       100 RW alpha beta\n"},
};

const std::vector<FilterRow> detail_rows = {
    {"detail line indented by a tab drops the record",
     header + "\talpha beta\n" + detail_2 + detail_3, ""},
    {"detail line indented by three spaces drops the record",
     header + "   alpha beta\n" + detail_2 + detail_3, ""},
    {"second detail line indented by a tab drops the record",
     header + detail_1 + "\tx\n" + detail_3, ""},
    {"deeper indented first and second detail lines are accepted",
     header + "        alpha beta\n" + "      x\n" + detail_3, report},
    {"a single word on the first detail line drops the record",
     header + "    alpha\n" + detail_2 + detail_3, ""},
    {"a third word is ignored", header + "    alpha beta gamma\n" + detail_2 + detail_3, report},
    {"a 20-byte second word is cut to 14 bytes",
     header + "    alpha 12345678901234567890\n" + detail_2 + detail_3,
     "vol.a                                  500       100 RW alpha 12345678901234\n"},
    {"a header in place of a detail line is lost with the record",
     header + volume_of("vol.b", "RW", "On-line"), ""},
    {"input ending after the header writes nothing", header, ""},
    {"input ending after the first detail line writes nothing", header + detail_1, ""},
    {"input ending after the second detail line writes nothing", before_quota, ""},
};

// Lines as the line buffer takes them.
const std::vector<FilterRow> line_rows = {
    {"a NUL ends the line for the header", "vol.a 536 RW\0 100 K On-line\n"s + details, ""},
    {"a NUL after the status is harmless", "vol.a 536 RW 100 K On-line\0garbage\n"s + details,
     report},
    {"a NUL first byte skips the line", "\0vol.b 1 RW 1 K On-line\n"s + volume, report},
    {"a NUL inside the indentation drops the record",
     header + "  \0  alpha beta\n"s + detail_2 + detail_3, ""},
    {"a NUL inside the quota prefix drops the record", before_quota + "    Max\0Quota 500\n"s, ""},
    {"bytes after a NUL in the quota line are ignored", before_quota + "    MaxQuota 500\0 9\n"s,
     report},
    {"a long header's rest is taken as the first detail line",
     "vol.a 536 RW 100 K On-line " + std::string(1023 - 27, 'x') + "    alpha beta\n" + detail_2 +
         detail_3,
     report},
    {"a 1023-byte header leaves its newline as a failing detail line",
     "vol.a 536 RW 100 K On-line " + std::string(1023 - 27, 'x') + "\n" + details, ""},
    {"a 1022-byte header keeps its newline",
     "vol.a 536 RW 100 K On-line " + std::string(1022 - 27, 'x') + "\n" + details, report},
    {"a long skipped line's pieces are lines of their own", std::string(2046, 'y') + "\n" + volume,
     report},
    {"a long foreign line's later piece can be a header", std::string(1023, 'y') + header + details,
     report},
};

void expect_reports(const std::vector<FilterRow>& rows)
{
    for (const FilterRow& row : rows) {
        // The line reader's block size must never show in the report.
        for (std::size_t block : block_sizes) {
            std::string actual = filter_string(row.listing, {}, block);
            EXPECT_EQ(visible(actual), visible(row.report))
                << row.behaviour << " (block size " << block << ")";
        }
        // The fuzzers' oracle must read the listing the same way.
        EXPECT_EQ(visible(plain_report(row.listing, {})), visible(row.report)) << row.behaviour;
    }
}

TEST(Filter, reports_each_complete_wanted_volume_in_order)
{
    expect_reports(walk_rows);
}
TEST(Filter, takes_the_quota_line_as_its_pattern_does)
{
    expect_reports(quota_rows);
}
TEST(Filter, takes_the_header_line_as_its_pattern_does)
{
    expect_reports(header_rows);
}
TEST(Filter, takes_the_detail_lines_as_their_patterns_do)
{
    expect_reports(detail_rows);
}
TEST(Filter, takes_lines_as_a_line_buffer_does)
{
    expect_reports(line_rows);
}

TEST(Filter, selection_decides_which_volumes_are_reported)
{
    std::string listing =
        volume_of("rw.on", "RW", "On-line") + volume_of("ro.on", "RO", "On-line") +
        volume_of("bk.on", "BK", "On-line") + volume_of("rw.off", "RW", "Off-line") +
        volume_of("xx.busy", "XX", "busy");
    VolumeSelection all;
    all.include_read_only = all.include_backup = all.include_offline = true;
    EXPECT_EQ(filter_string(listing, all),
              report_of("rw.on", "RW") + report_of("ro.on", "RO") + report_of("bk.on", "BK") +
                  report_of("rw.off", "RW") + report_of("xx.busy", "XX"));
    EXPECT_EQ(filter_string(listing), report_of("rw.on", "RW") + report_of("xx.busy", "XX"));
    VolumeSelection offline_only;
    offline_only.include_online = false;
    offline_only.include_offline = true;
    EXPECT_EQ(filter_string(listing, offline_only),
              report_of("rw.off", "RW") + report_of("xx.busy", "XX"));
}

// A large listing crosses many block and report-buffer boundaries.
TEST(Filter, large_listing_matches_line_by_line)
{
    std::string listing;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        std::string name = "volume." + std::to_string(i);
        listing += volume_of(name, "RW", "On-line") + "    Creation of some date\n\n";
        expected += report_of(name, "RW");
    }
    for (std::size_t block :
         {std::size_t{1}, std::size_t{4096}, default_block_size, max_block_size})
        ASSERT_EQ(filter_string(listing, {}, block), expected) << "block size " << block;
}

// The suite is linked with --wrap=write, so the filter's writes come here:
// while `zero_writes` is set they answer 0, as a broken driver can, up to a
// bound that ends a retry loop with EIO instead of hanging the suite.
int zero_writes = 0;
int zero_write_calls = 0;

} // namespace

extern "C" ssize_t __real_write(int fd, const void* data, std::size_t size);
extern "C" ssize_t __wrap_write(int fd, const void* data, std::size_t size)
{
    if (zero_writes == 0)
        return __real_write(fd, data, size);
    ++zero_write_calls;
    if (--zero_writes == 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// And with --wrap=read, while `failing_reads` is set, reads fail with
// `read_errno`.
int failing_reads = 0;
int read_errno = 0;

extern "C" ssize_t __real_read(int fd, void* buffer, std::size_t size);
extern "C" ssize_t __wrap_read(int fd, void* buffer, std::size_t size)
{
    if (failing_reads == 0)
        return __real_read(fd, buffer, size);
    --failing_reads;
    errno = read_errno;
    return -1;
}

// And with --wrap=aligned_alloc, while `refuse_memory` is set, the run's
// buffers cannot be had.
bool refuse_memory = false;

extern "C" void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
extern "C" void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size)
{
    return refuse_memory ? nullptr : __real_aligned_alloc(alignment, size);
}

namespace {

TEST(Filter, stream_failures_are_reported)
{
    // Without its buffers a run reads and writes nothing: the failing read
    // and write set up here are still to come.
    refuse_memory = true;
    failing_reads = zero_writes = 1;
    FilterStatus status = run_filter();
    refuse_memory = false;
    EXPECT_EQ(status, FilterStatus::no_memory);
    EXPECT_EQ(failing_reads, 1);
    EXPECT_EQ(zero_writes, 1);
    failing_reads = zero_writes = 0;

    MemorySource source{volume};
    EXPECT_EQ(filter_listing(reused_storage(), source.source(), {nullptr, refuse_bytes}, {}),
              FilterStatus::write_error);
    MemorySource quiet{"nothing to report\n"};
    EXPECT_EQ(filter_listing(reused_storage(), quiet.source(), {nullptr, refuse_bytes}, {}),
              FilterStatus::ok);

    // A read that fails after a complete volume keeps the volume's line.
    FilterRun failed = run_in_memory({volume, 0, true});
    EXPECT_EQ(failed.status, FilterStatus::read_error);
    EXPECT_EQ(failed.report, report);

    // A descriptor whose write answers 0 for a non-empty buffer has failed.
    zero_writes = 1000;
    zero_write_calls = 0;
    int fd = 1;
    bool wrote = write_descriptor(&fd, "x\n", 2);
    zero_writes = 0;
    EXPECT_FALSE(wrote);
    EXPECT_EQ(zero_write_calls, 1);
}

// A read interrupted by a signal, or finding a non-blocking descriptor with
// nothing to read yet, is made again, and the run goes on.
TEST(Filter, interrupted_and_unready_reads_are_made_again)
{
    for (int error : {EINTR, EAGAIN}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ASSERT_EQ(::write(ends[1], volume.data(), volume.size()),
                  static_cast<ssize_t>(volume.size()));
        ::close(ends[1]);
        std::string written;
        failing_reads = 2;
        read_errno = error;
        FilterStatus status = filter_listing(reused_storage(), {&ends[0], read_descriptor},
                                             {&written, append_to_string}, {});
        ::close(ends[0]);
        EXPECT_EQ(failing_reads, 0) << std::strerror(error);
        EXPECT_EQ(status, FilterStatus::ok) << std::strerror(error);
        EXPECT_EQ(written, report) << std::strerror(error);
    }
}

} // namespace

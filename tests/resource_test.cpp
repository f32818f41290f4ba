// SPDX-License-Identifier: MIT
// The built program on inputs far larger than any buffer it has: whatever
// their size, memory must stay flat. The input is generated into a pipe as
// it is read, so nothing of it is held on disk or in memory here.
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "io.h"

#ifndef VOLREPORT_RSS_LIMIT_KIB
#define VOLREPORT_RSS_LIMIT_KIB 4096
#endif

namespace {

constexpr std::size_t mib = 1024 * 1024;

struct ResourceRow {
    const char* input;
    std::string prefix; // written first
    char fill;          // then this byte, `count` times
    std::size_t count;
    std::string suffix; // and this last
};

const ResourceRow rows[] = {
    {"a 100 MB line", "", 'x', 100 * mib, "\n"},
    {"1 GB of NUL bytes", "", '\0', 1024 * mib, ""},
    {"a wanted header 100 MB long", "vol.a 536 RW 100 K On-line ", 'y', 100 * mib,
     "\n    alpha beta\n    x\n    MaxQuota 5\n"},
    {"100 MB of spaces without a newline", "", ' ', 100 * mib, ""},
};

// The peak resident set, in KiB, is the forked child's: it starts with this
// process's own pages counted, so the harness stays small.
struct Outcome {
    int wait_status = 0;
    long peak_rss_kib = 0;
    off_t report_bytes = -1;
    std::string failure;
};

Outcome run_volreport(const ResourceRow& row)
{
    Outcome outcome;
    int input[2];
    int report = ::pipe2(input, O_CLOEXEC) != 0 ? -1 : ::memfd_create("report", MFD_CLOEXEC);
    pid_t pid = report < 0 ? -1 : ::fork();
    if (pid < 0) {
        outcome.failure = "pipe2, memfd_create or fork";
        return outcome;
    }
    if (pid == 0) {
        // The default SIGPIPE action, whatever this process has.
        std::signal(SIGPIPE, SIG_DFL);
        if (::dup2(input[0], 0) == 0 && ::dup2(report, 1) == 1)
            ::execl(VOLREPORT_BINARY, "volreport", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);

    // A write to a reader that has gone fails with EPIPE instead of ending
    // the test; the exit status then tells what happened.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    std::vector<char> block(64 * 1024, row.fill);
    bool sent = write_descriptor(&input[1], row.prefix.data(), row.prefix.size());
    for (std::size_t left = row.count; sent && left > 0;) {
        std::size_t n = left < block.size() ? left : block.size();
        sent = write_descriptor(&input[1], block.data(), n);
        left -= n;
    }
    sent = sent && write_descriptor(&input[1], row.suffix.data(), row.suffix.size());
    ::close(input[1]);
    ::sigaction(SIGPIPE, &previous, nullptr);

    struct rusage usage {};
    if (::wait4(pid, &outcome.wait_status, 0, &usage) != pid)
        outcome.failure = "wait4";
    else if (!sent)
        outcome.failure = "the program stopped reading its input";
    outcome.peak_rss_kib = usage.ru_maxrss;
    outcome.report_bytes = ::lseek(report, 0, SEEK_END);
    ::close(report);
    return outcome;
}

TEST(Resources, huge_inputs_pass_in_bounded_memory)
{
    for (const ResourceRow& row : rows) {
        Outcome outcome = run_volreport(row);
        EXPECT_EQ(outcome.failure, "") << row.input;
        EXPECT_TRUE(WIFEXITED(outcome.wait_status) && WEXITSTATUS(outcome.wait_status) == 0)
            << row.input << ": wait status " << outcome.wait_status;
        EXPECT_EQ(outcome.report_bytes, 0) << row.input;
        EXPECT_LE(outcome.peak_rss_kib, VOLREPORT_RSS_LIMIT_KIB) << row.input;
        std::printf("%s: peak RSS %ld KiB\n", row.input, outcome.peak_rss_kib);
    }
}

} // namespace

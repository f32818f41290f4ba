// SPDX-License-Identifier: MIT
// End-to-end tests of the built program: the argument vector, named files,
// the standard streams, messages and exit statuses. Every run starts the
// binary with fork and execve in a fresh working directory, so each test
// controls the argument vector, the descriptors 0 to 2, the umask and the
// disposition of SIGPIPE.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- listings

// One wanted volume and its report line, 67 bytes with the newline.
const std::string volume_a = "vol.a 536 RW 100 K On-line\n"
                             "    alpha beta\n"
                             "    x\n"
                             "    MaxQuota 500 K\n";
constexpr std::string_view line_a_bytes =
    "vol.a                                  500       100 RW alpha beta\n";
static_assert(line_a_bytes.size() == 67);
const std::string line_a{line_a_bytes};

// The listing of the file named "in" in most tests: one read-write and one
// read-only volume between summary lines.
const std::string file_listing = "Total number of volumes on server fs1 partition /part/a: 2\n"
                                 "in.rw 7 RW 20 K On-line\n"
                                 "    fs1 /part/a\n"
                                 "    x\n"
                                 "    MaxQuota 200 K\n"
                                 "in.ro 8 RO 30 K On-line\n"
                                 "    fs1 /part/a\n"
                                 "    x\n"
                                 "    MaxQuota 300 K\n"
                                 "Total volumes on-line 2 ; off-line 0\n";
const std::string line_in_rw =
    "in.rw                                  200        20 RW fs1 /part/a\n";
const std::string line_in_ro =
    "in.ro                                  300        30 RO fs1 /part/a\n";

// A listing with no volume wanted by the default selection.
const std::string unwanted = "ro.vol 1 RO 5 K On-line\n    a b\n    x\n    MaxQuota 5 K\n";

// Many wanted volumes: a report far larger than any pipe or output buffer.
const auto [large_listing, large_report] = [] {
    std::string listing;
    std::string report;
    for (int i = 0; i < 5000; ++i) {
        std::string name = "big" + std::to_string(i);
        listing += name + " 1 RW 1 K On-line\n    a b\n    x\n    MaxQuota 1 K\n";
        report += name + std::string(32 - name.size(), ' ') + "         1         1 RW a b\n";
    }
    return std::pair{listing, report};
}();

const std::string usage = "Usage: volreport [-rwbnfh] [ input-file [ output-file ]]\n";
const std::string help = usage + "where      -r  include read-only volumes\n"
                                 "           -w  exclude read-write volumes\n"
                                 "           -b  include backup volumes\n"
                                 "           -n  exclude on-line volumes\n"
                                 "           -f  include off-line volumes\n"
                                 "           -h  print this message\n";

const char* const ok = "exit 0";
const char* const failed = "exit 2";
const char* const killed_by_sigpipe = "killed by SIGPIPE";

// ----------------------------------------------------------------- harness

std::string describe(int wait_status)
{
    if (WIFEXITED(wait_status))
        return "exit " + std::to_string(WEXITSTATUS(wait_status));
    if (WIFSIGNALED(wait_status)) {
        if (WTERMSIG(wait_status) == SIGPIPE)
            return killed_by_sigpipe;
        return "killed by signal " + std::to_string(WTERMSIG(wait_status));
    }
    return "status " + std::to_string(wait_status);
}

// Standard input of the program.
struct Input {
    enum Kind {
        pipe,             // `data` through a pipe, closed after the last byte
        nonblocking_pipe, // the same, with the reading end set non-blocking
        reset_socket,     // `data` on a connection that the peer then resets
        path,             // the file `data`, opened for reading
        closed,           // no descriptor 0 at all
    } kind;
    std::string data;
};
template <Input::Kind kind>
Input input(std::string data)
{
    return {kind, std::move(data)};
}
const auto piped = input<Input::pipe>;
const auto nonblocking = input<Input::nonblocking_pipe>;
const auto reset_after = input<Input::reset_socket>;
const auto from = input<Input::path>;
const Input no_stdin{Input::closed, {}};

// Standard output of the program.
struct Output {
    enum Kind {
        captured,    // a pipe read by the test
        nonblocking, // the same, with the writing end set non-blocking
        file,        // the file `path`, opened for writing
        closed,      // no descriptor 1 at all
        broken_pipe, // a pipe whose reading end is already closed
    } kind;
    std::string path;
};
const Output captured{Output::captured, {}};
const Output captured_nonblocking{Output::nonblocking, {}};
const Output no_stdout{Output::closed, {}};
const Output broken_pipe{Output::broken_pipe, {}};
Output to(std::string path)
{
    return {Output::file, std::move(path)};
}

struct Launch {
    std::vector<std::string> argv = {"volreport"}; // empty: no argv[0] at all
    Input in = piped("");
    Output out = captured;
    bool ignore_sigpipe = false;
    std::vector<std::string> env = {}; // ahead of the test's own environment
    mode_t umask = 022;
};

struct Outcome {
    std::string out;
    std::string err;
    std::string status;
};

struct Child {
    pid_t pid = -1;
    int in = -1; // writer of the stdin pipe, fed by `finish`
    int out = -1;
    int err = -1;
};

void close_fd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The test process writes into pipes that the program may leave unread.
const bool parent_ignores_sigpipe = (std::signal(SIGPIPE, SIG_IGN), true);

// The program under test: the one built with these tests, or the one that
// VOLREPORT_BINARY names, such as a build that cannot link GoogleTest.
const char* const program = [] {
    const char* named = std::getenv("VOLREPORT_BINARY");
    return named != nullptr && *named != '\0' ? named : VOLREPORT_BINARY;
}();

std::string in_dir(const fs::path& dir, const std::string& name)
{
    return name.starts_with('/') ? name : (dir / name).string();
}

// The receiving end of a loopback connection that holds `data` and then a
// reset from the peer: reading it gives the data, then fails.
int reset_connection(const std::string& data)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int sender = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int receiver = -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    linger abort_on_close{1, 0};
    if (listener >= 0 && sender >= 0 && ::bind(listener, any, sizeof address) == 0 &&
        ::listen(listener, 1) == 0 && ::getsockname(listener, any, &length) == 0 &&
        ::connect(sender, any, sizeof address) == 0 &&
        (receiver = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0 &&
        ::write(sender, data.data(), data.size()) == static_cast<ssize_t>(data.size()))
        ::setsockopt(sender, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    close_fd(sender);
    close_fd(listener);
    return receiver;
}

// Sets up the program's descriptors 0 to 2 in `source` (-1: closed) and the
// test's ends of them in `child`. False when something could not be made.
bool prepare_streams(const Launch& launch, const fs::path& dir, Child& child, int source[3])
{
    int p[2];
    switch (launch.in.kind) {
    case Input::pipe:
    case Input::nonblocking_pipe:
        if (::pipe2(p, O_CLOEXEC) != 0)
            return false;
        if (launch.in.kind == Input::nonblocking_pipe)
            ::fcntl(p[0], F_SETFL, O_NONBLOCK);
        source[0] = p[0];
        child.in = p[1];
        break;
    case Input::reset_socket: source[0] = reset_connection(launch.in.data); break;
    case Input::path:
        source[0] = ::open(in_dir(dir, launch.in.data).c_str(), O_RDONLY | O_CLOEXEC);
        break;
    case Input::closed: break;
    }
    if (source[0] < 0 && launch.in.kind != Input::closed)
        return false;

    switch (launch.out.kind) {
    case Output::captured:
    case Output::nonblocking:
    case Output::broken_pipe:
        if (::pipe2(p, O_CLOEXEC) != 0)
            return false;
        if (launch.out.kind == Output::nonblocking)
            ::fcntl(p[1], F_SETFL, O_NONBLOCK);
        child.out = p[0];
        source[1] = p[1];
        if (launch.out.kind == Output::broken_pipe)
            close_fd(child.out);
        break;
    case Output::file:
        source[1] = ::open(in_dir(dir, launch.out.path).c_str(), O_WRONLY | O_CLOEXEC);
        break;
    case Output::closed: break;
    }
    if (source[1] < 0 && launch.out.kind != Output::closed)
        return false;

    if (::pipe2(p, O_CLOEXEC) != 0)
        return false;
    child.err = p[0];
    source[2] = p[1];
    return true;
}

// Starts the program in `dir`; no pid when its streams could not be set
// up. Only async-signal-safe calls after fork.
Child spawn(const Launch& launch, const fs::path& dir)
{
    (void)parent_ignores_sigpipe;
    Child child;
    int source[3] = {-1, -1, -1};
    std::vector<char*> argv;
    for (const std::string& arg : launch.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : launch.env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    for (char** entry = environ; *entry != nullptr; ++entry)
        envp.push_back(*entry);
    envp.push_back(nullptr);
    std::string workdir = dir.string();

    if (prepare_streams(launch, dir, child, source))
        child.pid = ::fork();
    if (child.pid == 0) {
        // Out of the way of 0 to 2 first, so that no dup2 overwrites a source.
        int high[3];
        for (int i = 0; i < 3; ++i) {
            high[i] = source[i] < 0 ? -1 : ::fcntl(source[i], F_DUPFD, 100);
            if (source[i] >= 0 && high[i] < 0)
                ::_exit(126);
        }
        for (int i = 0; i < 3; ++i) {
            if (high[i] < 0)
                ::close(i);
            else if (::dup2(high[i], i) != i)
                ::_exit(126);
        }
        ::close_range(3, ~0U, 0);
        if (::chdir(workdir.c_str()) != 0)
            ::_exit(126);
        ::umask(launch.umask);
        struct sigaction action {};
        action.sa_handler = launch.ignore_sigpipe ? SIG_IGN : SIG_DFL;
        ::sigaction(SIGPIPE, &action, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program, argv.data(), envp.data());
        ::_exit(127);
    }
    for (int& fd : source)
        close_fd(fd);
    if (child.pid < 0) {
        close_fd(child.in);
        close_fd(child.out);
        close_fd(child.err);
    }
    return child;
}

// Feeds `input` to the program, collects its output until it closes its
// streams, and waits for its end. A run longer than a few seconds is killed.
Outcome finish(Child& child, std::string_view input)
{
    Outcome outcome;
    if (child.pid < 0) {
        ADD_FAILURE() << "could not start the program";
        return outcome;
    }
    if (child.in >= 0) {
        ::fcntl(child.in, F_SETFL, O_NONBLOCK);
        if (input.empty())
            close_fd(child.in);
    }
    auto deadline = std::chrono::steady_clock::now() + 5s;
    bool timed_out = false;
    while (child.in >= 0 || child.out >= 0 || child.err >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[3] = {{child.in, POLLOUT, 0}, {child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
        if (left.count() <= 0 || ::poll(fds, 3, static_cast<int>(left.count())) == 0) {
            timed_out = true;
            break;
        }
        if (fds[0].revents != 0) {
            ssize_t n = ::write(child.in, input.data(), input.size());
            if (n > 0)
                input.remove_prefix(static_cast<std::size_t>(n));
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || input.empty())
                close_fd(child.in);
        }
        std::string* sinks[3] = {nullptr, &outcome.out, &outcome.err};
        int* ends[3] = {nullptr, &child.out, &child.err};
        for (int i = 1; i < 3; ++i) {
            if (fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = ::read(*ends[i], buffer, sizeof buffer);
            if (n > 0)
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                close_fd(*ends[i]);
        }
    }
    if (timed_out) {
        ::kill(child.pid, SIGKILL);
        ADD_FAILURE() << "the program did not end within 5 seconds";
    }
    close_fd(child.in);
    close_fd(child.out);
    close_fd(child.err);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.status = timed_out ? "timed out" : describe(status);
    return outcome;
}

// Files and directories made in the working directory before a run.
struct Entry {
    enum Kind { file, dir, hard_link, sym_link } kind;
    std::string name;
    std::string data; // contents, or the target of a link
};
Entry file(std::string name, std::string contents)
{
    return {Entry::file, std::move(name), std::move(contents)};
}
Entry dir(std::string name)
{
    return {Entry::dir, std::move(name), {}};
}
template <Entry::Kind kind>
Entry make_link(std::string target, std::string name)
{
    return {kind, std::move(name), std::move(target)};
}
const auto hard_link = make_link<Entry::hard_link>;
const auto sym_link = make_link<Entry::sym_link>;

// What a file holds after the run; no contents: it must not exist.
struct Check {
    std::string name;
    std::optional<std::string> contents;
};
Check holds(std::string name, std::string contents)
{
    return {std::move(name), std::move(contents)};
}
Check absent(std::string name)
{
    return {std::move(name), std::nullopt};
}

// A run of the program: its standard output as the test captures it, its
// standard error and exit status, and the files around it.
struct RunRow {
    const char* behaviour;
    Launch launch;
    std::string out;
    std::string err = {};
    std::string status = ok;
    std::vector<Entry> setup = {};
    std::vector<Check> after = {};
};

void expect_outcome(const Outcome& actual, const std::string& out, const std::string& err,
                    const std::string& status)
{
    EXPECT_EQ(visible(out), visible(actual.out)) << "standard output";
    EXPECT_EQ(visible(err), visible(actual.err)) << "standard error";
    EXPECT_EQ(status, actual.status);
}

// A fresh working directory per test, removed afterwards.
class Sandbox : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "volreport-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void make(const std::vector<Entry>& entries)
    {
        for (const Entry& e : entries) {
            fs::path path = dir_ / e.name;
            switch (e.kind) {
            case Entry::file: std::ofstream(path, std::ios::binary) << e.data; break;
            case Entry::dir: fs::create_directory(path); break;
            case Entry::hard_link: fs::create_hard_link(dir_ / e.data, path); break;
            case Entry::sym_link: fs::create_symlink(e.data, path); break;
            }
        }
    }

    void expect_files(const std::vector<Check>& checks) const
    {
        for (const Check& check : checks) {
            std::ifstream in(dir_ / check.name, std::ios::binary);
            std::ostringstream actual;
            actual << in.rdbuf();
            EXPECT_EQ(check.contents ? visible(*check.contents) : "<absent>",
                      in ? visible(actual.str()) : "<absent>")
                << "file " << check.name;
        }
    }

    Outcome run(const Launch& launch)
    {
        Child child = spawn(launch, dir_);
        bool fed = launch.in.kind == Input::pipe || launch.in.kind == Input::nonblocking_pipe;
        return finish(child, fed ? launch.in.data : "");
    }

    void expect_run(const RunRow& row)
    {
        make(row.setup);
        expect_outcome(run(row.launch), row.out, row.err, row.status);
        expect_files(row.after);
    }

    fs::path dir_;
};

// A row is shown by the behaviour it describes.
template <typename Row>
requires requires(const Row& row)
{
    row.behaviour;
}
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.behaviour;
}

// Test names from the behaviour each row describes.
template <typename Row>
std::string row_name(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* p = info.param.behaviour; *p != '\0'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// ---------------------------------------------- the argument vector, files

#ifdef VOLREPORT_SWAP_SHIM
// The environment that preloads the shim, with `settings` for it.
std::vector<std::string> with_shim(std::vector<std::string> settings)
{
    const char* asan_options = std::getenv("ASAN_OPTIONS");
    settings.emplace_back("LD_PRELOAD=" VOLREPORT_SWAP_SHIM);
    // The address sanitizer's run-time must come first unless told otherwise.
    settings.push_back(std::string("ASAN_OPTIONS=") + (asan_options ? asan_options : "") +
                       ":verify_asan_link_order=0");
    return settings;
}
#endif

// Standard input always carries `volume_a`, so a report of `line_a` shows
// that standard input was read, and any other line that a file was.
class Arguments : public Sandbox, public ::testing::WithParamInterface<RunRow> {};

TEST_P(Arguments, Run)
{
    RunRow row = GetParam();
    row.launch.in = piped(volume_a);
    expect_run(row);
}

// Built in two functions of their own: in the file's static initialisation
// the table's temporaries would all share one large stack frame.
// clang-format off
std::vector<RunRow> stream_and_usage_rows() { return {
    // Which streams are bound.
    {"no arguments read standard input", {{"volreport"}}, line_a, "", ok},
    {"an empty argument vector reads standard input", {{}}, line_a, "", ok},
    {"one file name is read and reported on standard output", {{"volreport", "in"}},
     line_in_rw, "", ok, {file("in", file_listing)}},
    {"two file names send the report to the second", {{"volreport", "in", "out"}}, "", "", ok,
     {file("in", file_listing)}, {holds("out", line_in_rw), holds("in", file_listing)}},
    {"an option and two file names are accepted", {{"volreport", "-r", "in", "out"}}, "", "", ok,
     {file("in", file_listing)}, {holds("out", line_in_rw + line_in_ro)}},
    {"an existing output file is truncated", {{"volreport", "in", "out"}}, "", "", ok,
     {file("in", file_listing), file("out", std::string(5000, 'z') + "\n")},
     {holds("out", line_in_rw)}},
    {"an empty report still creates the output file", {{"volreport", "in", "out"}}, "", "", ok,
     {file("in", "")}, {holds("out", "")}},
    {"a file of the same contents is not the input file", {{"volreport", "in", "copy"}}, "", "",
     ok, {file("in", file_listing), file("copy", file_listing)}, {holds("copy", line_in_rw)}},
    {"a later argument with a minus is an output file name", {{"volreport", "in", "-r"}}, "", "",
     ok, {file("in", file_listing)}, {holds("-r", line_in_rw)}},
    {"a later argument with a minus is an input file name", {{"volreport", "-rb", "-w"}},
     line_in_rw + line_in_ro, "", ok, {file("-w", file_listing)}},

    // Usage line and help text; nothing is read, nothing written.
    {"three file names give the usage line", {{"volreport", "a", "b", "c"}}, "", usage, failed},
    {"an option and three file names give the usage line", {{"volreport", "-r", "a", "b", "c"}},
     "", usage, failed},
    {"help is acted on before the file names are counted", {{"volreport", "-h", "a", "b", "c"}},
     "", help, ok},
    {"help is given before a missing input file is opened", {{"volreport", "-h", "missing"}},
     "", help, ok},
    {"an unknown letter is caught before the input file opens", {{"volreport", "-x", "missing"}},
     "", usage, failed},
    {"a lone minus gives the usage line", {{"volreport", "-"}}, "", usage, failed},
    {"two minus signs give the usage line", {{"volreport", "--"}}, "", usage, failed},
    {"a capital letter gives the usage line", {{"volreport", "-R"}}, "", usage, failed},
    {"a letter after h is never looked at", {{"volreport", "-rh"}}, "", help, ok},
    {"help ends the letters before an unknown one", {{"volreport", "-hx"}}, "", help, ok},
    {"an unknown letter before h gives the usage line", {{"volreport", "-xh"}}, "", usage, failed},
    {"a lone h gives the help text", {{"volreport", "-h"}}, "", help, ok},
    {"the usage line shows the program name as invoked", {{"./bin/vol report", "-R"}}, "",
     "Usage: ./bin/vol report [-rwbnfh] [ input-file [ output-file ]]\n", failed},
    {"the help text shows the program name as invoked", {{"/opt/x/volreport", "-h"}}, "",
     "Usage: /opt/x/volreport [-rwbnfh] [ input-file [ output-file ]]\n" + help.substr(usage.size()),
     ok},
    {"an empty program name stays empty", {{"", "-"}}, "",
     "Usage:  [-rwbnfh] [ input-file [ output-file ]]\n", failed},

}; }

std::vector<RunRow> file_rows() { return {
    // Files that cannot be opened.
    {"a missing input file is named", {{"volreport", "-rb", "-w"}}, "",
     "Unable to open input file -w\n", failed},
    {"a lone minus after the option is an input file name", {{"volreport", "-r", "-"}}, "",
     "Unable to open input file -\n", failed},
    {"a missing input file leaves the output file uncreated", {{"volreport", "missing", "out"}},
     "", "Unable to open input file missing\n", failed, {}, {absent("out")}},
    {"a missing input file leaves the output file as it was", {{"volreport", "missing", "out"}},
     "", "Unable to open input file missing\n", failed, {file("out", "keep\n")},
     {holds("out", "keep\n")}},
    {"the input file is opened before the output file", {{"volreport", "missing", "d"}}, "",
     "Unable to open input file missing\n", failed, {dir("d")}},
    {"a directory as input is a read failure", {{"volreport", "d"}}, "",
     "Unable to read input file d\n", failed, {dir("d")}},
    {"a directory as input leaves the output file uncreated", {{"volreport", "d", "out"}}, "",
     "Unable to read input file d\n", failed, {dir("d")}, {absent("out")}},
    {"a directory as input leaves the output file as it was", {{"volreport", "d", "out"}}, "",
     "Unable to read input file d\n", failed, {dir("d"), file("out", "keep\n")},
     {holds("out", "keep\n")}},
    {"a directory as output cannot be opened", {{"volreport", "in", "d"}}, "",
     "Unable to open output file d\n", failed, {file("in", file_listing), dir("d")},
     {holds("in", file_listing)}},
    {"an output file in a missing directory cannot be opened",
     {{"volreport", "in", "nodir/out"}}, "", "Unable to open output file nodir/out\n", failed,
     {file("in", file_listing)}},

    // The input file is never destroyed.
    {"the same name twice is refused", {{"volreport", "in", "in"}}, "",
     "Output file in is the input file\n", failed, {file("in", file_listing)},
     {holds("in", file_listing)}},
    {"another path to the input file is refused", {{"volreport", "-r", "in", "./sub/../in"}}, "",
     "Output file ./sub/../in is the input file\n", failed, {file("in", file_listing), dir("sub")},
     {holds("in", file_listing)}},
    {"a hard link to the input file is refused", {{"volreport", "in", "twin"}}, "",
     "Output file twin is the input file\n", failed,
     {file("in", file_listing), hard_link("in", "twin")}, {holds("in", file_listing)}},
    {"a symbolic link to the input file is refused", {{"volreport", "in", "alias"}}, "",
     "Output file alias is the input file\n", failed,
     {file("in", file_listing), sym_link("in", "alias")}, {holds("in", file_listing)}},
    {"the input file read through a symbolic link is refused", {{"volreport", "alias", "in"}}, "",
     "Output file in is the input file\n", failed,
     {file("in", file_listing), sym_link("in", "alias")}, {holds("in", file_listing)}},
    {"the null device twice is allowed", {{"volreport", "/dev/null", "/dev/null"}}, "", "", ok},
}; }
// clang-format on

const std::vector<RunRow> command_lines = [] {
    std::vector<RunRow> rows = stream_and_usage_rows();
    std::ranges::move(file_rows(), std::back_inserter(rows));
    return rows;
}();

INSTANTIATE_TEST_SUITE_P(, Arguments, ::testing::ValuesIn(command_lines), row_name<RunRow>);

// ------------------------------------------------------------ the letters

// One volume of each type and status, each with its own numbers.
const std::string mixed_listing =
    "rw.on 1 RW 11 K On-line\n    srv a\n    x\n    MaxQuota 101 K\n"
    "rw.off 2 RW 12 K Off-line\n    srv b\n    x\n    MaxQuota 102 K\n"
    "ro.on 3 RO 13 K On-line\n    srv c\n    x\n    MaxQuota 103 K\n"
    "ro.off 4 RO 14 K Off-line\n    srv d\n    x\n    MaxQuota 104 K\n"
    "bk.on 5 BK 15 K On-line\n    srv e\n    x\n    MaxQuota 105 K\n"
    "bk.off 6 BK 16 K Off-line\n    srv f\n    x\n    MaxQuota 106 K\n"
    "xx.busy 7 XX 17 K busy\n    srv g\n    x\n    MaxQuota 107 K\n";
const std::string rw_on = "rw.on                                  101        11 RW srv a\n";
const std::string rw_off = "rw.off                                 102        12 RW srv b\n";
const std::string ro_on = "ro.on                                  103        13 RO srv c\n";
const std::string ro_off = "ro.off                                 104        14 RO srv d\n";
const std::string bk_on = "bk.on                                  105        15 BK srv e\n";
const std::string bk_off = "bk.off                                 106        16 BK srv f\n";
const std::string xx_busy = "xx.busy                                107        17 XX srv g\n";

class Letters : public Sandbox, public ::testing::WithParamInterface<RunRow> {};

TEST_P(Letters, Select)
{
    RunRow row = GetParam();
    row.launch.in = piped(mixed_listing);
    expect_run(row);
}

const std::vector<RunRow> letter_rows = {
    {"by default read_write on_line and unknown kinds", {{"volreport"}}, rw_on + xx_busy},
    {"r adds read_only on_line volumes", {{"volreport", "-r"}}, rw_on + ro_on + xx_busy},
    {"w drops read_write volumes", {{"volreport", "-w"}}, xx_busy},
    {"b adds backup on_line volumes", {{"volreport", "-b"}}, rw_on + bk_on + xx_busy},
    {"n drops on_line volumes", {{"volreport", "-n"}}, xx_busy},
    {"f adds off_line volumes", {{"volreport", "-f"}}, rw_on + rw_off + xx_busy},
    {"nf swaps on_line for off_line", {{"volreport", "-nf"}}, rw_off + xx_busy},
    {"wrb reports read_only and backup instead of read_write",
     {{"volreport", "-wrb"}},
     ro_on + bk_on + xx_busy},
    {"rbf reports every volume",
     {{"volreport", "-rbf"}},
     rw_on + rw_off + ro_on + ro_off + bk_on + bk_off + xx_busy},
    {"rbfnw reports only off_line read_only and backup",
     {{"volreport", "-rbfnw"}},
     ro_off + bk_off + xx_busy},
    {"a repeated letter changes nothing further", {{"volreport", "-rrww"}}, ro_on + xx_busy},
    {"letters apply to a named input file", {{"volreport", "-fn", "/dev/stdin"}}, rw_off + xx_busy},
};

INSTANTIATE_TEST_SUITE_P(, Letters, ::testing::ValuesIn(letter_rows), row_name<RunRow>);

// ------------------------------------------------------ the standard streams

class Streams : public Sandbox, public ::testing::WithParamInterface<RunRow> {};

TEST_P(Streams, Run)
{
    expect_run(GetParam());
}

const bool sigpipe_ignored = true;
const bool sigpipe_default = false;
const std::string no_stdout_message = "Unable to write standard output\n";
const std::string no_stdin_message = "Unable to read standard input\n";

// clang-format off
const std::vector<RunRow> stream_rows = {
    {"a listing in a regular file on standard input", {{"volreport"}, from("in")}, line_in_rw, "",
     ok, {file("in", file_listing)}},
    {"the null device on standard input gives an empty report", {{"volreport"}, from("/dev/null")},
     "", "", ok},
    {"a non_blocking standard input is waited for", {{"volreport"}, nonblocking(large_listing)},
     large_report, "", ok},
    {"a non_blocking standard output is waited for",
     {{"volreport"}, piped(large_listing), captured_nonblocking}, large_report, "", ok},

    // Write failures.
    {"a full device on standard output is reported",
     {{"volreport"}, piped(volume_a), to("/dev/full")}, "", no_stdout_message, failed},
    {"a full device is reported for a last line without newline",
     {{"volreport"}, piped(volume_a.substr(0, volume_a.size() - 1)), to("/dev/full")}, "",
     no_stdout_message, failed},
    {"a full device as output file is reported by name", {{"volreport", "in", "/dev/full"}}, "",
     "Unable to write output file /dev/full\n", failed, {file("in", file_listing)}},
    {"a full device is no failure without report lines",
     {{"volreport"}, piped(unwanted), to("/dev/full")}, "", "", ok},
    {"a full output file is no failure without report lines", {{"volreport", "in", "/dev/full"}},
     "", "", ok, {file("in", unwanted)}},
    {"a closed standard output is reported", {{"volreport"}, piped(volume_a), no_stdout}, "",
     no_stdout_message, failed},
    {"a closed standard output is no failure without report lines",
     {{"volreport"}, piped(unwanted), no_stdout}, "", "", ok},
    {"a closed standard output stays closed when the input opens",
     {{"volreport", "in"}, piped(""), no_stdout}, "", no_stdout_message, failed,
     {file("in", file_listing)}},
    {"a closed standard output does not hinder an output file",
     {{"volreport", "in", "out"}, piped(""), no_stdout}, "", "", ok, {file("in", file_listing)},
     {holds("out", line_in_rw)}},
    {"a broken pipe is reported when SIGPIPE is ignored",
     {{"volreport"}, piped(large_listing), broken_pipe, sigpipe_ignored}, "", no_stdout_message,
     failed},
    {"a broken pipe ends the program silently by SIGPIPE",
     {{"volreport"}, piped(large_listing), broken_pipe, sigpipe_default}, "", "",
     killed_by_sigpipe},
    {"a broken pipe is no failure without report lines",
     {{"volreport"}, piped(unwanted), broken_pipe}, "", "", ok},
#ifdef VOLREPORT_SWAP_SHIM
    {"a write error found when standard output closes is reported",
     {{"volreport"}, piped(volume_a), captured, sigpipe_default,
      with_shim({"VOLREPORT_CLOSE_FAILS=1"})}, line_a, no_stdout_message, failed},
    {"a write error found when the output file closes is reported",
     {{"volreport", "in", "out"}, piped(""), captured, sigpipe_default,
      with_shim({"VOLREPORT_CLOSE_FAILS=1"})}, "", "Unable to write output file out\n", failed,
     {file("in", file_listing)}, {holds("out", line_in_rw)}},
    {"standard input failing to close after a clean run exits 255",
     {{"volreport"}, piped(volume_a), captured, sigpipe_default,
      with_shim({"VOLREPORT_CLOSE_FAILS=0"})}, line_a, "", "exit 255"},
    // The output name is made a link to the input between the program's
    // start and its open of the output: the file it opened is what counts.
    {"an output swapped for a link to the input is refused",
     {{"volreport", "in", "out"}, piped(""), captured, sigpipe_default,
      with_shim({"VOLREPORT_SWAP_NAME=out", "VOLREPORT_SWAP_TARGET=in"})}, "",
     "Output file out is the input file\n", failed,
     {file("in", file_listing), file("out", "old report\n")}, {holds("in", file_listing)}},
    {"the input file that cannot be opened for writing is still refused",
     {{"volreport", "in", "in"}, piped(""), captured, sigpipe_default,
      with_shim({"VOLREPORT_DENY_WRITE=in"})}, "", "Output file in is the input file\n", failed,
     {file("in", file_listing)}, {holds("in", file_listing)}},
#endif

    // Read failures.
    {"a closed standard input is reported", {{"volreport"}, no_stdin}, "", no_stdin_message,
     failed},
    {"a closed standard input is reported before a full device",
     {{"volreport"}, no_stdin, to("/dev/full")}, "", no_stdin_message, failed},
    {"a closed standard input does not hinder an input file", {{"volreport", "in"}, no_stdin},
     line_in_rw, "", ok, {file("in", file_listing)}},
    {"closed standard streams do not hinder named files",
     {{"volreport", "in", "out"}, no_stdin, no_stdout}, "", "", ok, {file("in", file_listing)},
     {holds("out", line_in_rw)}},
    {"a directory on standard input is a read failure", {{"volreport"}, from(".")}, "",
     no_stdin_message, failed},
    {"report lines written before a read failure stay", {{"volreport"}, reset_after(volume_a)},
     line_a, no_stdin_message, failed},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(, Streams, ::testing::ValuesIn(stream_rows), row_name<RunRow>);

// ---------------------------------------------------- output file mode

struct ModeRow {
    const char* behaviour;
    mode_t umask;
    mode_t mode;
};

class OutputMode : public Sandbox, public ::testing::WithParamInterface<ModeRow> {};

TEST_P(OutputMode, ReadWriteLessUmask)
{
    Launch launch{.argv = {"volreport", "in", "out"}, .umask = GetParam().umask};
    expect_run({GetParam().behaviour, launch, "", "", ok, {file("in", file_listing)}});
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "out").c_str(), &st), 0);
    EXPECT_EQ(GetParam().mode, st.st_mode & 07777) << std::oct << "got 0" << (st.st_mode & 07777);
}

const std::vector<ModeRow> mode_rows = {
    {"umask 022 gives 0644", 022, 0644},
    {"umask 0 gives 0666", 0, 0666},
    {"umask 077 gives 0600", 077, 0600},
    {"umask 027 gives 0640", 027, 0640},
};

INSTANTIATE_TEST_SUITE_P(, OutputMode, ::testing::ValuesIn(mode_rows), row_name<ModeRow>);

// ------------------------------------------------------------ live output

// A report line is written before the program waits for more input, so a
// slow producer's volumes show up as they come.
class LiveOutput : public Sandbox {};

TEST_F(LiveOutput, ReportLineArrivesBeforeTheInputEnds)
{
    Child child = spawn({}, dir_); // standard input: a pipe left open
    ASSERT_GE(child.in, 0);
    ASSERT_EQ(::write(child.in, volume_a.data(), volume_a.size()),
              static_cast<ssize_t>(volume_a.size()));

    std::string early;
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (early.size() < line_a.size()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd = {child.out, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        ssize_t n = ::read(child.out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        early.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(visible(line_a), visible(early)) << "report while standard input is still open";

    expect_outcome(finish(child, ""), "", "", ok); // closes standard input
}

} // namespace

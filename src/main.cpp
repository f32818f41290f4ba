// SPDX-License-Identifier: MIT
// Program entry: the option letters, the named files, the exit status.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "volreport.h"

namespace {

const char* program_name = "";

// The usage line, which is a failure, or the help text that starts with it.
[[noreturn]] void exit_with_usage(bool help)
{
    (void)std::fprintf(stderr, "Usage: %s [-rwbnfh] [ input-file [ output-file ]]\n%s",
                       program_name,
                       help ? "where      -r  include read-only volumes\n"
                              "           -w  exclude read-write volumes\n"
                              "           -b  include backup volumes\n"
                              "           -n  exclude on-line volumes\n"
                              "           -f  include off-line volumes\n"
                              "           -h  print this message\n"
                            : "");
    std::exit(help ? 0 : 2);
}

// Ends the process with status 2 and a message, which names `name` where
// it has a %s.
[[noreturn]] void fail(const char* format, const char* name)
{
    (void)std::fprintf(stderr, format, name);
    std::exit(2);
}

// Acts on each letter at once, left to right: the first h or unknown letter
// ends the process before the letters after it are looked at.
void apply_option_letters(const char* letters)
{
    // A lone '-' has no letter: its end is taken as an unknown one.
    do
        if (*letters == 'h' || !apply_selection_letter(selection, *letters))
            exit_with_usage(*letters == 'h');
    while (*++letters != '\0');
}

// Puts the open descriptor `fd` in place of `target`, so that the listing is
// always read from descriptor 0 and the report written to descriptor 1.
bool bind_descriptor(int fd, int target)
{
    if (fd == target)
        return true;
    bool bound = ::dup2(fd, target) == target;
    ::close(fd);
    return bound;
}

// Whether `file` is the regular file open as the listing on descriptor 0,
// under whatever name: writing to it would destroy the listing.
bool is_input_file(const struct stat& file)
{
    struct stat in;
    return S_ISREG(file.st_mode) && ::fstat(0, &in) == 0 && in.st_dev == file.st_dev &&
           in.st_ino == file.st_ino;
}

// Opens the report's file on descriptor 1, or ends the process. The file is
// compared with the input through the open descriptor and only then
// truncated: checking the name before an open with O_TRUNC leaves a moment
// in which the name can become a link to the input, which the open would
// then empty.
void open_output(const char* name)
{
    struct stat out;
    int fd = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    // Where the open failed, the name is compared: the input under a name
    // it cannot be written by is still the input.
    bool known = (fd < 0 ? ::stat(name, &out) : ::fstat(fd, &out)) == 0;
    if (known && is_input_file(out))
        fail("Output file %s is the input file\n", name);
    // Devices, pipes and terminals have nothing to truncate.
    if (fd < 0 || !known || (S_ISREG(out.st_mode) && ::ftruncate(fd, 0) != 0) ||
        !bind_descriptor(fd, 1))
        fail("Unable to open output file %s\n", name);
}

} // namespace

int main(int argc, char** argv)
{
    // An empty argument vector has neither a program name nor arguments.
    // Either way the arguments end at a null pointer.
    if (argc > 0)
        program_name = *argv++;
    if (argv[0] != nullptr && argv[0][0] == '-')
        apply_option_letters(*argv++ + 1);
    const char* input_name = argv[0];
    const char* output_name = input_name != nullptr ? argv[1] : nullptr;
    if (output_name != nullptr && argv[2] != nullptr)
        exit_with_usage(false);

    if (input_name != nullptr) {
        int fd = ::open(input_name, O_RDONLY | O_CLOEXEC);
        if (fd < 0 || !bind_descriptor(fd, 0))
            fail("Unable to open input file %s\n", input_name);
        // A directory opens but can never be read: fail before the output
        // file is opened, so that an earlier report under its name stays.
        struct stat in;
        if (::fstat(0, &in) == 0 && S_ISDIR(in.st_mode))
            fail("Unable to read input file %s\n", input_name);
    }
    if (output_name != nullptr)
        open_output(output_name);

    FilterStatus status = run_filter();
    if (status == FilterStatus::no_memory)
        fail("Out of memory\n", nullptr);
    // Closing a report descriptor that was never open fails with EBADF:
    // no error when nothing was written to it, and anything written would
    // already have failed.
    if (status == FilterStatus::write_error ||
        (::close(1) != 0 && errno != EBADF && errno != EINTR))
        fail(output_name != nullptr ? "Unable to write output file %s\n"
                                    : "Unable to write standard output\n",
             output_name);
    if (status == FilterStatus::read_error)
        fail(input_name != nullptr ? "Unable to read input file %s\n"
                                   : "Unable to read standard input\n",
             input_name);
    // A failed close of the listing's descriptor is handed to the exit as
    // -1, which the platform reports as 255.
    return ::close(0) == 0 ? 0 : 255;
}

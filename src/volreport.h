// SPDX-License-Identifier: MIT
// Declarations shared by the command line, the listing filter and the
// volume selection.
#pragma once

#include <string_view>

// The five include switches. The defaults report read-write on-line volumes
// and anything whose type or status is none of the known words; every
// option letter only moves one switch away from its default.
struct VolumeSelection {
    bool include_read_write = true;
    bool include_read_only = false;
    bool include_backup = false;
    bool include_online = true;
    bool include_offline = false;
};

// The process's one selection: written by the command line before the
// listing is read, only read afterwards.
extern VolumeSelection selection;

// Moves the switch that an option letter names (r, w, b, n or f) away from
// its default in `choice`; false for any other letter.
bool apply_selection_letter(VolumeSelection& choice, char letter);

// Whether a volume of this type and status is wanted under `choice`, the
// process's `selection` when the program runs. Comparisons are exact,
// whole-word and case-sensitive. Inline, as the filter asks it of every
// header.
inline bool is_selected(const VolumeSelection& choice, std::string_view type,
                        std::string_view status)
{
    // A known word is wanted as its switch says; any other word is.
    bool type_wanted = type == "RW"   ? choice.include_read_write
                       : type == "RO" ? choice.include_read_only
                                      : type != "BK" || choice.include_backup;
    return type_wanted && (status == "Off-line" ? choice.include_offline
                                                : status != "On-line" || choice.include_online);
}

// How a filter run ended. Input that does not match the listing format is
// never an error; only the streams themselves can fail.
enum class FilterStatus {
    ok,          // the whole input was read and every report line written
    read_error,  // reading the listing failed; report lines before it stay
    write_error, // writing the report failed
    no_memory,   // the run's buffers could not be had; nothing was read
};

// Reads the listing on standard input (descriptor 0) to its end and writes
// the report to standard output (descriptor 1) under `selection`. Pending
// report lines are written out before it returns, whatever the status.
FilterStatus run_filter();

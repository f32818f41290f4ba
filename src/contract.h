// SPDX-License-Identifier: MIT
// Checked preconditions. Builds with VOLREPORT_CHECKED, which the build
// gives Debug and every sanitizer build, stop at the first broken one with
// its place; the others compile them away, so a check costs the hot path
// nothing there.
#pragma once

#include <cstdio>
#include <cstdlib>

#if defined(VOLREPORT_CHECKED)
#define VOLREPORT_EXPECTS(condition)                                                               \
    ((condition) ? void(0) : volreport_broken(#condition, __FILE__, __LINE__))
[[noreturn]] inline void volreport_broken(const char* what, const char* file, int line)
{
    (void)std::fprintf(stderr, "%s:%d: broken precondition: %s\n", file, line, what);
    std::abort();
}
#else
#define VOLREPORT_EXPECTS(condition) void(sizeof(condition))
#endif

// SPDX-License-Identifier: MIT
// Checked preconditions. Debug builds and every sanitizer build stop at the
// first broken one with its place; release builds compile them away, so a
// check costs the hot path nothing there.
#pragma once

#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define VOLREPORT_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define VOLREPORT_CHECKED 1
#endif
#endif

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

// SPDX-License-Identifier: MIT
// The plain fgets/sscanf filter as a program, with the default selection
// widened by the same option letters: the baseline that the throughput
// benchmark measures volreport against.
#include <cstdio>

#include "plain_filter.h"

int main(int argc, char** argv)
{
    VolumeSelection choice;
    if (argc > 1 && argv[1][0] == '-') {
        for (const char* p = argv[1] + 1; *p; ++p) {
            if (!apply_selection_letter(choice, *p))
                return 2;
        }
    }
    plain_filter(stdin, stdout, choice);
    return 0;
}

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
            switch (*p) {
            case 'r': choice.include_read_only = true; break;
            case 'w': choice.include_read_write = false; break;
            case 'b': choice.include_backup = true; break;
            case 'n': choice.include_online = false; break;
            case 'f': choice.include_offline = true; break;
            default: return 2;
            }
        }
    }
    plain_filter(stdin, stdout, choice);
    return 0;
}

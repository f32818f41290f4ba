// SPDX-License-Identifier: MIT
// The filter written the plain way, with fgets and sscanf, and the default
// selection widened by the same option letters. It is the baseline that the
// throughput benchmark measures volreport against, and a second opinion on
// its output in the randomised comparison.
#include <cstdio>
#include <cstring>

namespace {

bool want_rw = true, want_ro = false, want_bk = false, want_on = true, want_off = false;

bool wanted(const char* type, const char* status)
{
    if (!strcmp(type, "RW") && !want_rw)
        return false;
    if (!strcmp(type, "RO") && !want_ro)
        return false;
    if (!strcmp(type, "BK") && !want_bk)
        return false;
    if (!strcmp(status, "Off-line") && !want_off)
        return false;
    if (!strcmp(status, "On-line") && !want_on)
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1][0] == '-') {
        for (const char* p = argv[1] + 1; *p; ++p) {
            switch (*p) {
            case 'r': want_ro = true; break;
            case 'w': want_rw = false; break;
            case 'b': want_bk = true; break;
            case 'n': want_on = false; break;
            case 'f': want_off = true; break;
            default: return 2;
            }
        }
    }
    char line[1024];
    char name[63], type[9], status[19], word1[127], word2[15];
    unsigned long number, size, quota;
    while (fgets(line, sizeof line, stdin)) {
        if (line[0] == ' ' || line[0] == '\n')
            continue;
        if (!strncmp(line, "Total number of", 15) || !strncmp(line, "Total volumes on", 16))
            continue;
        if (sscanf(line, "%62s%lu%8s%lu K %18s", name, &number, type, &size, status) != 5)
            continue;
        if (!wanted(type, status))
            continue;
        if (!fgets(line, sizeof line, stdin) || strncmp(line, "    ", 4) ||
            sscanf(line, "%126s%14s", word1, word2) < 2)
            continue;
        if (!fgets(line, sizeof line, stdin) || strncmp(line, "    ", 4))
            continue;
        if (!fgets(line, sizeof line, stdin) || strncmp(line, "    MaxQuota ", 13) ||
            sscanf(line + 13, "%lu K", &quota) < 1)
            continue;
        printf("%-32s %9lu %9lu %s %s %s\n", name, quota, size, type, word1, word2);
    }
    return 0;
}

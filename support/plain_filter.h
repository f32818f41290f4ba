// SPDX-License-Identifier: MIT
// The listing filter written the plain way, with fgets and sscanf: the
// baseline the benchmarks measure volreport against and the oracle the
// tests and fuzzers compare its reports with.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "volreport.h"

// Reads the listing from `in` to its end or first read failure and writes
// the report to `out` under `choice`.
void plain_filter(std::FILE* in, std::FILE* out, const VolumeSelection& choice);

// The report of `listing` under `choice`, through the same loop.
std::string plain_report(std::string_view listing, const VolumeSelection& choice);

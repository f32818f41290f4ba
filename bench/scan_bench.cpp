// SPDX-License-Identifier: MIT
// scan_bench: the field scanner of src/scan.h against std::sscanf with the
// same patterns on the same lines, and the whole in-process filter on a
// generated listing.
//
// Every line is kept with `scan_padding` readable bytes behind it, as the
// scanner's contract asks, and as a terminated copy for sscanf. Each scanner
// benchmark first checks that the scanner and sscanf convert every line it
// uses to the same fields, so a scanner that disagrees with the library
// stops the benchmark with an error instead of being timed. The filter
// benchmark checks that the filter read the whole listing and wrote a report.
//
// Each scan benchmark runs on one line (`lines:1`, the typical line) and on
// a rotation of eight lines of different shapes (`lines:8`), so that branch
// prediction does not learn a single line by heart.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter.h"
#include "scan.h"
#include "test_support.h"

#ifndef GEN_LISTING_PATH
#define GEN_LISTING_PATH "gen_listing"
#endif

namespace {

std::vector<Padded> make_lines(std::initializer_list<std::string_view> texts, std::size_t count)
{
    std::vector<Padded> lines;
    for (std::string_view text : texts) {
        if (lines.size() == count)
            break;
        lines.emplace_back(text);
    }
    // The benchmarks step through the lines with a mask.
    if (lines.empty() || (lines.size() & (lines.size() - 1)) != 0)
        std::abort();
    return lines;
}

// Header lines as a listing has them: name in 34 columns, volume number,
// type, size right-aligned in 10, "K", status. The first is the typical one.
std::vector<Padded> header_lines(std::size_t count)
{
    return make_lines(
        {
            "home.alice                        536870915 RW    1048576 K On-line\n",
            "proj.orbit.delta                  536900012 RO      83412 K On-line\n",
            "sw.cascade.prism.eu-west.ro       536900457 RO 4294967296 K Off-line\n",
            "logs.tundra.ember.bk              536901002 BK    9876543 K On-line\n",
            "home.karomi42                     536902110 RW          0 K On-line\n",
            "data.summit.vertex                536903333 RW  812345678 K Off-line\n",
            "web.lumen.beacon.v3               536904001 RW      51200 K On-line\n",
            "build.falcon.nimbus.ro            536904002 RO   12000000 K On-line\n",
        },
        count);
}

std::vector<Padded> detail_lines(std::size_t count)
{
    return make_lines(
        {
            "    fs1.example.org /part/a\n",
            "    fs12.example.org /part/d\n",
            "    fs3.example.org /part/b\n",
            "    fs117.example.org /part/c\n",
            "    fs40.example.org /part/a\n",
            "    fs7.example.org /part/b\n",
            "    fs1024.example.org /part/d\n",
            "    fs9.example.org /part/c\n",
        },
        count);
}

std::vector<Padded> quota_lines(std::size_t count)
{
    return make_lines(
        {
            "    MaxQuota    2000000 K\n",
            "    MaxQuota          0 K\n",
            "    MaxQuota 5368709000 K\n",
            "    MaxQuota     104000 K\n",
            "    MaxQuota   12001000 K\n",
            "    MaxQuota    1311000 K\n",
            "    MaxQuota   86000000 K\n",
            "    MaxQuota       3000 K\n",
        },
        count);
}

void set_rates(benchmark::State& state, std::size_t bytes)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// The white space of `text`, one line, as the line reader hands it to the
// filter.
simd::LineSpaces reader_spaces(std::string_view text)
{
    auto reader = std::make_unique_for_overwrite<LineReader>();
    MemorySource source{text};
    reader->open(source.source());
    PaddedLine line;
    simd::LineSpaces spaces{};
    if (!reader->refill() || !reader->take_line(line) ||
        reader->line_spaces(line, spaces) == nullptr)
        std::abort();
    return spaces;
}

// Times `scan` on the lines in turn, after checking that the scanners
// agree with sscanf on every one of them. range(1) 1: with the masks that
// the reader hands out, the filter's route; 0: without, the route of long
// lines and of lines with control bytes, which classifies the line itself.
template <class Paddeds, class Scan>
void time_scanner(benchmark::State& state, const Paddeds& lines, Scan scan)
{
    std::vector<simd::LineSpaces> spaces;
    for (const Padded& line : lines) {
        if (std::string error = scan_mismatch(line.text); !error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        spaces.push_back(reader_spaces(line.text));
    }
    const bool masked = state.range(1) != 0;
    const std::size_t mask = lines.size() - 1;
    std::size_t i = 0, bytes = 0;
    VolumeRecord record;
    for (auto _ : state) {
        PaddedLine text = lines[i].line();
        int converted = scan(text, masked ? &spaces[i] : nullptr, record);
        benchmark::DoNotOptimize(converted);
        benchmark::DoNotOptimize(record);
        bytes += text.text().size();
        i = (i + 1) & mask;
    }
    set_rates(state, bytes);
}

// Times `scan_with_sscanf` on the terminated copies of the lines in turn.
template <class Paddeds, class Scan>
void time_sscanf(benchmark::State& state, const Paddeds& lines, Scan scan_with_sscanf)
{
    const std::size_t mask = lines.size() - 1;
    std::size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const std::string& text = lines[i].text;
        int converted = scan_with_sscanf(text.c_str());
        benchmark::DoNotOptimize(converted);
        bytes += text.size();
        i = (i + 1) & mask;
    }
    set_rates(state, bytes);
}

std::size_t line_count(const benchmark::State& state)
{
    return static_cast<std::size_t>(state.range(0));
}

void BM_scan_header(benchmark::State& state)
{
    time_scanner(state, header_lines(line_count(state)), scan_header);
}

void BM_sscanf_header(benchmark::State& state)
{
    char name[63], type[9], status[19];
    unsigned long number = 0, size = 0;
    time_sscanf(state, header_lines(line_count(state)), [&](const char* text) {
        int converted =
            std::sscanf(text, "%62s%lu%8s%lu K %18s", name, &number, type, &size, status);
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(number);
        benchmark::DoNotOptimize(type);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(status);
        return converted;
    });
}

void BM_scan_first_detail(benchmark::State& state)
{
    time_scanner(state, detail_lines(line_count(state)), scan_first_detail);
}

void BM_sscanf_first_detail(benchmark::State& state)
{
    char word1[127], word2[15];
    time_sscanf(state, detail_lines(line_count(state)), [&](const char* text) {
        int converted = std::sscanf(text, "%126s%14s", word1, word2);
        benchmark::DoNotOptimize(word1);
        benchmark::DoNotOptimize(word2);
        return converted;
    });
}

void BM_scan_quota(benchmark::State& state)
{
    time_scanner(state, quota_lines(line_count(state)), scan_quota);
}

void BM_sscanf_quota(benchmark::State& state)
{
    unsigned long quota = 0;
    time_sscanf(state, quota_lines(line_count(state)), [&](const char* text) {
        int converted = std::sscanf(text + quota_prefix.size(), "%lu K", &quota);
        benchmark::DoNotOptimize(quota);
        return converted;
    });
}

// ---- the whole filter, in process ----

constexpr int listing_volumes = 20000;
constexpr int listing_seed = 1;

// The listing of `listing_volumes` volumes from the bench generator, read
// once; empty when the generator could not be run.
const std::string& generated_listing()
{
    static const std::string listing = [] {
        std::string text;
        std::string command = std::string("'") + GEN_LISTING_PATH + "' --volumes " +
                              std::to_string(listing_volumes) + " --seed " +
                              std::to_string(listing_seed);
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return text;
        std::vector<char> buffer(std::size_t{1} << 16);
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            text.append(buffer.data(), n);
        if (pclose(pipe) != 0)
            text.clear();
        return text;
    }();
    return listing;
}

// Discards the report but counts its bytes and looks at them, so that the
// report's writing cannot be left out.
struct CountingSink {
    std::uint64_t bytes = 0;

    static bool write(void* context, const char* data, std::size_t size)
    {
        auto* self = static_cast<CountingSink*>(context);
        benchmark::DoNotOptimize(data);
        self->bytes += size;
        return true;
    }
};

// range(0): 1 for -rbf (every volume), 0 for the default selection.
void BM_filter_listing(benchmark::State& state)
{
    const std::string& listing = generated_listing();
    if (listing.empty()) {
        state.SkipWithError("could not run " GEN_LISTING_PATH);
        return;
    }
    VolumeSelection choice;
    if (state.range(0) != 0) {
        choice.include_read_only = true;
        choice.include_backup = true;
        choice.include_offline = true;
    }
    std::uint64_t report_bytes = 0;
    for (auto _ : state) {
        MemorySource source{listing};
        CountingSink sink;
        FilterStatus status =
            filter_listing(reused_storage(), {&source, MemorySource::read},
                           {&sink, CountingSink::write}, choice);
        if (status != FilterStatus::ok || sink.bytes == 0 || !source.rest.empty()) {
            state.SkipWithError("filter_listing failed or wrote no report");
            return;
        }
        benchmark::DoNotOptimize(sink.bytes);
        report_bytes = sink.bytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(listing.size()));
    state.counters["listing_MB"] = static_cast<double>(listing.size()) / 1e6;
    state.counters["report_bytes"] = static_cast<double>(report_bytes);
}

} // namespace

// lines: 1 or 8 in turn; masks: 1 as the filter scans, 0 out of line.
BENCHMARK(BM_scan_header)->ArgNames({"lines", "masks"})->ArgsProduct({{1, 8}, {1, 0}});
BENCHMARK(BM_sscanf_header)->ArgName("lines")->Arg(1)->Arg(8);
BENCHMARK(BM_scan_first_detail)->ArgNames({"lines", "masks"})->ArgsProduct({{1, 8}, {1, 0}});
BENCHMARK(BM_sscanf_first_detail)->ArgName("lines")->Arg(1)->Arg(8);
BENCHMARK(BM_scan_quota)->ArgNames({"lines", "masks"})->ArgsProduct({{1, 8}, {1, 0}});
BENCHMARK(BM_sscanf_quota)->ArgName("lines")->Arg(1)->Arg(8);
BENCHMARK(BM_filter_listing)->ArgName("rbf")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

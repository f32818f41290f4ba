// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

long MemorySource::read(void* context, char* buffer, std::size_t size)
{
    auto* self = static_cast<MemorySource*>(context);
    if (self->rest.empty() && self->fail_at_end)
        return -1;
    std::size_t n = size < self->rest.size() ? size : self->rest.size();
    if (self->cap_seed != 0 && n > 1) {
        self->cap_seed = self->cap_seed * 1103515245U + 12345U;
        n = 1 + (self->cap_seed >> 16U) % n;
    }
    self->rest.copy(buffer, n);
    self->rest.remove_prefix(n);
    return static_cast<long>(n);
}

bool append_to_string(void* context, const char* data, std::size_t size)
{
    static_cast<std::string*>(context)->append(data, size);
    return true;
}

bool refuse_bytes(void* /*context*/, const char* /*data*/, std::size_t /*size*/)
{
    return false;
}

Padded::Padded(std::string_view line)
    : text(line), storage(std::make_unique<char[]>(line.size() + scan_padding))
{
    line.copy(storage.get(), line.size());
    for (std::size_t i = 0; i < scan_padding; ++i)
        storage[line.size() + i] = "7K"[i % 2];
}

std::string visible(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out += hex[c >> 4U];
                out += hex[c & 15U];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

FilterStorage& reused_storage()
{
    // Left as the allocator gives it, as the program's is.
    static const std::unique_ptr<FilterStorage> storage =
        std::make_unique_for_overwrite<FilterStorage>();
    return *storage;
}

FilterRun run_in_memory(MemorySource in, const VolumeSelection& choice, std::size_t block_size)
{
    FilterRun run{FilterStatus::ok, {}};
    run.status = filter_listing(reused_storage(), in.source(), {&run.report, append_to_string},
                                choice, block_size);
    return run;
}

std::string filter_string(std::string_view listing, const VolumeSelection& choice,
                          std::size_t block_size)
{
    FilterRun run = run_in_memory({listing}, choice, block_size);
    return run.status == FilterStatus::ok ? run.report : run.report + "<filter failed>";
}

void check_failed(const char* what, std::string_view detail)
{
    (void)std::fprintf(stderr, "check failed: %s\n", what);
    if (!detail.empty())
        (void)std::fprintf(stderr, "  %s\n", visible(detail).c_str());
    std::abort();
}

ByteLoopMasks byte_loop_masks(std::string_view bytes)
{
    ByteLoopMasks m{std::vector<simd::LineMasks>((bytes.size() + 63) / 64)};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        std::uint64_t bit = std::uint64_t{1} << (i % 64);
        simd::LineMasks& block = m.blocks[i / 64];
        block.newlines |= c == '\n' ? bit : 0;
        block.spaces |= is_white(c) ? bit : 0;
        bool after_newline = i > 0 && bytes[i - 1] == '\n';
        block.heads |= after_newline && c != ' ' && c != '\n' ? bit : 0;
        m.nuls = m.nuls || c == '\0';
    }
    return m;
}

std::vector<std::string_view> fgets_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    if (text.empty())
        return lines;
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (f == nullptr)
        check_failed("fmemopen");
    // Zeroed, because fgets writes the bytes after a NUL in a line without
    // MemorySanitizer knowing: it takes the line to end at the NUL.
    char buffer[1024] = {};
    long before = 0;
    while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
        long after = std::ftell(f);
        std::string_view line =
            text.substr(static_cast<std::size_t>(before), static_cast<std::size_t>(after - before));
        require(std::memcmp(buffer, line.data(), line.size()) == 0 && buffer[line.size()] == '\0',
                "fgets copies the bytes it consumed", line);
        lines.push_back(line);
        before = after;
    }
    (void)std::fclose(f);
    return lines;
}

std::string line_reader_mismatch(std::string_view bytes, std::size_t block_size, unsigned cap_seed,
                                 bool skip)
{
    const std::vector<std::string_view> lines = fgets_lines(bytes);
    MemorySource in{bytes, cap_seed};
    // Never cleared: a run must not depend on what the run before left.
    LineReader& reader = reused_storage().in;
    reader.open(in.source(), block_size);
    // Where the reader's next line starts, and the fgets line that starts there.
    auto position = [&] { return bytes.size() - in.rest.size() - reader.unread().size(); };
    std::size_t next = 0;
    auto indented = [&] { return lines[next][0] == ' ' || lines[next][0] == '\n'; };
    PaddedLine padded;
    for (;;) {
        std::size_t before = position();
        if (skip)
            reader.skip_indented_lines();
        if (position() != before) {
            while (next < lines.size() && indented() && lines[next].back() == '\n')
                ++next;
            if (position() < before || next == lines.size() || indented() ||
                position() != static_cast<std::size_t>(lines[next].data() - bytes.data()))
                return "the fast pass from byte " + std::to_string(before) + " stopped at byte " +
                       std::to_string(position()) + ", not at the next line that is not indented";
        }
        if (!reader.take_line(padded)) {
            if (reader.source_ended())
                break;
            if (!reader.refill())
                return "a memory source failed";
            continue;
        }
        // The whole line ends where the reader goes on; its text, at its
        // first NUL.
        std::string_view text = padded.text();
        std::string_view line(text.data(),
                              static_cast<std::size_t>(reader.unread().data() - text.data()));
        if (text != line.substr(0, line.find('\0')))
            return "the text of \"" + visible(line) + "\" does not end at its first NUL";
        if (next == lines.size() || line != lines[next])
            return "line " + std::to_string(next) + " is \"" + visible(line) + "\", not \"" +
                   (next < lines.size() ? visible(lines[next]) : "<no line>") + "\"";
        ++next;
    }
    if (next != lines.size() || position() != bytes.size())
        return "the reader ended at byte " + std::to_string(position()) + ", after " +
               std::to_string(next) + " of " + std::to_string(lines.size()) + " lines";
    return {};
}

namespace {

int converted(int sscanf_result)
{
    return sscanf_result == EOF ? 0 : sscanf_result;
}

template <std::size_t N>
bool same_word(const Word<N>& word, const char* expected)
{
    return word.view() == expected && word.size <= N && word.text[word.size] == '\0';
}

// The three scans of `exact` with `spaces`, against sscanf on the
// terminated `line`.
// NOLINTBEGIN(cert-err34-c): the C library's conversion rules are the oracle here
std::string scans_differ(PaddedLine exact, const std::string& line, const simd::LineSpaces* spaces)
{
    VolumeRecord r;
    char name[63] = "";
    char type[9] = "";
    char status[19] = "";
    char word_1[127] = "";
    char word_2[15] = "";
    unsigned long number = 0;
    unsigned long size = 0;
    int fields = scan_header(exact, spaces, r);
    int expected = converted(
        std::sscanf(line.c_str(), "%62s%lu%8s%lu K %18s", name, &number, type, &size, status));
    if (fields != expected || (fields >= 1 && !same_word(r.name, name)) ||
        (fields >= 2 && r.volume_number != number) || (fields >= 3 && !same_word(r.type, type)) ||
        (fields >= 4 && r.size_k != size) || (fields >= 5 && !same_word(r.status, status)))
        return "header";
    fields = scan_first_detail(exact, spaces, r);
    expected = converted(std::sscanf(line.c_str(), "%126s%14s", word_1, word_2));
    if (fields != expected || (fields >= 1 && !same_word(r.detail_word_1, word_1)) ||
        (fields >= 2 && !same_word(r.detail_word_2, word_2)))
        return "first detail";
    if (line.compare(0, quota_prefix.size(), quota_prefix) == 0) {
        fields = scan_quota(exact, spaces, r);
        expected = converted(std::sscanf(line.c_str() + quota_prefix.size(), "%lu K", &number));
        if (fields != expected || (fields == 1 && r.max_quota_k != number))
            return "quota";
    }
    return {};
}
// NOLINTEND(cert-err34-c)

} // namespace

std::string scan_mismatch(std::string_view line)
{
    line = line.substr(0, std::min(line.find('\0'), max_line_bytes));
    // The scanners get a copy followed only by the padding they may load,
    // which looks like more of a field, so a scanner that used it is seen.
    Padded exact(line);
    std::string what = scans_differ(exact, exact.text, nullptr);
    if (what.empty() && line.size() <= simd::LineSpaces::max_bytes) {
        // A mask whose bits past the line are noise, which must not count:
        // white space at every odd position.
        std::string noisy(line);
        while (noisy.size() < 8 * sizeof(simd::LineSpaces::bits))
            noisy += noisy.size() % 2 != 0 ? ' ' : 'x';
        ByteLoopMasks masks = byte_loop_masks(noisy);
        simd::LineSpaces spaces{{masks.blocks[0].spaces, masks.blocks[1].spaces}};
        what = scans_differ(exact, exact.text, &spaces);
        if (!what.empty())
            what += " with a mask";
    }
    return what.empty() ? what : what + " differs from sscanf on \"" + visible(line) + "\"";
}

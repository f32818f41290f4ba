// SPDX-License-Identifier: MIT
#include "scan.h"

#include <bit>
#include <cstring>
#include <limits>

#include "simd.h"

namespace {

// Each helper scans one field from `p` and returns where it stopped, or null
// when the field did not convert; pointers in and out keep the position in
// a register across the calls.

// Fields are found from the white-space and digit masks of 64 bytes at a
// time, loading up to `scan_padding` bytes past the end of the text and
// ignoring them: a header's scan then costs about half the instructions of
// a byte loop.
simd::WordMasks word_masks(const simd::Kernel& kernel, const char* p)
{
    simd::WordMasks masks;
    kernel.classify_words(p, 1, &masks);
    return masks;
}

// The value of the `n` digits at `p` (1 to 8), eight at a time in one
// 64-bit word: the digits are moved to the top bytes, leaving zeros as
// leading digits, and combined in pairs, fours and eights by three
// multiplications. Loads 8 bytes from `p`.
std::uint64_t parse_up_to_8(const char* p, std::size_t n)
{
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    // Digits are at least '0', so the subtraction never borrows from
    // them; bytes past the digits are shifted out.
    word = (word - 0x3030303030303030) << (8 * (8 - n));
    word = word * 10 + (word >> 8);
    word = (((word & 0x000000ff000000ff) * (100 + (1000000ULL << 32))) +
            (((word >> 16) & 0x000000ff000000ff) * (1 + (10000ULL << 32)))) >>
           32;
    return word;
}

// Listings align their columns with long runs of spaces.
const char* skip_space(const simd::Kernel& kernel, const char* p, const char* end)
{
    // Most gaps are short, as before a quota: a few bytes one by one cost
    // less than a block's masks (callgrind: 230 instructions per quota
    // line with masks alone, 110 with this).
    for (int i = 0; i < 8; ++i, ++p) {
        if (p == end || !is_space(*p))
            return p;
    }
    while (p < end) {
        std::uint64_t spaces = word_masks(kernel, p).spaces;
        if (spaces != ~std::uint64_t{0}) {
            p += std::countr_one(spaces);
            break;
        }
        p += 64;
    }
    return p < end ? p : end;
}

template <std::size_t N>
const char* scan_text(const simd::Kernel& kernel, const char* p, const char* end, Word<N>& out)
{
    p = skip_space(kernel, p, end);
    if (p == end)
        return nullptr;
    auto available = static_cast<std::size_t>(end - p);
    std::size_t limit = available < N ? available : N;
    std::size_t n = 0;
    for (;;) {
        std::uint64_t spaces = word_masks(kernel, p + n).spaces;
        if (spaces != 0) {
            n += static_cast<std::size_t>(std::countr_zero(spaces));
            break;
        }
        n += 64;
        if (n >= limit)
            break;
    }
    if (n > limit)
        n = limit;
    // Copies whole 16-byte pieces; the word's array has room for them.
    for (std::size_t i = 0; i < n; i += 16)
        std::memcpy(out.text + i, p + i, 16);
    out.text[n] = '\0';
    out.size = n;
    return p + n;
}

// How many of the 8 bytes at `p` are decimal digits before the first that
// is not, 8 when all are: in one 64-bit word, each byte's low seven bits
// compared with the range apart from its top bit, so that nothing carries.
std::size_t leading_digits(const char* p)
{
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t top = 0x8080808080808080;
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    std::uint64_t low = word & ~top;
    std::uint64_t from_zero = low + ones * (0x80 - '0');
    std::uint64_t past_nine = low + ones * (0x80 - '9' - 1);
    std::uint64_t digits = from_zero & ~past_nine & ~word & top;
    return static_cast<std::size_t>(std::countr_zero(~digits & top)) / 8;
}

bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
}

const char* scan_u64(const simd::Kernel& kernel, const char* p, const char* end, std::uint64_t& out)
{
    p = skip_space(kernel, p, end);
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || !is_digit(*p))
        return nullptr;
    auto digits = leading_digits(p);
    if (digits == 8)
        digits += leading_digits(p + 8);
    if (digits < 16 && digits <= static_cast<std::size_t>(end - p)) {
        // Fifteen digits always fit: no overflow to look for.
        std::uint64_t value = digits <= 8 ? parse_up_to_8(p, digits)
                                          : parse_up_to_8(p, digits - 8) * 100000000 +
                                                parse_up_to_8(p + digits - 8, 8);
        out = negative ? 0 - value : value;
        return p + digits;
    }
    // Leading zeros never count towards overflow; up to 19 significant
    // digits always fit, and a 20th needs one compare.
    while (*p == '0' && p + 1 != end && is_digit(p[1]))
        ++p;
    std::uint64_t value = 0;
    const char* fits = static_cast<std::size_t>(end - p) > 19 ? p + 19 : end;
    while (p != fits && is_digit(*p))
        value = value * 10 + static_cast<unsigned>(*p++ - '0');
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    if (p != end && is_digit(*p)) {
        auto last = static_cast<unsigned>(*p++ - '0');
        bool more = p != end && is_digit(*p);
        while (p != end && is_digit(*p))
            ++p;
        if (more || value > (max - last) / 10) {
            out = max;
            return p;
        }
        value = value * 10 + last;
    }
    out = negative ? 0 - value : value;
    return p;
}

// The common line of a listing is short and made of plain words: all its
// fields are found at once from one white-space mask of the line, without
// the chain of dependent loads of a field-by-field scan; any other line
// goes to the general scanner. Numbers are only taken here when they are
// digits alone, and words only when they fit their field whole, so both
// ways give the same fields.
class Words {
  public:
    // Only for lines shorter than `max_size`, which `fits` tells; `spaces`
    // marks the line's white space, and its bits past the line are ignored.
    Words(std::string_view line, simd::Mask128 spaces) : line_data(line.data())
    {
        // Past the end the line reads as white space, so every word ends.
        std::size_t size = line.size();
        std::uint64_t space_low = spaces.low | (size >= 64 ? 0 : ~std::uint64_t{0} << size);
        std::uint64_t space_high =
            spaces.high | (size <= 64 ? ~std::uint64_t{0} : ~std::uint64_t{0} << (size - 64));
        // A word starts at a byte that is not white space after one that
        // is, or at the line's start, and ends at white space after a byte
        // that is not.
        std::uint64_t text_low = ~space_low;
        std::uint64_t text_high = ~space_high;
        std::uint64_t before_low = text_low << 1;
        std::uint64_t before_high = (text_high << 1) | (text_low >> 63);
        starts[0] = text_low & ~before_low;
        starts[1] = text_high & ~before_high;
        ends[0] = space_low & before_low;
        ends[1] = space_high & before_high;
    }

    // The white space of a line that fits, from the kernel.
    static simd::Mask128 classify(const simd::Kernel& kernel, std::string_view line)
    {
        simd::WordMasks masks[2] = {};
        kernel.classify_words(line.data(), line.size() > 64 ? 2 : 1, masks);
        return {masks[0].spaces, masks[1].spaces};
    }

    static constexpr std::size_t max_size = 127;
    static bool fits(std::string_view line) { return line.size() <= max_size; }

    // Takes the next word; false when only white space is left.
    bool next(std::size_t& start, std::size_t& length)
    {
        std::size_t end = 0;
        if (!take_lowest(starts, start))
            return false;
        take_lowest(ends, end); // a word that starts also ends
        length = end - start;
        return true;
    }

    // Whether the word, at most 15 bytes long, is decimal digits alone:
    // checked on the bytes, eight at a time, so that the line needs no
    // digit mask.
    bool all_digits(std::size_t start, std::size_t length) const
    {
        const char* first = line_data + start;
        if (length <= 8)
            return leading_digits(first) >= length;
        return leading_digits(first) == 8 && leading_digits(first + 8) >= length - 8;
    }

    // Copies a word of at most N bytes into `out`; false when it is longer.
    template <std::size_t N>
    bool take(std::size_t start, std::size_t length, Word<N>& out) const
    {
        if (length > N)
            return false;
        for (std::size_t i = 0; i < length; i += 16)
            std::memcpy(out.text + i, line_data + start + i, 16);
        out.text[length] = '\0';
        out.size = length;
        return true;
    }

    // Converts a word of digits alone, at most fifteen of them.
    bool number(std::size_t start, std::size_t length, std::uint64_t& out) const
    {
        if (length > 15 || !all_digits(start, length))
            return false;
        const char* first = line_data + start;
        out = length <= 8 ? parse_up_to_8(first, length)
                          : parse_up_to_8(first, length - 8) * 100000000 +
                                parse_up_to_8(first + length - 8, 8);
        return true;
    }

  private:
    // Clears the lowest bit of the 128-bit mask and says where it was.
    static bool take_lowest(std::uint64_t (&bits)[2], std::size_t& at)
    {
        if (bits[0] != 0) {
            at = static_cast<std::size_t>(std::countr_zero(bits[0]));
            bits[0] &= bits[0] - 1;
            return true;
        }
        if (bits[1] != 0) {
            at = 64 + static_cast<std::size_t>(std::countr_zero(bits[1]));
            bits[1] &= bits[1] - 1;
            return true;
        }
        return false;
    }

    const char* line_data;
    std::uint64_t starts[2];
    std::uint64_t ends[2];
};

// Scans a plain header: six words, the fifth of them K. False sends the
// line to the general scanner, which then overwrites what was taken here.
bool scan_plain_header(std::string_view line, simd::Mask128 spaces, VolumeRecord& record)
{
    Words words(line, spaces);
    std::size_t at[6];
    std::size_t length[6];
    for (int i = 0; i < 6; ++i) {
        if (!words.next(at[i], length[i]))
            return false;
    }
    return words.take(at[0], length[0], record.name) &&
           words.number(at[1], length[1], record.volume_number) &&
           words.take(at[2], length[2], record.type) &&
           words.number(at[3], length[3], record.size_k) && length[4] == 1 && line[at[4]] == 'K' &&
           words.take(at[5], length[5], record.status);
}

// Scans a plain first detail line: two words that fit their fields.
bool scan_plain_detail(std::string_view line, simd::Mask128 spaces, VolumeRecord& record)
{
    Words words(line, spaces);
    std::size_t at[2];
    std::size_t length[2];
    return words.next(at[0], length[0]) && words.next(at[1], length[1]) &&
           words.take(at[0], length[0], record.detail_word_1) &&
           words.take(at[1], length[1], record.detail_word_2);
}

// The field-by-field scanners, for any line.
int scan_general_header(const simd::Kernel& kernel, std::string_view line, VolumeRecord& record)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (!(p = scan_text(kernel, p, end, record.name)))
        return 0;
    if (!(p = scan_u64(kernel, p, end, record.volume_number)))
        return 1;
    if (!(p = scan_text(kernel, p, end, record.type)))
        return 2;
    if (!(p = scan_u64(kernel, p, end, record.size_k)))
        return 3;
    p = skip_space(kernel, p, end);
    if (p == end || *p != 'K')
        return 4;
    if (!scan_text(kernel, p + 1, end, record.status))
        return 4;
    return 5;
}

int scan_general_detail(const simd::Kernel& kernel, std::string_view line, VolumeRecord& record)
{
    const char* p = line.data();
    const char* end = p + line.size();
    if (!(p = scan_text(kernel, p, end, record.detail_word_1)))
        return 0;
    if (!scan_text(kernel, p, end, record.detail_word_2))
        return 1;
    return 2;
}

} // namespace

template <std::size_t N>
bool scan_word(std::string_view& text, Word<N>& out)
{
    const char* end = text.data() + text.size();
    const char* p = scan_text(simd::best_kernel(), text.data(), end, out);
    if (p == nullptr)
        return false;
    text = {p, static_cast<std::size_t>(end - p)};
    return true;
}

template bool scan_word(std::string_view&, Word<62>&);
template bool scan_word(std::string_view&, Word<8>&);
template bool scan_word(std::string_view&, Word<18>&);
template bool scan_word(std::string_view&, Word<126>&);
template bool scan_word(std::string_view&, Word<14>&);

bool scan_number(std::string_view& text, std::uint64_t& out)
{
    const char* end = text.data() + text.size();
    const char* p = scan_u64(simd::best_kernel(), text.data(), end, out);
    if (p == nullptr)
        return false;
    text = {p, static_cast<std::size_t>(end - p)};
    return true;
}

int scan_header(std::string_view line, VolumeRecord& record)
{
    const simd::Kernel& kernel = simd::best_kernel();
    if (Words::fits(line) && scan_plain_header(line, Words::classify(kernel, line), record))
        return 5;
    return scan_general_header(kernel, line, record);
}

int scan_header_masked(std::string_view line, simd::Mask128 spaces, VolumeRecord& record)
{
    if (scan_plain_header(line, spaces, record))
        return 5;
    return scan_general_header(simd::best_kernel(), line, record);
}

int scan_first_detail(std::string_view line, VolumeRecord& record)
{
    const simd::Kernel& kernel = simd::best_kernel();
    if (Words::fits(line) && scan_plain_detail(line, Words::classify(kernel, line), record))
        return 2;
    return scan_general_detail(kernel, line, record);
}

int scan_first_detail_masked(std::string_view line, simd::Mask128 spaces, VolumeRecord& record)
{
    if (scan_plain_detail(line, spaces, record))
        return 2;
    return scan_general_detail(simd::best_kernel(), line, record);
}

int scan_quota(std::string_view text, VolumeRecord& record)
{
    const char* begin = text.data();
    return scan_u64(simd::best_kernel(), begin, begin + text.size(), record.max_quota_k) ? 1 : 0;
}

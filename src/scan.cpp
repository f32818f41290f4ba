#include "scan.h"

#include <cstring>
#include <limits>

namespace {

std::string_view skip_space(std::string_view text)
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    return text;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

template <std::size_t N>
bool scan_word(std::string_view& text, Word<N>& out)
{
    text = skip_space(text);
    if (text.empty())
        return false;
    std::size_t n = 0;
    while (n < N && n < text.size() && !is_space(text[n]))
        ++n;
    std::memcpy(out.text, text.data(), n);
    out.text[n] = '\0';
    out.size = n;
    text.remove_prefix(n);
    return true;
}

template bool scan_word(std::string_view&, Word<62>&);
template bool scan_word(std::string_view&, Word<8>&);
template bool scan_word(std::string_view&, Word<18>&);
template bool scan_word(std::string_view&, Word<126>&);
template bool scan_word(std::string_view&, Word<14>&);

bool scan_number(std::string_view& text, std::uint64_t& out)
{
    text = skip_space(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::size_t end = 0;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    if (end == 0)
        return false;
    std::string_view digits(text.data(), end);
    text.remove_prefix(end);

    // Leading zeros never count towards overflow; up to 19 significant
    // digits always fit, 20 may, more never do.
    while (digits.size() > 1 && digits[0] == '0')
        digits.remove_prefix(1);
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    if (digits.size() > 20) {
        out = max;
        return true;
    }
    std::uint64_t value = 0;
    std::size_t fit = digits.size() < 19 ? digits.size() : 19;
    for (std::size_t i = 0; i < fit; ++i)
        value = value * 10 + static_cast<unsigned>(digits[i] - '0');
    if (digits.size() == 20) {
        unsigned last = static_cast<unsigned>(digits[19] - '0');
        if (value > (max - last) / 10) {
            out = max;
            return true;
        }
        value = value * 10 + last;
    }
    out = negative ? 0 - value : value;
    return true;
}

int scan_header(std::string_view line, VolumeRecord& record)
{
    if (!scan_word(line, record.name))
        return 0;
    if (!scan_number(line, record.volume_number))
        return 1;
    if (!scan_word(line, record.type))
        return 2;
    if (!scan_number(line, record.size_k))
        return 3;
    line = skip_space(line);
    if (line.empty() || line[0] != 'K')
        return 4;
    line.remove_prefix(1);
    if (!scan_word(line, record.status))
        return 4;
    return 5;
}

int scan_first_detail(std::string_view line, VolumeRecord& record)
{
    if (!scan_word(line, record.detail_word_1))
        return 0;
    if (!scan_word(line, record.detail_word_2))
        return 1;
    return 2;
}

int scan_quota(std::string_view text, VolumeRecord& record)
{
    return scan_number(text, record.max_quota_k) ? 1 : 0;
}

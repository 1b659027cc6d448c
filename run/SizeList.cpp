#include "run/SizeList.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace qf {

bool scanDecimal(const char* text, int32_t& value)
{
    const char* p = text;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    int64_t v = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        v = std::min<int64_t>(v * 10 + (*p - '0'), int64_t{INT32_MAX} + 1);
    v = negative ? -v : v;
    value = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    return true;
}

std::vector<int32_t> parseSizeList(const std::string& text)
{
    const std::string buffer = text.substr(0, 1023);
    std::vector<int32_t> sizes;
    size_t at = 0;
    while (at < buffer.size()) {
        const size_t start = buffer.find_first_not_of(" ,;", at);
        if (start == std::string::npos)
            break;
        size_t end = buffer.find_first_of(" ,;", start);
        if (end == std::string::npos)
            end = buffer.size();
        const std::string token = buffer.substr(start, end - start);
        at = end;
        int32_t value = 0;
        if (!scanDecimal(token.c_str(), value) || value <= 2)
            continue;
        const auto pos = std::lower_bound(sizes.begin(), sizes.end(), value);
        if (pos == sizes.end() || *pos != value)
            sizes.insert(pos, value);
    }
    return sizes;
}

bool readSizeList(const std::string& text, int32_t maxSize, std::vector<int32_t>& sizes,
                  std::string& error)
{
    // A token is quoted as typed, but a very long one only in part.
    auto quoted = [](const std::string& token) {
        constexpr size_t kShown = 40;
        return "\"" + (token.size() <= kShown ? token : token.substr(0, kShown) + "...") + "\"";
    };
    auto separator = [](char c) { return c == ',' || std::isspace(static_cast<unsigned char>(c)); };

    sizes.clear();
    size_t at = 0;
    while (true) {
        while (at < text.size() && separator(text[at]))
            ++at;
        if (at == text.size())
            break;
        size_t end = at;
        while (end < text.size() && !separator(text[end]))
            ++end;
        const std::string token = text.substr(at, end - at);
        at = end;
        if (token.find_first_not_of("0123456789") != std::string::npos) {
            error = "cannot read " + quoted(token) + " as a size (whole points, separated by commas or spaces)";
            return false;
        }
        const size_t first = token.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : token.substr(first);
        if (digits.size() > 9 || std::stol(digits) > maxSize) {
            error = "size " + quoted(digits) + " is above " + std::to_string(maxSize) +
                    " points, the largest that can be rendered";
            return false;
        }
        const auto value = static_cast<int32_t>(std::stol(digits));
        if (value < 3) {
            error = "size " + digits + " is below 3 points, the smallest that can be made";
            return false;
        }
        const auto pos = std::lower_bound(sizes.begin(), sizes.end(), value);
        if (pos == sizes.end() || *pos != value)
            sizes.insert(pos, value);
    }
    if (sizes.empty()) {
        error = "no size given";
        return false;
    }
    return true;
}

}  // namespace qf

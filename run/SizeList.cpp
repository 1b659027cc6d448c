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

}  // namespace qf

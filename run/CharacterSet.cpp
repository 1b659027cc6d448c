#include "run/CharacterSet.h"

#include "platform/CodePages.h"
#include "run/CodePageTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qf {

namespace {

constexpr char32_t kLastCharacter = 0x10FFFF;

std::string trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "U+XXXX" (also "u+"), one to six hexadecimal digits, at most U+10FFFF.
bool codePoint(std::string_view text, char32_t& c)
{
    if (text.size() < 3 || (text[0] != 'U' && text[0] != 'u') || text[1] != '+' || text.size() > 8)
        return false;
    unsigned value = 0;
    const auto digits = text.substr(2);
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || value > kLastCharacter)
        return false;
    c = value;
    return true;
}

// A code page row's characters: every byte that maps to a printable character.
bool codePageRanges(const std::string& name, std::vector<std::pair<char32_t, char32_t>>& ranges)
{
    if (name.size() < 3 || name.compare(0, 2, "cp") != 0 ||
        name.find_first_not_of("0123456789", 2) != std::string::npos || name.size() > 7)
        return false;
    const int number = std::stoi(name.substr(2));
    if (CodePageTable::rowOfCodePage(number) < 0)
        return false;
    const gdi::ByteMap* map = gdi::codePageMap(static_cast<unsigned>(number));
    if (!map)
        return false;
    for (const char32_t c : *map)
        if (c != gdi::kUnmapped && c >= 0x20 && !(c >= 0x7F && c < 0xA0))
            ranges.emplace_back(c, c);
    return true;
}

}  // namespace

bool parseCharacterSelection(std::string_view text, CharacterSelection& selection, std::string& error)
{
    selection = {};
    size_t start = 0;
    bool any = false;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = trimmed(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
        start = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
        if (item.empty())
            continue;
        any = true;
        const std::string name = lower(item);
        char32_t first = 0, last = 0;
        const size_t dash = item.find('-');
        if (name == "all") {
            selection.all = true;
        } else if (name == "ascii") {
            selection.ranges.emplace_back(0x20, 0x7E);
        } else if (name == "latin1") {
            selection.ranges.emplace_back(0x20, 0x7E);
            selection.ranges.emplace_back(0xA0, 0xFF);
        } else if (codePageRanges(name, selection.ranges)) {
        } else if (dash == std::string::npos ? codePoint(item, first)
                                             : codePoint(trimmed(item.substr(0, dash)), first) &&
                                                   codePoint(trimmed(item.substr(dash + 1)), last) && first <= last) {
            selection.ranges.emplace_back(first, dash == std::string::npos ? first : last);
        } else {
            error = "cannot read \"" + item + "\" (U+XXXX, U+XXXX-U+YYYY, a code page such as cp1252, ascii, "
                    "latin1 or all)";
            return false;
        }
    }
    if (!any) {
        error = "no characters given";
        return false;
    }
    return true;
}

Repertoire unicodeRepertoire(const CharacterSelection& selection, const std::vector<char32_t>& mapped)
{
    Repertoire repertoire;
    repertoire.space = CodeSpace::Unicode;
    if (selection.all) {
        repertoire.entries.reserve(mapped.size());
        for (const char32_t c : mapped)
            repertoire.entries.push_back({c, c});
    } else {
        // The ranges merged, so overlapping items count each character once.
        auto ranges = selection.ranges;
        std::sort(ranges.begin(), ranges.end());
        std::vector<std::pair<char32_t, char32_t>> merged;
        for (const auto& r : ranges) {
            if (!merged.empty() && r.first <= merged.back().second + 1)
                merged.back().second = std::max(merged.back().second, r.second);
            else
                merged.push_back(r);
        }
        for (const auto& [first, last] : merged) {
            const auto from = std::lower_bound(mapped.begin(), mapped.end(), first);
            const auto to = std::upper_bound(from, mapped.end(), last);
            for (auto it = from; it != to; ++it)
                repertoire.entries.push_back({*it, *it});
            repertoire.leftOut += (last - first + 1) - static_cast<size_t>(to - from);
        }
    }
    auto has = [&](char32_t c) {
        const auto at = std::lower_bound(repertoire.entries.begin(), repertoire.entries.end(), c,
                                         [](const Repertoire::Slot& slot, char32_t k) { return slot.character < k; });
        return at != repertoire.entries.end() && at->character == c;
    };
    // What a reader draws for a character the file lacks: the replacement character, else a
    // question mark, else a space, else the first character there is.
    repertoire.defaultCharacter = 0;
    for (const char32_t c : {char32_t{0xFFFD}, char32_t{'?'}, char32_t{' '}})
        if (!repertoire.defaultCharacter && has(c))
            repertoire.defaultCharacter = c;
    if (!repertoire.defaultCharacter && !repertoire.entries.empty())
        repertoire.defaultCharacter = repertoire.entries.front().character;
    repertoire.breakCharacter = has(' ') || repertoire.entries.empty() ? ' ' : repertoire.entries.front().character;
    return repertoire;
}

}  // namespace qf

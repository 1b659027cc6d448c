#include "platform/Fontconfig.h"

#include "platform/CodePages.h"
#include "platform/FaceNames.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace gdi::ft {

namespace {

std::vector<std::string> substitutedFamilies(const std::string& utf8Family, bool withFamily)
{
    std::vector<std::string> families;
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return families;
    if (withFamily)
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8Family.c_str()));
    if (!FcConfigSubstitute(fontconfig(), pattern.get(), FcMatchPattern))
        return families;
    FcChar8* value = nullptr;
    for (int i = 0; FcPatternGetString(pattern.get(), FC_FAMILY, i, &value) == FcResultMatch; ++i)
        families.emplace_back(reinterpret_cast<const char*>(value));
    return families;
}

// Every family fontconfig appends as a generic fallback, whatever the name asked for.
const std::set<std::string>& genericFamilies()
{
    static const std::set<std::string> generic = [] {
        std::set<std::string> all;
        for (const char* g : {"sans-serif", "serif", "monospace"})
            for (auto& f : substitutedFamilies(g, true))
                all.insert(f);
        for (auto& f : substitutedFamilies("", false))
            all.insert(f);
        return all;
    }();
    return generic;
}

}  // namespace

namespace {

bool listsCacheFolder(FcConfig* config)
{
    FcStrList* folders = FcConfigGetCacheDirs(config);
    if (!folders)
        return false;
    const bool any = FcStrListNext(folders) != nullptr;
    FcStrListDone(folders);
    return any;
}

// FcInit would also parse every file of fontconfig's template folder (conf.avail), only to
// describe them to fc-conflist: most of its start-up on a small configuration. The files in force
// are parsed and the fonts built as FcInit does.
FcConfigPtr parseConfiguration(const FcChar8* file)
{
    FcConfigPtr config(FcConfigCreate());
    if (!config || !FcConfigParseAndLoad(config.get(), file, FcTrue) || !listsCacheFolder(config.get()) ||
        !FcConfigBuildFonts(config.get()))
        return nullptr;
    return config;
}

FcConfig* loadConfiguration()
{
    if (FcConfigPtr config = parseConfiguration(nullptr))
        return config.release();
    // Anything unusual (no configuration file, no cache folder) is left to FcInit and its fallbacks.
    if (!FcInit())
        return nullptr;
    return FcConfigReference(nullptr);
}

}  // namespace

FcConfigPtr loadFontconfig(const std::string& file)
{
    return parseConfiguration(reinterpret_cast<const FcChar8*>(file.c_str()));
}

FcConfig* fontconfig()
{
    static FcConfig* const config = loadConfiguration();  // lives until the process ends
    return config;
}

bool fontconfigReady() { return fontconfig() != nullptr; }

std::vector<std::string> fontconfigAliases(const std::string& family)
{
    if (!fontconfigReady())
        return {};
    // Realising a font asks for the same few names again and again (the default faces above all);
    // fontconfig's configuration does not change while we run, so its answers are kept.
    static std::mutex mutex;
    static std::map<std::string, std::vector<std::string>> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(family); it != known.end())
        return it->second;
    std::vector<std::string> aliases;
    const std::string utf8 = ansiToUtf8(family);
    const auto& generic = genericFamilies();
    for (const std::string& f : substitutedFamilies(utf8, true)) {
        std::string bytes;
        if (generic.count(f) || !utf8ToCp1252(f, &bytes) || sameName(bytes, family))
            continue;
        if (std::find(aliases.begin(), aliases.end(), bytes) == aliases.end())
            aliases.push_back(bytes);
    }
    if (known.size() < 1024)
        known.emplace(family, aliases);
    return aliases;
}

std::string fontconfigMatch(const std::string& family)
{
    if (!fontconfigReady())
        return {};
    static std::mutex mutex;
    static std::map<std::string, std::string> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(family); it != known.end())
        return it->second;
    std::string bytes;
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern)
        return {};
    const std::string utf8 = ansiToUtf8(family);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
    FcConfigSubstitute(fontconfig(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FcPatternPtr match(FcFontMatch(fontconfig(), pattern.get(), &result));
    FcChar8* value = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FAMILY, 0, &value) != FcResultMatch ||
        !utf8ToCp1252(reinterpret_cast<const char*>(value), &bytes))
        bytes.clear();
    if (known.size() < 1024)
        known.emplace(family, bytes);
    return bytes;
}

}  // namespace gdi::ft

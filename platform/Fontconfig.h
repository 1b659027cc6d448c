// The fontconfig side of the catalogue: the process-wide configuration, one of a file's own, the
// families it puts in place of a name, and RAII owners for its handles. Only platform/*.cpp include
// this header.
//
// Threads: the configuration is loaded once and only read afterwards, which fontconfig allows from
// any thread; the answers kept for names asked again are kept under a lock.
#pragma once

#include <fontconfig/fontconfig.h>

#include <memory>
#include <string>
#include <vector>

namespace gdi::ft {

// Fontconfig's objects, each owned with the call that destroys it.
template <auto Destroy>
struct FcReleaser {
    template <class T>
    void operator()(T* object) const { Destroy(object); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcReleaser<FcPatternDestroy>>;
using FcObjectSetPtr = std::unique_ptr<FcObjectSet, FcReleaser<FcObjectSetDestroy>>;
using FcConfigPtr = std::unique_ptr<FcConfig, FcReleaser<FcConfigDestroy>>;
using FcFontSetPtr = std::unique_ptr<FcFontSet, FcReleaser<FcFontSetDestroy>>;

// The process-wide fontconfig configuration, loaded once (FONTCONFIG_FILE chooses it) and only
// read afterwards, which fontconfig allows from any thread; null if it cannot be loaded. Every
// query passes it explicitly, so a configuration that the rest of the process (Qt) made current
// is neither needed nor replaced.
FcConfig* fontconfig();
bool fontconfigReady();
// A configuration of its own from one file, its fonts built; null when it cannot be loaded.
FcConfigPtr loadFontconfig(const std::string& file);
// The families fontconfig's configuration puts in place of `family` (its aliases, e.g. Arial ->
// Liberation Sans), without the generic fallbacks it appends for every name.
std::vector<std::string> fontconfigAliases(const std::string& family);
// The family of fontconfig's best match for `family` (what FcFontMatch picks), or "".
std::string fontconfigMatch(const std::string& family);

}  // namespace gdi::ft

// Internals of the platform layer: the process-wide FreeType library, faces shared by every font
// realised from them, RAII owners for FreeType and fontconfig handles, and the facts about a face
// that both the catalogue and font realisation need. Only platform/*.cpp (and tests) include this
// header.
//
// Threads: the FreeType library is shared, with opening and closing faces under libraryMutex(), as
// FreeType allows (a face's sizes are made and dropped under its own lock); every FT_Face belongs to the thread that opened it
// (SharedFace::get keeps one set of open faces per thread), and a font file's bytes in memory are
// shared read-only between the faces of all threads. The fontconfig configuration is loaded once
// and only read afterwards.
#pragma once

#include "platform/FaceInfo.h"
#include "platform/FreeTypeLibrary.h"
#include "platform/gdi.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_SIZES_H

#include <fontconfig/fontconfig.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace gdi::ft {

// ---- RAII owners ---------------------------------------------------------------------------

// What a face reads its file through (the file's bytes, or an open descriptor); it outlives the
// face, so the deleter that closes the face holds it.
struct FaceSource;
struct FaceDeleter {
    std::shared_ptr<FaceSource> source;
    void operator()(FT_Face face);
};
using FacePtr = std::unique_ptr<FT_FaceRec_, FaceDeleter>;

struct SizeDeleter {
    void operator()(FT_Size size) const;
};
using SizePtr = std::unique_ptr<FT_SizeRec_, SizeDeleter>;

struct FcPatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

struct FcObjectSetDeleter {
    void operator()(FcObjectSet* set) const { FcObjectSetDestroy(set); }
};
using FcObjectSetPtr = std::unique_ptr<FcObjectSet, FcObjectSetDeleter>;

struct FcConfigDeleter {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
using FcConfigPtr = std::unique_ptr<FcConfig, FcConfigDeleter>;

struct FcFontSetDeleter {
    void operator()(FcFontSet* set) const { FcFontSetDestroy(set); }
};
using FcFontSetPtr = std::unique_ptr<FcFontSet, FcFontSetDeleter>;

// ---- library and faces -----------------------------------------------------------------------

// Opens one face of a file for a quick look (the catalogue's names, metrics and character sets):
// FreeType reads only what it asks for, through pread, so a file that shrinks under it gives read
// errors rather than a fault. Null when FreeType cannot read it.
FacePtr openFace(const std::string& file, int faceIndex);

// Faces for drawing are opened from the whole file in memory (SharedFace::get): the file mapped
// (or, failing that, a copy of it). A file truncated under a mapped face never faults the program;
// its reads find zeros, and sourceChanged() tells. With `listed`, the face the font list read from
// the file: a file that changed since is read again and must still hold that face (family and
// style), else the face is refused with the reason.

// Keeps a listed face's file as it is now while the hold lives: faces opened from it meanwhile, on
// any thread, read these bytes, even once the file has been replaced (if they were written over in
// place, sourceChanged() tells). So every size of a font in a run comes from one version of its
// file. Null, with the reason, when the file cannot be read or no longer holds the face.
class FaceFileHold;
std::shared_ptr<const FaceFileHold> holdFaceFile(const FaceInfo& face, std::string* why = nullptr);

// True once a face's file is no longer what the face was opened from (truncated or written over
// since): whatever was drawn from it since cannot be trusted.
bool sourceChanged(const FacePtr& face);

// A face opened once and shared by every font realised from it on one thread. Whoever changes the
// face's state (active size, charmap) and reads what depends on it holds lock() for the whole of
// it, so a font handed to another thread stays safe to use; uncontended, the lock costs little.
class SharedFace {
public:
    // The calling thread's face of (file, index), loaded on first use and kept while fonts use it;
    // the few most recently used stay open even when no font holds them, so fonts created one after
    // another (point font, rendering font, the next size) do not reopen the file. Each thread gets
    // a face of its own: faces are never shared between threads that each realise fonts.
    // A face is opened again when the bytes fonts draw from are no longer those it read (the file
    // changed, or a hold keeps another version); `listed` and `why` as said above.
    static std::shared_ptr<SharedFace> get(const std::string& file, int faceIndex, const FaceInfo* listed = nullptr,
                                           std::string* why = nullptr);

    explicit SharedFace(FacePtr face) : face_(std::move(face)) {}
    FT_Face face() const { return face_.get(); }
    bool sourceChanged() const { return ft::sourceChanged(face_); }
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }

private:
    FacePtr face_;
    std::mutex mutex_;
};

// ---- facts about a face ----------------------------------------------------------------------

// The table values GDI's metrics come from, in font units.
struct DesignMetrics {
    int unitsPerEm = 2048;
    int ascent = 0;    // usWinAscent, or hhea ascender when the Windows values are both 0
    int descent = 0;   // usWinDescent (as a signed value made positive), or -hhea descender
    int lineGap = 0;   // hhea lineGap
    int hheaAscender = 0;
    int hheaDescender = 0;
    int xAvgCharWidth = 0;
    int bboxWidth = 0;  // head xMax - xMin
    int weightClass = 400;
    bool boldStyle = false;  // the face calls itself bold (fsSelection / macStyle)
    bool italic = false;
    BYTE pitchAndFamily = 0;  // tmPitchAndFamily: pitch bit, family, TMPF_VECTOR and TMPF_TRUETYPE/DEVICE
    bool symbol = false;      // symbol face: byte codes go through its (3,0) cmap
    int symbolFirst = 0x20;   // lowest and highest byte code of a symbol face's cmap
    int symbolLast = 0xFF;
    // Where TextOut draws the lines of an underlined or struck-out font (post and OS/2 tables).
    int underlinePosition = 0;   // top of the line relative to the baseline, negative below it
    int underlineThickness = 0;
    int strikeoutPosition = 0;   // top of the line above the baseline
    int strikeoutThickness = 0;
};

DesignMetrics readDesignMetrics(FT_Face face);

// The weight GDI reports for a face (tmWeight, lfWeight of enumeration).
int reportedWeight(const DesignMetrics& m);

// GDI's scaling of a font-unit value to a whole number of pixels at ppem: the em scale is rounded
// to 16.16 first and the product rounded again, so the numbers agree with GDI's to the pixel.
int64_t emScale(int64_t ppem, int unitsPerEm);
int64_t scaleRound(int64_t value, int64_t emScale16);

// The face's VDMX table entry for a requested height, as GDI consults it before scaling: for a
// negative height (an em) the entry of that em, for a positive one (a cell) the largest em whose
// yMax - yMin fits it. Only the 1:1 aspect-ratio group is used. False when the table has no
// entry, and the metrics come from scaling as usual.
struct VdmxEntry {
    int ppem = 0;
    int yMax = 0;
    int yMin = 0;
};
bool vdmxLookup(const uint8_t* table, size_t size, int64_t height, VdmxEntry* entry);
bool vdmxLookup(FT_Face face, int64_t height, VdmxEntry* entry);

// ---- names -------------------------------------------------------------------------------

struct FaceNames {
    std::string family;  // cp1252 bytes, not yet cut
    std::string style;
    std::string fullName;
    std::string postscriptName;
};
// The names GDI reports: the face's Microsoft-platform English name records (IDs 1, 2, 4), each
// falling back to the PostScript name when cp1252 cannot hold it.
FaceNames readNames(FT_Face face);

// ---- character sets ------------------------------------------------------------------------

// The character sets a face supports, ascending: from its OS/2 code page ranges as the platform
// derives them, or from its character coverage when it has none.
std::vector<int> faceCharsets(FT_Face face, bool symbol);
// The OS/2 table's code page ranges (ulCodePageRange1, ulCodePageRange2); both 0 for a face
// that does not state them.
std::array<uint32_t, 2> codePageRanges(FT_Face face);

// Upper-casing of cp1252 bytes for case-insensitive name comparison.
bool sameName(std::string_view a, std::string_view b);
int compareNames(std::string_view a, std::string_view b);

// ---- fontconfig ----------------------------------------------------------------------------

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

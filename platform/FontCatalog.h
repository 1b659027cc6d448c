// The installed faces that fontconfig lists in TrueType and OpenType files, and the faces of files
// the program adds for itself, with the names and character sets GDI would report for them.
#pragma once

#include "platform/FaceInfo.h"
#include "platform/FaceListing.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gdi {

// Thread safety: a catalogue is never changed after construction, so any number of threads may
// read one at once; instance() is built once, by whichever thread asks first. The exceptions are
// addPrivateFile and removePrivateFile, which replace instance()'s faces: they belong where no
// other thread enumerates or realises fonts (the batch front end adds its files before it reads
// the font list; the window adds and removes them between runs, its preview thread stopped),
// because what faces(), family() and match() returned before a change is not valid after it.
// Changes are serialised among themselves, but readers take no lock: realising a font reads the
// catalogue, and a lock or a copy kept for every reader would cost every program for what only
// the start of a batch run or a click in the window does.
class FontCatalog {
public:
    // The process-wide catalogue, read from fontconfig on first use. FONTCONFIG_FILE chooses the
    // configuration, as for every fontconfig program; the faces' own files are opened only when
    // they are new or have changed since defaultCacheFile() recorded them.
    static const FontCatalog& instance();

    // AddFontResourceEx(file, FR_PRIVATE): the outline faces of a TrueType or OpenType file or
    // collection, installed or not (every face, or only faceIndex's), join instance() for this
    // process. Each takes the place of the face of the same family and style (names compared
    // without case) that was there, an installed one or one added before, so enumeration lists
    // the added face alone and fonts of its family and style are realised from this file. What
    // was added comes back; nothing, with the reason, when the file gives no face.
    static qf::Result<FontFileFaces> addPrivateFile(const std::string& file, int faceIndex = -1);
    // RemoveFontResourceEx(file, FR_PRIVATE): takes back what the last addition of `file` gave at
    // faceIndex (every face of that addition for -1). Each face it had taken the place of comes
    // back, unless a later addition took that place too: the process's fonts are then what they
    // would be had the face never been added. False when no addition of the file holds the face.
    static bool removePrivateFile(const std::string& file, int faceIndex = -1);

    // A catalogue of the installed faces, read anew.
    static FontCatalog load(const CatalogSource& source);
    // QUENFOLD_FACE_CACHE when set (empty: no cache), else quenfold/faces.cache in
    // XDG_CACHE_HOME or ~/.cache.
    static std::string defaultCacheFile();

    // Families sorted case-insensitively by family name; within a family by weight, then italic.
    const std::vector<FaceInfo>& faces() const { return faces_; }
    // The styles of one family (names compared without case), in catalogue order; found by
    // bisection, so enumerating every family's styles stays linear in the installed faces.
    std::span<const FaceInfo> family(std::string_view name) const;

    // The face for a family name and weight/italic: exact family first (a name cut to 31 bytes
    // matches the face it was cut from), then the nearest weight and italic; an unknown family
    // falls back to the default face, as GDI substitutes. Null only when no face is installed.
    const FaceInfo* match(const std::string& family, int weight, bool italic) const;
    // The same for realising a LOGFONT: a face that cannot draw the character set (a symbol face
    // for a text set, a text face for SYMBOL_CHARSET) gives way to the substitute a GDI would pick,
    // preferring one that lists the set; pitchAndFamily (lfPitchAndFamily) chooses between the
    // default sans serif, serif and fixed-pitch faces.
    const FaceInfo* match(const std::string& family, int weight, bool italic, int charset,
                          int pitchAndFamily) const;

    explicit FontCatalog(std::vector<FaceInfo> faces);

    // One face per family and style (names compared without case), as the installed catalogue
    // keeps fontconfig's list: a .ttf/.otf file before any other, then the first path.
    static std::vector<FaceInfo> oneFacePerStyle(std::vector<FaceInfo> faces);

private:
    std::vector<FaceInfo> faces_;
};

}  // namespace gdi

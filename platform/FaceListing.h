// Reading faces into the catalogue's records: a face of a font file as GDI would list it, the faces
// of a file the program adds for itself, and the installed faces fontconfig lists, read through the
// face cache. FontCatalog sorts and chooses among them; platform/*.cpp call these.
#pragma once

#include "platform/Failure.h"

#include "platform/FaceInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace gdi {

// Where a catalogue comes from.
struct CatalogSource {
    std::string fontconfigFile;  // a configuration file of its own; empty: the process-wide one
    std::string cacheFile;       // where faces read before are kept between runs; empty: nowhere
};

// The faces a font file gave the catalogue.
struct FontFileFaces {
    std::vector<FaceInfo> faces;  // by face index
    // Per face of `faces`, when the file joined the process's fonts: the face it took the place of.
    std::vector<std::optional<FaceInfo>> displaced;
};

// The face as the catalogue lists it, or why it cannot list it (what the face is instead).
qf::Result<FaceInfo> readFace(const std::string& file, int faceIndex);

// The faces of a font file the catalogue can list: every face, or only faceIndex's (-1). Of faces
// of one family and style within the file, the first is taken. When it gives none, the failure
// says what the file is instead ("a folder, not a font file").
qf::Result<FontFileFaces> readFontFile(const std::string& file, int faceIndex);

// The installed faces as fontconfig lists them (the source's configuration, or the process's),
// every face of every TrueType or OpenType file; faces the cache knows from an unchanged file are
// not read again.
std::vector<FaceInfo> loadInstalledFaces(const CatalogSource& source);

}  // namespace gdi

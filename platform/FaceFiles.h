// FreeType faces over font files: opened for a quick look through pread (the catalogue's names,
// metrics and character sets), or for drawing from the file's bytes in memory (FontFileBytes),
// shared by every font realised from them on a thread (SharedFace). Only platform/*.cpp (and
// tests) include this header.
//
// Threads: opening and closing faces goes through libraryMutex() (FreeTypeLibrary.h), a face's
// sizes are made and dropped under its own lock; every FT_Face belongs to the thread that opened it
// (SharedFace::get keeps one set of open faces per thread), and a font file's bytes in memory are
// shared read-only between the faces of all threads.
#pragma once

#include "platform/FaceInfo.h"
#include "platform/Failure.h"
#include "platform/FreeTypeLibrary.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H

#include <memory>
#include <mutex>
#include <string>

namespace gdi::ft {

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

// Opens one face of a file for a quick look (the catalogue's names, metrics and character sets):
// FreeType reads only what it asks for, through pread, so a file that shrinks under it gives read
// errors rather than a fault. Null when FreeType cannot read it.
FacePtr openFace(const std::string& file, int faceIndex);

// Keeps a listed face's file as it is now while the hold lives: faces opened from it meanwhile, on
// any thread, read these bytes, even once the file has been replaced (if they were written over in
// place, sourceChanged() tells). So every size of a font in a run comes from one version of its
// file. A failure when the file cannot be read or no longer holds the face.
class FaceFileHold;
qf::Result<std::shared_ptr<const FaceFileHold>> holdFaceFile(const FaceInfo& face);

// How a face's file is no longer what the face was opened from (cut short or written over since),
// empty while it is: whatever was drawn from it since cannot be trusted.
std::string sourceChange(const FacePtr& face);
inline bool sourceChanged(const FacePtr& face) { return !sourceChange(face).empty(); }

// A face opened once and shared by every font realised from it on one thread. Whoever changes the
// face's state (active size, charmap) and reads what depends on it holds lock() for the whole of
// it, so a font handed to another thread stays safe to use; uncontended, the lock costs little.
// Faces for drawing are opened from the whole file in memory: the file mapped (or, failing that, a
// copy of it). A file truncated under a mapped face never faults the program; its reads find
// zeros, and sourceChange() tells.
class SharedFace {
public:
    // The calling thread's face of (file, index), loaded on first use and kept while fonts use it;
    // the few most recently used stay open even when no font holds them, so fonts created one after
    // another (point font, rendering font, the next size) do not reopen the file. Each thread gets
    // a face of its own: faces are never shared between threads that each realise fonts.
    // A face is opened again when the bytes fonts draw from are no longer those it read (the file
    // changed, or a hold keeps another version). With `listed`, the face the font list read from
    // the file: a file that changed since is read again and must still hold that face (family and
    // style). A failure when the file cannot be read, no longer holds the listed face, or FreeType
    // cannot read the face.
    static qf::Result<std::shared_ptr<SharedFace>> get(const std::string& file, int faceIndex,
                                                       const FaceInfo* listed = nullptr);

    explicit SharedFace(FacePtr face) : face_(std::move(face)) {}
    FT_Face face() const { return face_.get(); }
    bool sourceChanged() const { return ft::sourceChanged(face_); }
    std::string sourceChange() const { return ft::sourceChange(face_); }
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }

private:
    FacePtr face_;
    std::mutex mutex_;
};

}  // namespace gdi::ft

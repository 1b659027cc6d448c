// The process-wide FreeType library. Only platform/*.cpp (and tests) include this header.
//
// Threads: the library is shared, with opening and closing faces under libraryMutex(), as FreeType
// allows; everything else about a face belongs to the thread that opened it (platform/FaceFiles.h).
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <mutex>

namespace gdi::ft {

// Null only if FreeType cannot start. Opening and closing faces goes through libraryMutex(), as
// FreeType asks of programs with several threads.
FT_Library library();
std::mutex& libraryMutex();

}  // namespace gdi::ft

#include "platform/FreeTypeLibrary.h"

namespace gdi::ft {

namespace {

struct LibraryHolder {
    FT_Library library = nullptr;
    LibraryHolder()
    {
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
    }
    // Never released: faces cached in other static objects are closed during exit and need it.
};

LibraryHolder& holder()
{
    static LibraryHolder* h = new LibraryHolder;  // intentionally lives until the process ends
    return *h;
}

}  // namespace

FT_Library library() { return holder().library; }

std::mutex& libraryMutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}

}  // namespace gdi::ft

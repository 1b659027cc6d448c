// A font file's bytes as the faces drawn from it read them. Only platform/*.cpp include this
// header.
//
// A face drawn from is read through memory. Mapping the file costs next to nothing, its pages being
// the page cache's, where reading a copy took a millisecond and more for a large face. A mapped file
// that shrinks under us would fault (SIGBUS) on a read past its new end: the guard (BusErrorGuard.h)
// maps a page of zeros there instead and marks the mapping damaged, and fonts realised from a file
// that is no longer as it was mapped refuse to go on (FileBytes::changed). When every slot the
// guard looks through is taken, the file is read into memory instead, as a copy nothing can change.
#pragma once

#include "platform/BusErrorGuard.h"
#include "platform/FileLayer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstddef>
#include <memory>
#include <string>

#include <sys/mman.h>

namespace gdi::ft {

// A font file's bytes: the file mapped, or a copy of it in pages of their own.
class FileBytes {
public:
    // The file as it is at this moment, or why not: it cannot be opened (the system's reason as
    // the cause), is not a regular file, is empty or too large, or cannot be read.
    static qf::Result<std::shared_ptr<const FileBytes>> read(const std::string& file);

    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();
    const FT_Byte* data() const { return static_cast<const FT_Byte*>(pages_); }
    size_t size() const { return size_; }

    // True once the file is no longer what it was when mapped: a read past its end was caught, or
    // it was written since (its size, modification or change time differ). A file renamed over or
    // removed keeps its bytes as they were while mapped, so the change time its removal moves does
    // not count then. A copy never changes.
    bool changed() const { return !change().empty(); }
    // How it changed, in the words of a report ("it was cut short from 757076 to 20000 bytes");
    // empty while it has not.
    std::string change() const;
    // The file as it was when read.
    const qf::FileStamp& stamp() const { return stamp_; }

private:
    bool map(int fd, const struct stat& info);
    bool copy(int fd, size_t sizeHint);
    bool reserve(size_t capacity);

    void* pages_ = MAP_FAILED;
    size_t capacity_ = 0;
    size_t size_ = 0;
    int fd_ = -1;                   // a mapped file's, for telling whether it changed
    qf::FileStamp stamp_;           // the file as it was when read
    MappedRange* range_ = nullptr;  // a mapped file's slot
};

}  // namespace gdi::ft

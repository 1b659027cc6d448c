// What reading the installed faces found, kept between runs: a face's file is opened again only
// when it is new or has changed since (its size, modification or change time or inode differ), or when
// another FreeType version made the records. Only platform/*.cpp include this header.
#pragma once

#include "platform/FaceInfo.h"
#include "platform/FileLayer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gdi {

class FaceCache {
public:
    // Reads the cache file; a missing, unreadable, damaged or older-format file gives an empty
    // cache. An empty path keeps nothing at all. Records are decoded only when asked for, so the
    // records of other font configurations cost little more than reading their bytes.
    explicit FaceCache(std::string path);

    // Whether this version of the file was read before; if so, `face` is what was found then: a
    // FaceInfo, or nullopt for a face found unusable. A record found is decoded straight into
    // `face` and kept as bytes, not as a copy: the installed faces of a large system are most of
    // what start-up allocates, and every fresh page of memory costs a fault.
    bool find(std::string_view file, int faceIndex, const qf::FileStamp& stamp, std::optional<FaceInfo>& face);
    void store(const std::string& file, int faceIndex, const qf::FileStamp& stamp, std::optional<FaceInfo> face);

    // Writes the cache file back when anything was stored, whole (a temporary file renamed over
    // it): what was used in this run, and the other records whose files are still as they were.
    // Failures leave the old file and are otherwise ignored: the cache only saves time.
    void save();

    // Raised whenever the file's layout or what the catalogue derives from a face changes, so older
    // files are read again from the faces.
    static constexpr uint32_t kFormat = 3;

private:
    struct Record {
        qf::FileStamp stamp;
        std::optional<FaceInfo> face;
    };
    // A record as the file holds it, not decoded yet: its key and where its bytes are.
    struct Stored {
        std::string_view file;
        int32_t faceIndex = 0;
        size_t begin = 0, end = 0;
        bool found = false;  // found in this run with its file unchanged: saved again as it is
    };
    Stored* stored(std::string_view file, int faceIndex);

    std::string path_;
    std::unique_ptr<uint8_t[]> bytes_;  // the file as read
    std::vector<Stored> stored_;        // its records, sorted by file and face index
    std::map<std::pair<std::string, int>, Record> decoded_;  // stored in this run
    bool changed_ = false;
};

}  // namespace gdi

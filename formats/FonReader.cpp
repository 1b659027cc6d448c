// Checks Windows font libraries (.fon): a 16-bit NE executable whose resources are a font
// directory and FNT fonts, as FreeType and Windows' bitmap font loader read it. 32-bit (PE)
// libraries are read as far as FreeType reads them: their RT_FONT resources. Each font inside is
// checked by the FNT reader at its place in the file.
#include "formats/FileCheck.h"
#include "formats/FntHeader.h"
#include "formats/FntReader.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace qf {

namespace {

constexpr uint32_t kNeMagic = 0x454E;        // "NE"
constexpr uint32_t kPeMagic = 0x00004550;    // "PE\0\0"
constexpr uint64_t kMzHeader = 64;
constexpr uint64_t kLfanewAt = 0x3C;
constexpr uint64_t kNeHeader = 64;
constexpr uint32_t kRtFontDir = 0x8007;
constexpr uint32_t kRtFont = 0x8008;
constexpr uint32_t kIntegerId = 0x8000;      // an NE resource or type id with this bit is a number
// FreeType refuses an alignment shift above 16: NE offsets are 16-bit units of 1 << shift bytes.
constexpr uint32_t kMaxAlignShift = 16;
constexpr uint64_t kNameEntry = 12;          // an NE resource entry
constexpr uint64_t kDirectoryFixed = 113;    // a font directory entry's copy of the FNT header
constexpr uint64_t kNameSearch = 1024;
constexpr uint64_t kFntHeader2 = fnt::kHeaderSize;

std::string hex(uint64_t value, int digits)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return buffer;
}

std::string num(uint64_t value) { return std::to_string(value); }

std::string fieldAt(const std::string& field, uint64_t offset) { return field + " (" + byteAt(offset) + ")"; }

// A field where a table points, read where it lies: 0 past the end.
uint32_t le16At(std::span<const uint8_t> bytes, uint64_t at)
{
    ByteReader field(bytes);
    return field.holds(at, 2) ? field.seek(static_cast<size_t>(at)).le16("field") : 0;
}

// The length of the zero-terminated string at offset, looking no further than end and
// kNameSearch bytes; false when there is no NUL there.
bool stringAt(std::span<const uint8_t> bytes, uint64_t offset, uint64_t end, uint64_t& length)
{
    end = std::min<uint64_t>(end, bytes.size());
    if (offset >= end)
        return false;
    const uint64_t span = std::min(end - offset, kNameSearch);
    const void* nul = std::memchr(bytes.data() + offset, 0, static_cast<size_t>(span));
    if (!nul)
        return false;
    length = static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - (bytes.data() + offset));
    return true;
}

// Where a font of the library lies, and whether an FNT that readers take is there.
struct FontPlace {
    uint64_t offset = 0;
    uint64_t length = 0;
    bool checked = false;  // an FNT of a version readers take is there
};

// Checks each font once, however many resources point at it: a hostile library can name one large
// font many thousand times. Past a great many findings the fonts left are only counted, so that a
// large hostile file costs no more than reading it.
class FontChecker {
public:
    FontChecker(std::span<const uint8_t> bytes, CheckReport& report) : bytes_(bytes), report_(report) {}

    // Checks the font of the next label ("font 3") at offset; where names the resource entry.
    FontPlace check(const std::string& where, uint64_t offset, uint64_t length)
    {
        const std::string label = "font " + num(++fonts_);
        FontPlace place{offset, length, false};
        const auto [seen, added] = seen_.emplace(offset, false);
        if (!added) {
            report_.warning(where, "points at " + byteAt(offset) +
                                       ", where an earlier font resource lies too; readers list that font twice");
            place.checked = seen->second;
            return place;
        }
        if (report_.errors() + report_.warnings() >= kEnough) {
            if (!stopped_)
                report_.error(where, "is not checked, nor any font after it: the library has " +
                                         num(report_.errors() + report_.warnings()) + " findings already");
            stopped_ = true;
            return place;
        }
        place.checked = checkFntResource(bytes_, static_cast<size_t>(offset), static_cast<size_t>(length), report_,
                                         label) != 0;
        seen->second = place.checked;
        return place;
    }
    uint64_t count() const { return fonts_; }

private:
    static constexpr size_t kEnough = 100 * CheckReport::kMaxFindings;

    std::span<const uint8_t> bytes_;
    CheckReport& report_;
    std::unordered_map<uint64_t, bool> seen_;  // font offsets checked, and whether an FNT is there
    uint64_t fonts_ = 0;
    bool stopped_ = false;
};

// ---- NE libraries -------------------------------------------------------------------------------

struct NeResource {
    uint64_t entryAt = 0;  // where its entry is in the resource table
    uint32_t offsetUnits = 0;
    uint32_t lengthUnits = 0;
    uint32_t id = 0;
};

class NeCheck {
public:
    NeCheck(std::span<const uint8_t> bytes, uint64_t ne, CheckReport& report)
        : bytes_(bytes), ne_(ne), report_(report), fonts_(bytes, report)
    {
    }

    void run();

private:
    bool readResourceTable();
    void checkResourceName(const NeResource& resource, uint64_t table, const std::string& what);
    void checkFonts();
    void checkFontDirectory();
    // Compares a font directory entry with the font it lists (places_[fontIndex]).
    void compareDirectoryEntry(const std::string& entryWhere, std::span<const uint8_t> fixed, uint64_t faceAt,
                               uint64_t faceLength, size_t fontIndex, uint32_t ordinal);
    void checkNames();

    std::span<const uint8_t> bytes_;
    uint64_t ne_;
    CheckReport& report_;
    FontChecker fonts_;

    uint32_t rsrctab_ = 0;
    uint32_t restab_ = 0;
    uint32_t cbnrestab_ = 0;
    uint32_t nrestab_ = 0;
    uint32_t shift_ = 0;
    std::vector<NeResource> fontResources_;
    std::vector<NeResource> directories_;
    std::vector<FontPlace> places_;
    size_t fontTypes_ = 0;
};

void NeCheck::run()
{
    if (!ByteReader(bytes_).holds(ne_, kNeHeader)) {
        report_.error(fieldAt("NE header", ne_), "is " + num(kNeHeader) + " bytes, but the file ends at " +
                                                     byteAt(bytes_.size()));
        return;
    }
    ByteReader r(bytes_, static_cast<size_t>(ne_));
    r.skip("ne_magic .. ne_cmod", 0x20);
    cbnrestab_ = r.le16("ne_cbnrestab");
    r.skip("ne_segtab", 2);
    rsrctab_ = r.le16("ne_rsrctab");
    restab_ = r.le16("ne_restab");
    r.skip("ne_modtab, ne_imptab", 4);
    nrestab_ = r.le32("ne_nrestab");

    if (readResourceTable()) {
        checkFonts();
        checkFontDirectory();
    }
    checkNames();
}

bool NeCheck::readResourceTable()
{
    const uint64_t table = ne_ + rsrctab_;
    const uint64_t tableEnd = ne_ + restab_;  // the resident names follow the resource table
    const std::string rsrctabAt = fieldAt("ne_rsrctab", ne_ + 0x24);
    if (rsrctab_ == restab_) {
        report_.error(rsrctabAt, "and ne_restab are both " + num(rsrctab_) +
                                     ": the library has no resource table, so no fonts");
        return false;
    }
    if (restab_ < rsrctab_)
        report_.error(fieldAt("ne_restab", ne_ + 0x26),
                      "is " + num(restab_) + ", before the resource table (ne_rsrctab " + num(rsrctab_) +
                          "), which the resident names follow; FreeType reads the resource table up to it and refuses "
                          "the library");
    else if (tableEnd > bytes_.size())
        report_.error(fieldAt("ne_restab", ne_ + 0x26),
                      "puts the end of the resource table at " + byteAt(tableEnd) + ", past the end of the file (" +
                          byteAt(bytes_.size()) + "); FreeType refuses the library");

    ByteReader r(bytes_, static_cast<size_t>(table));
    shift_ = r.le16("rscAlignShift");
    if (!r.ok()) {
        report_.error(fieldAt("resource table", table), "starts past the end of the file (" +
                                                            byteAt(bytes_.size()) + ")");
        return false;
    }
    if (shift_ > kMaxAlignShift) {
        report_.error(fieldAt("rscAlignShift", table),
                      "is " + num(shift_) + "; resource offsets are 16-bit counts of 1 << shift bytes, and FreeType "
                                            "refuses a shift above " + num(kMaxAlignShift));
        return false;
    }
    const bool tableBounded = restab_ > rsrctab_;
    bool pastEndNoted = false;
    bool fontSeen = false;
    // Each type takes at least 8 bytes, so the file's size bounds the loop.
    for (;;) {
        const uint64_t typeAt = r.position();
        const uint32_t typeId = r.le16("rtTypeID");
        if (!r.ok()) {
            report_.error(fieldAt("resource table", table),
                          "runs to the end of the file (" + byteAt(bytes_.size()) +
                              ") without the zero type id that ends it");
            break;
        }
        if (typeId == 0) {
            if (tableBounded && typeAt + 2 > tableEnd && !pastEndNoted)
                report_.warning(fieldAt("resource table end", typeAt),
                                "lies past ne_restab (" + byteAt(tableEnd) + "), where the resident names begin");
            break;
        }
        const uint32_t count = r.le16("rtResourceCount");
        r.skip("rtReserved", 4);
        const std::string typeWhere =
            fieldAt("resource type " + (typeId & kIntegerId ? hex(typeId, 4) : "named"), typeAt);
        if (!r.ok()) {
            report_.error(typeWhere, "is cut off by the end of the file (" + byteAt(bytes_.size()) + ")");
            break;
        }
        if (tableBounded && typeAt + 8 > tableEnd && !pastEndNoted) {
            pastEndNoted = true;
            // FreeType reads the types up to the first RT_FONT from a copy of the bytes before
            // ne_restab, and reads past that copy for any that lies beyond it.
            const std::string text = "lies past ne_restab (" + byteAt(tableEnd) +
                                     "), where the resident names begin; FreeType reads the resource table only "
                                     "up to there";
            if (!fontSeen)
                report_.error(typeWhere, text + ", and looks for the fonts' type before it");
            else
                report_.warning(typeWhere, text);
        }
        if (!r.holds(r.position(), count * kNameEntry)) {
            report_.error(typeWhere, "has " + num(count) + " resources of " + num(kNameEntry) +
                                         " bytes, which run past the end of the file (" + byteAt(bytes_.size()) + ")");
            break;
        }
        std::vector<NeResource>* into = typeId == kRtFont ? &fontResources_ : typeId == kRtFontDir ? &directories_ : nullptr;
        if (typeId == kRtFont) {
            fontSeen = true;
            if (++fontTypes_ == 2)
                report_.warning(typeWhere, "is a second RT_FONT type; FreeType and Windows read the fonts of the first only");
        }
        for (uint32_t i = 0; i < count; ++i) {
            NeResource resource;
            resource.entryAt = r.position();
            resource.offsetUnits = r.le16("rnOffset");
            resource.lengthUnits = r.le16("rnLength");
            r.skip("rnFlags", 2);
            resource.id = r.le16("rnID");
            r.skip("rnHandle, rnUsage", 4);
            if (into)
                into->push_back(resource);
        }
    }
    for (const NeResource& resource : directories_)
        checkResourceName(resource, table, "RT_FONTDIR resource");
    return true;
}

// A resource whose id lacks the number bit is named: its id is the offset of a length-prefixed
// name from the start of the resource table.
void NeCheck::checkResourceName(const NeResource& resource, uint64_t table, const std::string& what)
{
    if (resource.id & kIntegerId)
        return;
    const uint64_t name = table + resource.id;
    if (name >= bytes_.size() || name + 1 + bytes_[name] > bytes_.size())
        report_.warning(fieldAt(what + " rnID", resource.entryAt + 6),
                        "names the resource by the string at " + byteAt(name) + ", which runs past the end of the file");
}

void NeCheck::checkFonts()
{
    if (fontResources_.empty()) {
        report_.error(fieldAt("resource table", ne_ + rsrctab_),
                      "holds no RT_FONT (" + hex(kRtFont, 4) + ") resources: the library has no fonts");
        return;
    }
    places_.reserve(fontResources_.size());
    for (size_t i = 0; i < fontResources_.size(); ++i) {
        const NeResource& resource = fontResources_[i];
        const std::string where = fieldAt("RT_FONT resource " + num(i + 1), resource.entryAt);
        const uint64_t offset = uint64_t{resource.offsetUnits} << shift_;
        uint64_t length = uint64_t{resource.lengthUnits} << shift_;
        if (offset >= bytes_.size()) {
            report_.error(where, "puts its font at " + byteAt(offset) + ", past the end of the file (" +
                                     byteAt(bytes_.size()) + ")");
            places_.push_back({offset, 0, false});
            continue;
        }
        if (offset < ne_ + kNeHeader && offset + std::max<uint64_t>(length, 1) > ne_)
            report_.error(where, "puts its font at " + byteAt(offset) + ", over the NE header at " + byteAt(ne_));
        if (length == 0) {
            report_.error(where, "has rnLength 0: Windows loads none of the font's bytes");
            length = bytes_.size() - offset;  // check the font as FreeType reads it, by its dfSize
        } else if (offset + length > bytes_.size()) {
            report_.error(where, "gives its font " + num(length) + " bytes from " + byteAt(offset) + " to " +
                                     byteAt(offset + length) + ", past the end of the file (" +
                                     byteAt(bytes_.size()) + "); Windows refuses a library whose resources it cannot "
                                                             "load whole");
            length = bytes_.size() - offset;
        }
        places_.push_back(fonts_.check(where, offset, length));
    }
}

void NeCheck::checkFontDirectory()
{
    if (fontResources_.empty())
        return;
    const std::string tableWhere = fieldAt("resource table", ne_ + rsrctab_);
    if (directories_.empty()) {
        report_.warning(tableWhere, "holds no RT_FONTDIR (" + hex(kRtFontDir, 4) +
                                        ") resource; FreeType reads the fonts without it, but 16-bit Windows lists a "
                                        "library's fonts from it");
        return;
    }
    if (directories_.size() > 1)
        report_.warning(tableWhere, "holds " + num(directories_.size()) + " RT_FONTDIR resources; one is read");
    const NeResource& directory = directories_.front();
    const uint64_t start = uint64_t{directory.offsetUnits} << shift_;
    const uint64_t length = uint64_t{directory.lengthUnits} << shift_;
    const std::string where = fieldAt("RT_FONTDIR resource", directory.entryAt);
    if (start >= bytes_.size() || length == 0) {
        report_.warning(where, length == 0 ? std::string("has rnLength 0")
                                           : "puts the font directory at " + byteAt(start) +
                                                 ", past the end of the file (" + byteAt(bytes_.size()) + ")");
        return;
    }
    const uint64_t end = std::min<uint64_t>(start + length, bytes_.size());
    if (start + length > bytes_.size())
        report_.warning(where, "gives the font directory " + num(length) + " bytes from " + byteAt(start) +
                                   ", past the end of the file (" + byteAt(bytes_.size()) + ")");

    // Font ids, to find each directory entry's font.
    std::unordered_map<uint32_t, size_t> byOrdinal;
    for (size_t i = 0; i < fontResources_.size(); ++i) {
        if (fontResources_[i].id & kIntegerId)
            byOrdinal.emplace(fontResources_[i].id & ~kIntegerId, i);
    }

    ByteReader r(bytes_.first(static_cast<size_t>(end)), static_cast<size_t>(start));
    const uint32_t count = r.le16("font count");
    if (!r.ok()) {
        report_.warning(fieldAt("font directory", start), "is too short to hold its font count");
        return;
    }
    if (count != fontResources_.size())
        report_.warning(fieldAt("font directory count", start),
                        "is " + num(count) + ", but the library holds " + num(fontResources_.size()) +
                            " RT_FONT resources; 16-bit Windows lists the fonts by the directory");
    // Each entry takes more than 100 bytes, so the resource's length bounds the loop.
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entryAt = r.position();
        const std::string entryWhere = fieldAt("font directory entry " + num(i + 1), entryAt);
        const uint32_t ordinal = r.le16("font ordinal");
        const std::span<const uint8_t> fixed = r.bytes("FNT header copy", kDirectoryFixed);
        uint64_t deviceLength = 0;
        uint64_t faceLength = 0;
        const uint64_t deviceAt = r.position();
        const bool strings = r.ok() && stringAt(bytes_, deviceAt, end, deviceLength) &&
                             stringAt(bytes_, deviceAt + deviceLength + 1, end, faceLength);
        if (!strings) {
            report_.warning(entryWhere, "runs past the end of the font directory (" + byteAt(end) + ")");
            return;
        }
        const uint64_t faceAt = deviceAt + deviceLength + 1;
        r.seek(static_cast<size_t>(faceAt + faceLength + 1));

        const auto found = byOrdinal.find(ordinal);
        if (found == byOrdinal.end()) {
            report_.warning(entryWhere, "is for font ordinal " + num(ordinal) + ", but no RT_FONT resource has id " +
                                            num(ordinal) + "; 16-bit Windows cannot load the font it lists");
            continue;
        }
        if (found->second < places_.size() && places_[found->second].checked)
            compareDirectoryEntry(entryWhere, fixed, faceAt, faceLength, found->second, ordinal);
    }
}

void NeCheck::compareDirectoryEntry(const std::string& entryWhere, std::span<const uint8_t> fixed, uint64_t faceAt,
                                    uint64_t faceLength, size_t fontIndex, uint32_t ordinal)
{
    // The entry repeats the font's header; compare what fonts are chosen by.
    const uint64_t font = places_[fontIndex].offset;
    if (font + kFntHeader2 > bytes_.size())
        return;
    static constexpr std::string_view kFields[] = {
        "dfVersion", "dfType",     "dfPoints",   "dfVertRes",   "dfHorizRes", "dfAscent",
        "dfItalic",  "dfWeight",   "dfCharSet",  "dfPixWidth",  "dfPixHeight", "dfPitchAndFamily",
        "dfAvgWidth", "dfMaxWidth", "dfFirstChar", "dfLastChar"};
    std::string differing;
    for (const std::string_view field : kFields) {
        const size_t at = fnt::offsetOf(field);
        if (std::memcmp(fixed.data() + at, bytes_.data() + font + at, fnt::widthOf(field)) != 0)
            differing += (differing.empty() ? "" : ", ") + std::string(field);
    }
    // The directory may cut a long face name short.
    const uint64_t fontFace =
        font + (uint64_t{le16At(bytes_, font + fnt::kDfFace)} | uint64_t{le16At(bytes_, font + fnt::kDfFace + 2)} << 16);
    uint64_t fontFaceLength = 0;
    const bool fontHasFace = stringAt(bytes_, fontFace, bytes_.size(), fontFaceLength);
    if (fontHasFace) {
        const bool same = faceLength == fontFaceLength ||
                          (faceLength >= 31 && faceLength < fontFaceLength);
        if (!same || std::memcmp(bytes_.data() + faceAt, bytes_.data() + fontFace, static_cast<size_t>(faceLength)) != 0)
            differing += (differing.empty() ? "" : ", ") + std::string("face name");
    }
    if (!differing.empty())
        report_.warning(entryWhere, "differs from font " + num(fontIndex + 1) + " (id " + num(ordinal) +
                                        ") in " + differing + "; 16-bit Windows lists the font by the directory's copy");
}

void NeCheck::checkNames()
{
    // Resident names: the module name first, then exported names, ended by a zero length.
    const uint64_t resident = ne_ + restab_;
    ByteReader r(bytes_, static_cast<size_t>(resident));
    const uint32_t moduleLength = r.u8("module name length");
    if (!r.ok()) {
        report_.warning(fieldAt("ne_restab", ne_ + 0x26),
                        "puts the resident name table at " + byteAt(resident) + ", past the end of the file");
    } else if (moduleLength == 0) {
        report_.warning(fieldAt("resident name table", resident), "has no module name");
    } else {
        // Each entry takes at least 3 bytes, so the file's size bounds the walk.
        r.seek(static_cast<size_t>(resident));
        for (;;) {
            const uint32_t length = r.u8("resident name length");
            if (!r.ok() || length == 0)
                break;
            r.skip("resident name", length).skip("resident name ordinal", 2);
        }
        if (!r.ok())
            report_.warning(fieldAt("resident name table", resident),
                            "runs to the end of the file (" + byteAt(bytes_.size()) + ") without the zero length that ends it");
    }

    // Non-resident names: the library's description first ("FONTRES 100,96,96 : Name 8,10,12").
    const std::string where = fieldAt("ne_nrestab", ne_ + 0x2C);
    if (cbnrestab_ == 0 || nrestab_ == 0) {
        report_.warning(where, "gives no non-resident name table, so the library has no description");
        return;
    }
    const uint64_t end = uint64_t{nrestab_} + cbnrestab_;
    if (end > bytes_.size()) {
        report_.warning(where, "puts the non-resident name table at " + byteAt(nrestab_) + " (" + num(cbnrestab_) +
                                   " bytes, ne_cbnrestab), past the end of the file (" + byteAt(bytes_.size()) + ")");
        return;
    }
    const uint32_t length = bytes_[nrestab_];
    if (length == 0)
        report_.warning(fieldAt("non-resident name table", nrestab_), "has an empty description");
    else if (uint64_t{nrestab_} + 1 + length + 2 > end)
        report_.warning(fieldAt("non-resident name table", nrestab_),
                        "has a description of " + num(length) + " bytes, which runs past the table's " +
                            num(cbnrestab_) + " bytes (ne_cbnrestab)");
}

// ---- PE libraries -------------------------------------------------------------------------------

class PeCheck {
public:
    PeCheck(std::span<const uint8_t> bytes, uint64_t pe, CheckReport& report)
        : bytes_(bytes), pe_(pe), report_(report), fonts_(bytes, report)
    {
    }
    void run();

private:
    // Reads the directory at offset (from the resource section's start): its entries' position
    // and count, or false with an error.
    bool directory(uint64_t offset, const std::string& what, uint64_t& entries, uint64_t& count);
    // Finds the resource section from the headers, or answers false with an error.
    bool findResourceSection();
    // Checks an RT_FONT resource's data entry (at dataOffset in the section) and its font.
    void checkFontResource(uint64_t languageAt, uint32_t dataOffset);

    std::span<const uint8_t> bytes_;
    uint64_t pe_;
    CheckReport& report_;
    FontChecker fonts_;
    uint64_t section_ = 0;     // the resource section's file offset
    uint64_t sectionRva_ = 0;  // and its address
    uint64_t budget_ = 0;      // directory entries left to visit
};

bool PeCheck::directory(uint64_t offset, const std::string& what, uint64_t& entries, uint64_t& count)
{
    const uint64_t at = section_ + offset;
    ByteReader r(bytes_, static_cast<size_t>(at));
    r.skip("Characteristics .. MinorVersion", 12);
    count = uint64_t{r.le16("NumberOfNamedEntries")} + r.le16("NumberOfIdEntries");
    entries = at + 16;
    if (!r.ok() || !r.holds(entries, count * 8)) {
        report_.error(fieldAt(what, at), "runs past the end of the file (" + byteAt(bytes_.size()) +
                                             "); FreeType refuses the library");
        return false;
    }
    if (count > budget_) {
        report_.error(fieldAt(what, at), "leads back to directories already read; a resource tree names each "
                                         "directory once");
        return false;
    }
    budget_ -= count;
    return true;
}

void PeCheck::run()
{
    if (!findResourceSection())
        return;
    // A tree of distinct directories has fewer entries than the file has 8-byte pieces.
    budget_ = bytes_.size() / 8 + 1;
    uint64_t types = 0;
    uint64_t typeCount = 0;
    if (!directory(0, "PE resource directory", types, typeCount))
        return;
    bool anyFont = false;
    for (uint64_t t = 0; t < typeCount; ++t) {
        const uint64_t typeAt = types + t * 8;
        const uint32_t typeName = le16At(bytes_, typeAt) | le16At(bytes_, typeAt + 2) << 16;
        const uint32_t typeOffset = le16At(bytes_, typeAt + 4) | le16At(bytes_, typeAt + 6) << 16;
        const std::string typeWhere = fieldAt("PE resource type " + num(t + 1), typeAt);
        if (!(typeOffset & 0x80000000u)) {
            report_.error(typeWhere, "is not a directory; FreeType refuses the library");
            return;
        }
        uint64_t names = 0;
        uint64_t nameCount = 0;
        if (!directory(typeOffset & 0x7FFFFFFFu, "PE resource type " + num(t + 1) + " directory", names, nameCount))
            return;
        for (uint64_t n = 0; n < nameCount; ++n) {
            const uint64_t nameAt = names + n * 8;
            const uint32_t nameOffset = le16At(bytes_, nameAt + 4) | le16At(bytes_, nameAt + 6) << 16;
            if (!(nameOffset & 0x80000000u)) {
                report_.error(fieldAt("PE resource entry", nameAt), "is not a directory; FreeType refuses the library");
                return;
            }
            uint64_t languages = 0;
            uint64_t languageCount = 0;
            if (!directory(nameOffset & 0x7FFFFFFFu, "PE resource name directory", languages, languageCount))
                return;
            for (uint64_t l = 0; l < languageCount; ++l) {
                const uint64_t languageAt = languages + l * 8;
                const uint32_t dataOffset = le16At(bytes_, languageAt + 4) | le16At(bytes_, languageAt + 6) << 16;
                if (typeName != 8)  // RT_FONT
                    continue;
                anyFont = true;
                checkFontResource(languageAt, dataOffset);
            }
        }
    }
    if (!anyFont)
        report_.error(fieldAt("PE resource directory", section_), "holds no RT_FONT (8) resources: the library has no fonts");
}

bool PeCheck::findResourceSection()
{
    // FreeType reads the signature, the file header and a 224-byte optional header in one go.
    constexpr uint64_t kHeaders = 248;
    if (!ByteReader(bytes_).holds(pe_, kHeaders)) {
        report_.error(fieldAt("PE header", pe_), "is cut off by the end of the file (" + byteAt(bytes_.size()) +
                                                     "); FreeType reads " + num(kHeaders) + " bytes of it");
        return false;
    }
    ByteReader r(bytes_, static_cast<size_t>(pe_ + 4));
    const uint32_t machine = r.le16("Machine");
    const uint32_t sections = r.le16("NumberOfSections");
    r.skip("TimeDateStamp .. NumberOfSymbols", 12);
    const uint32_t optionalSize = r.le16("SizeOfOptionalHeader");
    r.skip("Characteristics", 2);
    const uint32_t magic = r.le16("Magic");
    r.seek(static_cast<size_t>(pe_ + 136));
    const uint32_t resourceRva = r.le32("resource table RVA");
    if (machine != 0x014C || optionalSize != 0xE0 || magic != 0x10B) {
        report_.error(fieldAt("PE header", pe_),
                      "is of machine " + hex(machine, 4) + " with a " + hex(magic, 3) + " optional header of " +
                          num(optionalSize) + " bytes; FreeType reads fonts only from 32-bit x86 libraries "
                          "(machine 0x014C, PE32 optional header 0x10B of 224 bytes)");
        return false;
    }
    if (resourceRva == 0) {
        report_.error(fieldAt("resource table RVA", pe_ + 136), "is 0: the library has no resources, so no fonts");
        return false;
    }
    // FreeType takes the section that starts exactly at the resource table.
    bool found = false;
    r.seek(static_cast<size_t>(pe_ + kHeaders));
    for (uint32_t i = 0; i < sections && !found; ++i) {
        r.skip("Name, VirtualSize", 12);
        const uint32_t address = r.le32("VirtualAddress");
        r.skip("SizeOfRawData", 4);
        const uint32_t raw = r.le32("PointerToRawData");
        r.skip("PointerToRelocations .. Characteristics", 16);
        if (!r.ok()) {
            report_.error(fieldAt("section table", pe_ + kHeaders), r.error());
            return false;
        }
        if (address == resourceRva) {
            found = true;
            section_ = raw;
            sectionRva_ = address;
        }
    }
    if (!found) {
        report_.error(fieldAt("resource table RVA", pe_ + 136),
                      "is " + hex(resourceRva, 8) + ", where no section starts; FreeType finds no resources");
        return false;
    }
    return true;
}

void PeCheck::checkFontResource(uint64_t languageAt, uint32_t dataOffset)
{
    const std::string where = fieldAt("RT_FONT resource " + num(fonts_.count() + 1), languageAt);
    if (dataOffset & 0x80000000u) {
        report_.error(where, "is a directory where its data entry belongs");
        return;
    }
    const uint64_t data = section_ + dataOffset;
    if (!ByteReader(bytes_).holds(data, 16)) {
        report_.error(where, "has its data entry at " + byteAt(data) + ", past the end of the file");
        return;
    }
    const uint64_t rva = le16At(bytes_, data) | uint64_t{le16At(bytes_, data + 2)} << 16;
    const uint64_t size = le16At(bytes_, data + 4) | uint64_t{le16At(bytes_, data + 6)} << 16;
    if (rva < sectionRva_) {
        report_.error(fieldAt("RT_FONT data entry", data),
                      "puts the font at address " + hex(rva, 8) + ", before its section (" +
                          hex(sectionRva_, 8) + ")");
        return;
    }
    const uint64_t offset = section_ + (rva - sectionRva_);
    if (offset >= bytes_.size()) {
        report_.error(fieldAt("RT_FONT data entry", data),
                      "puts the font at " + byteAt(offset) + ", past the end of the file");
        return;
    }
    // FreeType, the reader of these libraries, goes by the font's dfSize and not by
    // the entry's size; a size short of it misleads only other tools.
    fonts_.check(where, offset, bytes_.size() - offset);
    const uint64_t dfSize = offset + 6 <= bytes_.size()
                                ? le16At(bytes_, offset + 2) | uint64_t{le16At(bytes_, offset + 4)} << 16
                                : 0;
    if (size < dfSize || offset + size > bytes_.size())
        report_.warning(fieldAt("RT_FONT data entry", data),
                        "gives the font " + num(size) + " bytes from " + byteAt(offset) +
                            (size < dfSize ? ", fewer than its dfSize (" + num(dfSize) + ")"
                                           : ", past the end of the file (" + byteAt(bytes_.size()) + ")") +
                            "; FreeType reads the font by its dfSize, tools that copy resources by "
                            "their size do not");
}

}  // namespace

void checkFon(std::span<const uint8_t> bytes, CheckReport& report)
{
    report.format = "FON";
    if (bytes.size() < kMzHeader) {
        report.error(fieldAt("MZ header", 0), "is " + num(kMzHeader) + " bytes, but the file ends at " +
                                                  byteAt(bytes.size()));
        return;
    }
    uint64_t lfanew = le16At(bytes, kLfanewAt) | uint64_t{le16At(bytes, kLfanewAt + 2)} << 16;
    const std::string where = fieldAt("e_lfanew", kLfanewAt);
    auto signatureAt = [&](uint64_t at) -> uint32_t {
        return at >= kMzHeader && at + 4 <= bytes.size() ? le16At(bytes, at) | le16At(bytes, at + 2) << 16 : 0;
    };
    auto known = [](uint32_t signature) { return (signature & 0xFFFF) == kNeMagic || signature == kPeMagic; };
    // FreeType keeps only e_lfanew's low 16 bits; Windows takes all 32.
    if (lfanew > 0xFFFF) {
        const uint64_t low = lfanew & 0xFFFF;
        if (known(signatureAt(lfanew))) {
            report.error(where, "is " + num(lfanew) + "; FreeType reads only its low 16 bits (" + num(low) +
                                    ") and finds no library header there");
        } else if (known(signatureAt(low))) {
            report.error(where, "is " + num(lfanew) + ", which is no header of the file; FreeType reads only its low "
                                                      "16 bits and finds one at " + byteAt(low) + ", but Windows does not");
            lfanew = low;
        }
    }
    if (lfanew < kMzHeader) {
        report.error(where, "is " + num(lfanew) + ", inside the " + num(kMzHeader) +
                                "-byte MZ header; a font library's NE header follows it");
        return;
    }
    const uint32_t signature = signatureAt(lfanew);
    if ((signature & 0xFFFF) == kNeMagic) {
        if (lfanew % 4 != 0)
            report.warning(where, "is " + num(lfanew) + ", not a multiple of 4; some loaders (ReactOS's bitmap font "
                                                        "driver) refuse an NE header that is not 4-byte aligned");
        NeCheck(bytes, lfanew, report).run();
    } else if (signature == kPeMagic) {
        report.format = "FON (PE)";
        PeCheck(bytes, lfanew, report).run();
    } else if (lfanew + 4 > bytes.size()) {
        report.error(where, "is " + num(lfanew) + ", past the end of the file (" + byteAt(bytes.size()) +
                                "): an MS-DOS program, not a font library");
    } else {
        report.error(fieldAt("NE header", lfanew),
                     "has signature " + hex(signature & 0xFFFF, 4) +
                         ", neither \"NE\" (a 16-bit font library) nor \"PE\": an MS-DOS program, not a font library");
    }
}

}  // namespace qf

// Checks Windows raster font resources (FNT 2.0 and 3.0) the way their readers take them: FreeType's
// winfnt driver (which X, Pango and most of Linux go through) and Windows' bitmap font loader.
// What makes either refuse the font, or draw or measure it wrongly, is an error; what they pass
// over is a warning.
#include "formats/FntReader.h"

#include "formats/FntHeader.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace qf {

namespace {

constexpr uint32_t kVersion2 = 0x0200;
constexpr uint32_t kVersion3 = 0x0300;
constexpr uint64_t kHeader2 = fnt::kHeaderSize;
constexpr uint64_t kHeader3 = fnt::kHeader3Size;
// FreeType reads the 3.0 header's 148 bytes whatever the version says.
constexpr uint64_t kFreeTypeHeaderRead = fnt::kHeader3Size;
// A 2.0 font lives in one 16-bit segment: its character table holds 16-bit offsets.
constexpr uint64_t kSegment = 65536;
// No real face or device name comes near this (Windows keeps 32 bytes of a face name); a longer
// search would let a library of many fonts over one large one cost time by its square.
constexpr uint64_t kNameSearch = 1024;

// dfType: bit 0 set is a vector font.
constexpr uint32_t kTypeVector = 0x0001;
// dfPitchAndFamily: bit 0 set is a variable-pitch font.
constexpr uint32_t kVariablePitch = 0x01;
// dfFlags of 3.0 fonts.
constexpr uint32_t kFlagFixed = 0x0001;
constexpr uint32_t kFlagOneColour = 0x0010;
constexpr uint32_t kFlagsColour = 0x0020 | 0x0040 | 0x0080;

struct Header {
    uint32_t version = 0;
    uint32_t size = 0;
    uint32_t type = 0;
    uint32_t points = 0;
    uint32_t vertRes = 0;
    uint32_t horizRes = 0;
    uint32_t ascent = 0;
    uint32_t internalLeading = 0;
    uint32_t externalLeading = 0;
    uint32_t weight = 0;
    uint32_t pixWidth = 0;
    uint32_t pixHeight = 0;
    uint32_t pitchAndFamily = 0;
    uint32_t avgWidth = 0;
    uint32_t maxWidth = 0;
    uint32_t firstChar = 0;
    uint32_t lastChar = 0;
    uint32_t defaultChar = 0;
    uint32_t breakChar = 0;
    uint32_t widthBytes = 0;
    uint32_t device = 0;
    uint32_t face = 0;
    uint32_t bitsOffset = 0;
    uint32_t flags = 0;  // 3.0 only
};

std::string hex(uint64_t value, int digits)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return buffer;
}

std::string num(uint64_t value) { return std::to_string(value); }

// "0x41 'A'", or the code alone for a character with no printable ASCII form.
std::string charName(uint32_t code)
{
    std::string name = hex(code, 2);
    if (code >= 0x21 && code <= 0x7E)
        name += std::string(" '") + static_cast<char>(code) + "'";
    return name;
}

// A name of the file as report text: Windows code page bytes read as Latin-1 into UTF-8, controls
// shown as '?', so a hostile name cannot break the report's lines or its encoding.
std::string printable(std::span<const uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const uint8_t byte : bytes) {
        if (byte < 0x20 || byte == 0x7F) {
            text += '?';
        } else if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

// Per-character problems of one kind are reported once, at the first character that has it, with
// the count of all that do: a broken table gives one finding per fault, not 224.
class CharacterFindings {
public:
    enum Kind { kWiderThanMax, kOverlapsTable, kPastEnd, kPastSegment, kZeroWidth, kSpaceEntry, kKinds };

    bool first(Kind kind) { return count_[kind]++ == 0; }
    void set(Kind kind, bool error, std::string where, std::string text)
    {
        error_[kind] = error;
        where_[kind] = std::move(where);
        text_[kind] = std::move(text);
    }
    void report(CheckReport& report) const
    {
        for (int kind = 0; kind < kKinds; ++kind) {
            if (count_[kind] == 0)
                continue;
            std::string text = text_[kind];
            if (count_[kind] > 1)
                text += " (" + num(count_[kind]) + " characters are so)";
            if (error_[kind])
                report.error(where_[kind], std::move(text));
            else
                report.warning(where_[kind], std::move(text));
        }
    }

private:
    std::array<uint64_t, kKinds> count_{};
    std::array<bool, kKinds> error_{};
    std::array<std::string, kKinds> where_;
    std::array<std::string, kKinds> text_;
};

class FntCheck {
public:
    FntCheck(std::span<const uint8_t> file, size_t offset, size_t length, CheckReport& report,
             const std::string& label)
        : file_(file), offset_(offset), report_(report), label_(label)
    {
        // What the font's container gives it, cut to what the file holds.
        const uint64_t inFile = offset <= file.size() ? file.size() - offset : 0;
        given_ = std::min<uint64_t>(length, inFile);
    }

    uint32_t run();

private:
    // "font 2, dfFace (byte 4201)": a field at rel bytes into the font.
    std::string at(const std::string& field, uint64_t rel) const
    {
        std::string where = label_.empty() ? field : label_ + ", " + field;
        return where + " (" + byteAt(offset_ + rel) + ")";
    }
    std::string where(const std::string& field) const { return label_.empty() ? field : label_ + ", " + field; }
    // The file offset of rel bytes into the font, as text.
    std::string fileByte(uint64_t rel) const { return byteAt(offset_ + rel); }
    void error(const std::string& field, uint64_t rel, std::string text) { report_.error(at(field, rel), std::move(text)); }
    void warning(const std::string& field, uint64_t rel, std::string text)
    {
        report_.warning(at(field, rel), std::move(text));
    }

    bool readHeader();
    void checkSize();
    void checkMetrics();
    // What the character table's walk gathers for the header fields that describe the widths.
    struct CharacterWidths {
        uint64_t minWidth, minNonZero, maxWidth;
        uint64_t columns;  // byte columns, the padding blank's included
        uint64_t xWidth;
        bool hasX;
    };
    void checkCharacters();
    CharacterWidths checkCharacterTable(const uint8_t* table, uint64_t whole, uint64_t tableEnd);
    void checkWidthFields(const CharacterWidths& w);
    void checkWidthBytes(const CharacterWidths& w, const uint8_t* table);
    void checkFace();
    void checkDevice();
    void addFontLine();

    // Where a byte string that starts at rel ends (its NUL), searching no further than limit_ and
    // kNameSearch bytes; false when there is none.
    bool findNul(uint64_t rel, uint64_t& end) const;

    std::span<const uint8_t> file_;
    uint64_t offset_;
    uint64_t given_ = 0;
    CheckReport& report_;
    const std::string& label_;

    Header h_;
    uint64_t headerSize_ = kHeader2;
    uint64_t entrySize_ = 4;
    // The bytes of the font readers can use, from its start: dfSize, cut to what is given.
    uint64_t limit_ = 0;
    std::string limitText_;  // what ends the font there, for findings
    uint64_t characters_ = 0;
    bool charactersKnown_ = false;
    std::string faceName_;
};

uint32_t FntCheck::run()
{
    if (!readHeader())
        return 0;
    checkSize();
    checkMetrics();
    checkCharacters();
    checkFace();
    checkDevice();
    addFontLine();
    return h_.version;
}

bool FntCheck::readHeader()
{
    if (offset_ > file_.size() || given_ < 2) {
        report_.error(where("dfVersion") + " (" + byteAt(offset_) + ")",
                      "the font's header would start here, but the " +
                          std::string(offset_ >= file_.size() ? "file ends at " + byteAt(file_.size())
                                                              : "font is given only " + num(given_) + " bytes"));
        return false;
    }
    ByteReader r(file_.first(static_cast<size_t>(offset_ + given_)), static_cast<size_t>(offset_));
    h_.version = r.le16("dfVersion");
    if (h_.version != kVersion2 && h_.version != kVersion3) {
        std::string text = "is " + hex(h_.version, 4) + "; FreeType and Windows read raster fonts of versions 2.0 (" +
                           hex(kVersion2, 4) + ") and 3.0 (" + hex(kVersion3, 4) + ") only";
        if (h_.version == 0x0100)
            text += " (1.0 fonts are older still: convert them)";
        error("dfVersion", fnt::kDfVersion, std::move(text));
        return false;
    }
    const bool v3 = h_.version == kVersion3;
    headerSize_ = v3 ? kHeader3 : kHeader2;
    entrySize_ = v3 ? 6 : 4;
    if (given_ < headerSize_) {
        report_.error(where("header") + " (" + byteAt(offset_) + ")",
                      "a " + std::string(v3 ? "3.0" : "2.0") + " font's header is " + num(headerSize_) +
                          " bytes, but " +
                          (offset_ + given_ == file_.size() ? "the file ends after " : "the font is given only ") +
                          num(given_));
        return false;
    }
    h_.size = r.le32("dfSize");
    r.skip("dfCopyright", 60);
    h_.type = r.le16("dfType");
    h_.points = r.le16("dfPoints");
    h_.vertRes = r.le16("dfVertRes");
    h_.horizRes = r.le16("dfHorizRes");
    h_.ascent = r.le16("dfAscent");
    h_.internalLeading = r.le16("dfInternalLeading");
    h_.externalLeading = r.le16("dfExternalLeading");
    r.skip("dfItalic, dfUnderline, dfStrikeOut", 3);
    h_.weight = r.le16("dfWeight");
    r.skip("dfCharSet", 1);
    h_.pixWidth = r.le16("dfPixWidth");
    h_.pixHeight = r.le16("dfPixHeight");
    h_.pitchAndFamily = r.u8("dfPitchAndFamily");
    h_.avgWidth = r.le16("dfAvgWidth");
    h_.maxWidth = r.le16("dfMaxWidth");
    h_.firstChar = r.u8("dfFirstChar");
    h_.lastChar = r.u8("dfLastChar");
    h_.defaultChar = r.u8("dfDefaultChar");
    h_.breakChar = r.u8("dfBreakChar");
    h_.widthBytes = r.le16("dfWidthBytes");
    h_.device = r.le32("dfDevice");
    h_.face = r.le32("dfFace");
    r.skip("dfBitsPointer", 4);
    h_.bitsOffset = r.le32("dfBitsOffset");
    r.skip("dfReserved", 1);
    if (v3)
        h_.flags = r.le32("dfFlags");
    if (!r.ok()) {  // cannot happen once the header's bytes are there; kept as a guard
        report_.error(where("header"), r.error());
        return false;
    }
    if (!v3 && file_.size() - offset_ < kFreeTypeHeaderRead)
        report_.error(where("header") + " (" + byteAt(offset_) + ")",
                      "FreeType reads " + num(kFreeTypeHeaderRead) +
                          " header bytes whatever the version, but the file ends " + num(file_.size() - offset_) +
                          " bytes after the font's start, so it refuses the font");
    return true;
}

void FntCheck::checkSize()
{
    const uint64_t inFile = file_.size() - offset_;
    limit_ = given_;
    limitText_ = offset_ + given_ == file_.size() ? "the end of the file (" + byteAt(file_.size()) + ")"
                                                  : "the end of the font's resource (" + byteAt(offset_ + given_) + ")";
    if (h_.size < headerSize_) {
        error("dfSize", fnt::kDfSize,
              "is " + num(h_.size) + ", less than the " + num(headerSize_) +
                  "-byte header; FreeType refuses a font of that size");
        return;
    }
    if (h_.size > inFile) {
        error("dfSize", fnt::kDfSize,
              "is " + num(h_.size) + " bytes, but the file ends " + num(inFile) +
                  " bytes after the font's start; FreeType loads dfSize bytes and refuses a font the file cannot "
                  "hold");
    } else if (h_.size > given_) {
        warning("dfSize", fnt::kDfSize,
                "is " + num(h_.size) + " bytes, more than the " + num(given_) +
                    " bytes of the font's resource; Windows loads only the resource's bytes");
    } else {
        limit_ = h_.size;
        limitText_ = "the end of the font (dfSize " + num(h_.size) + ", " + byteAt(offset_ + h_.size) + ")";
    }
    if (h_.version == kVersion2 && h_.size > kSegment)
        warning("dfSize", fnt::kDfSize,
                "is " + num(h_.size) + " bytes; a 2.0 font can address only its first " + num(kSegment) +
                    " bytes (its character table holds 16-bit offsets)");
}

void FntCheck::checkMetrics()
{
    if (h_.type & kTypeVector)
        error("dfType", fnt::kDfType,
              "is " + hex(h_.type, 4) +
                  ": bit 0 marks a vector font, which FreeType refuses and Windows draws as strokes; a raster "
                  "font has it clear");
    if (h_.pixHeight == 0)
        error("dfPixHeight", fnt::kDfPixHeight, "is 0; FreeType refuses a font with no pixel height");
    if (h_.ascent > h_.pixHeight)
        error("dfAscent", fnt::kDfAscent,
              "is " + num(h_.ascent) + ", more than dfPixHeight (" + num(h_.pixHeight) +
                  "); the baseline would lie below the character cell and the descent come out negative");
    if (h_.internalLeading > h_.pixHeight)
        warning("dfInternalLeading", fnt::kDfInternalLeading,
                "is " + num(h_.internalLeading) + ", more than dfPixHeight (" + num(h_.pixHeight) +
                    "); the em height Windows derives from them comes out negative");
    if (h_.points == 0)
        warning("dfPoints", fnt::kDfPoints, "is 0; readers list the font at a size of 0 points");
    if (h_.vertRes == 0 || h_.horizRes == 0)
        warning(h_.vertRes == 0 ? "dfVertRes" : "dfHorizRes", h_.vertRes == 0 ? fnt::kDfVertRes : fnt::kDfHorizRes,
                "is 0; FreeType takes 72 dpi instead");
    if (h_.points != 0 && h_.vertRes != 0 && h_.pixHeight != 0) {
        // FreeType's nominal size: points at the vertical resolution, in whole pixels; one above the
        // pixel height makes it use the pixel height instead.
        const uint64_t size = uint64_t{h_.points} << 6;
        const uint64_t ppem = ((size * h_.vertRes + 36) / 72 + 32) & ~uint64_t{63};
        if (ppem > (uint64_t{h_.pixHeight} << 6))
            warning("dfPoints", fnt::kDfPoints,
                    num(h_.points) + " points at " + num(h_.vertRes) + " dpi make an em of " + num(ppem >> 6) +
                        " pixels, more than the font's height (dfPixHeight " + num(h_.pixHeight) +
                        "); FreeType takes the point size for wrong and lists the font at " + num(h_.pixHeight) +
                        " pixels per em instead");
    }
    if (h_.weight > 1000)
        warning("dfWeight", fnt::kDfWeight, "is " + num(h_.weight) + "; weights run from 1 to 1000 (400 regular, 700 bold)");
    if (h_.version == kVersion3) {
        if (h_.flags & kFlagsColour)
            error("dfFlags", fnt::kDfFlags,
                  "is " + hex(h_.flags, 8) +
                      ": a colour font (16-colour, 256-colour or RGB bitmaps); FreeType reads every bitmap as 1 bit "
                      "per pixel and draws it wrongly");
        else if (!(h_.flags & kFlagOneColour))
            warning("dfFlags", fnt::kDfFlags,
                    "is " + hex(h_.flags, 8) + ": no colour depth is set; a monochrome font sets DFF_1COLOR (0x10)");
    }
    if (h_.firstChar > h_.lastChar) {
        error("dfFirstChar", fnt::kDfFirstChar,
              "is " + charName(h_.firstChar) + ", above dfLastChar " + charName(h_.lastChar) +
                  "; FreeType refuses a font with no characters");
        return;
    }
    characters_ = h_.lastChar - h_.firstChar + 1;
    charactersKnown_ = true;
    // dfDefaultChar and dfBreakChar count from dfFirstChar.
    if (h_.defaultChar >= characters_)
        error("dfDefaultChar", fnt::kDfDefaultChar,
              "is " + num(h_.defaultChar) + " (character " + charName((h_.firstChar + h_.defaultChar) & 0xFF) +
                  "), but the font's " + num(characters_) + " characters count 0 to " + num(characters_ - 1) +
                  " from dfFirstChar; FreeType takes the table entry it names as the missing-character glyph and "
                  "reads a wrong one");
    if (h_.breakChar >= characters_)
        warning("dfBreakChar", fnt::kDfBreakChar,
                "is " + num(h_.breakChar) + " (character " + charName((h_.firstChar + h_.breakChar) & 0xFF) +
                    "), but the font's " + num(characters_) + " characters count 0 to " + num(characters_ - 1) +
                    " from dfFirstChar; Windows justifies text at a character the font does not have");
}

void FntCheck::checkCharacters()
{
    if (!charactersKnown_)
        return;
    // One entry per character, then one more: the blank the font pads with, whose offset also
    // marks where the last character's bitmap ends.
    const uint64_t entries = characters_ + 1;
    const uint64_t tableEnd = headerSize_ + entries * entrySize_;
    bool complete = true;
    if (tableEnd > limit_) {
        complete = false;
        error("character table", headerSize_,
              "holds " + num(entries) + " entries of " + num(entrySize_) + " bytes (characters " +
                  charName(h_.firstChar) + " to " + charName(h_.lastChar) + " and the one after them) up to " +
                  fileByte(tableEnd) + ", past " + limitText_);
    }
    const uint64_t whole = std::min(entries, (limit_ - std::min(limit_, headerSize_)) / entrySize_);
    const uint8_t* table = file_.data() + offset_ + headerSize_;
    const CharacterWidths widths = checkCharacterTable(table, whole, tableEnd);
    if (!complete)
        return;
    checkWidthFields(widths);
    checkWidthBytes(widths, table);
    if (h_.bitsOffset < tableEnd || h_.bitsOffset > limit_)
        warning("dfBitsOffset", fnt::kDfBitsOffset,
                "is " + num(h_.bitsOffset) + " (" + fileByte(h_.bitsOffset) + "), not between the end of the character table (" +
                    fileByte(tableEnd) + ") and " + limitText_ + "; readers find bitmaps by the table, but tools that "
                    "copy the bitmaps from dfBitsOffset get the wrong bytes");
    else if (h_.version == kVersion2 && h_.bitsOffset >= kSegment)
        error("dfBitsOffset", fnt::kDfBitsOffset,
              "is " + num(h_.bitsOffset) + ", past the " + num(kSegment) + " bytes a 2.0 font can address");
}

FntCheck::CharacterWidths FntCheck::checkCharacterTable(const uint8_t* table, uint64_t whole, uint64_t tableEnd)
{
    const bool v2 = h_.version == kVersion2;
    CharacterFindings findings;
    uint64_t minWidth = UINT64_MAX;
    uint64_t minNonZero = UINT64_MAX;
    uint64_t maxWidth = 0;
    uint64_t columns = 0;
    uint64_t xWidth = 0;
    bool hasX = false;
    for (uint64_t i = 0; i < whole; ++i) {
        const uint8_t* entry = table + i * entrySize_;
        const uint64_t width = uint64_t{entry[0]} | uint64_t{entry[1]} << 8;
        uint64_t bits = uint64_t{entry[2]} | uint64_t{entry[3]} << 8;
        if (!v2)
            bits |= uint64_t{entry[4]} << 16 | uint64_t{entry[5]} << 24;
        const uint64_t size = (width + 7) / 8 * h_.pixHeight;
        columns += (width + 7) / 8;
        const uint64_t entryRel = headerSize_ + i * entrySize_;
        const uint32_t code = static_cast<uint32_t>(h_.firstChar + i);
        auto note = [&](CharacterFindings::Kind kind, bool isError, auto&& text) {
            if (findings.first(kind))
                findings.set(kind, isError, at("character " + charName(code), entryRel), text());
        };
        if (i == characters_) {
            // The blank after the last character: FreeType never reads it, so a bad one is a warning.
            if (width != 0 && (bits < tableEnd || bits + size > limit_)) {
                if (findings.first(CharacterFindings::kSpaceEntry))
                    findings.set(CharacterFindings::kSpaceEntry, false, at("character table entry after the last", entryRel),
                                 "gives a blank " + num(width) + " pixels wide at " + fileByte(bits) +
                                     ", which is not inside the font's bitmaps (" + fileByte(tableEnd) + " to " +
                                     limitText_ + ")");
            }
            break;
        }
        minWidth = std::min(minWidth, width);
        maxWidth = std::max(maxWidth, width);
        if (width != 0)
            minNonZero = std::min(minNonZero, width);
        if (code == 'X') {
            hasX = true;
            xWidth = width;
        }
        if (width > h_.maxWidth)
            note(CharacterFindings::kWiderThanMax, false, [&] {
                return "is " + num(width) + " pixels wide, more than dfMaxWidth (" + num(h_.maxWidth) +
                       "); FreeType draws it whole, but layout that trusts dfMaxWidth may clip it";
            });
        if (width == 0) {
            note(CharacterFindings::kZeroWidth, false, [&] {
                return std::string("is 0 pixels wide; FreeType refuses to load a glyph with no bitmap columns");
            });
            continue;
        }
        if (bits < tableEnd)
            note(CharacterFindings::kOverlapsTable, true, [&] {
                return "has its bitmap at " + fileByte(bits) + ", inside the header and character table (which end at " +
                       fileByte(tableEnd) + "); it would be drawn from their bytes";
            });
        else if (bits + size > limit_)
            note(CharacterFindings::kPastEnd, true, [&] {
                return "has a bitmap of " + num(size) + " bytes (" + num((width + 7) / 8) + " byte columns of " +
                       num(h_.pixHeight) + " rows) at " + fileByte(bits) + ", running to " + fileByte(bits + size) +
                       ", past " + limitText_ + "; FreeType refuses the glyph";
            });
        else if (v2 && bits + size > kSegment)
            note(CharacterFindings::kPastSegment, true, [&] {
                return "has its bitmap running to " + num(bits + size) + " bytes into the font, past the " +
                       num(kSegment) + " bytes a 2.0 font can address";
            });
    }
    findings.report(report_);
    return {minWidth, minNonZero, maxWidth, columns, xWidth, hasX};
}

void FntCheck::checkWidthFields(const CharacterWidths& w)
{
    // Header fields that describe the characters, against the characters.
    const uint64_t minWidth = w.minWidth, minNonZero = w.minNonZero, maxWidth = w.maxWidth;
    const bool monospaced = minWidth == maxWidth;
    const std::string range = monospaced ? "every character is " + num(maxWidth) + " pixels wide"
                                         : "the characters are " + num(minWidth) + " to " + num(maxWidth) + " pixels wide";
    if (h_.pixWidth != 0 && !monospaced)
        warning("dfPixWidth", fnt::kDfPixWidth,
                "is " + num(h_.pixWidth) + ", which marks a fixed-pitch font, but " + range +
                    "; Windows takes the font for fixed-pitch (a proportional font has dfPixWidth 0)");
    else if (h_.pixWidth != 0 && h_.pixWidth != maxWidth)
        warning("dfPixWidth", fnt::kDfPixWidth, "is " + num(h_.pixWidth) + ", but " + range);
    if (!monospaced && !(h_.pitchAndFamily & kVariablePitch))
        warning("dfPitchAndFamily", fnt::kDfPitchAndFamily,
                "is " + hex(h_.pitchAndFamily, 2) + ": bit 0 (variable pitch) is clear, so Windows reports a "
                "fixed-pitch font, but " + range);
    if (h_.version == kVersion3 && !monospaced && (h_.flags & kFlagFixed))
        warning("dfFlags", fnt::kDfFlags, "is " + hex(h_.flags, 8) + ": DFF_FIXED (0x1) is set, but " + range);
    if (monospaced && h_.avgWidth != maxWidth)
        warning("dfAvgWidth", fnt::kDfAvgWidth,
                "is " + num(h_.avgWidth) + ", but " + range + " (a fixed-pitch font's average is its width)");
    else if (!monospaced && (h_.avgWidth < minNonZero || h_.avgWidth > maxWidth))
        warning("dfAvgWidth", fnt::kDfAvgWidth,
                "is " + num(h_.avgWidth) + ", outside the characters' widths (" +
                    num(minNonZero == UINT64_MAX ? 0 : minNonZero) + " to " + num(maxWidth) + " pixels" +
                    (w.hasX ? ", 'X' " + num(w.xWidth) : std::string()) + ")");
    // FreeType calls a font fixed-width when dfAvgWidth equals dfMaxWidth, and fontconfig lists
    // it as monospaced or not by that.
    if (monospaced && h_.avgWidth == maxWidth && h_.maxWidth != h_.avgWidth)
        warning("dfMaxWidth", fnt::kDfMaxWidth,
                "is " + num(h_.maxWidth) + ", but " + range + "; FreeType marks a font fixed-width only when "
                "dfAvgWidth equals dfMaxWidth, so it reports this monospaced font as proportional");
    else if (!monospaced && h_.avgWidth == h_.maxWidth)
        warning("dfMaxWidth", fnt::kDfMaxWidth,
                "equals dfAvgWidth (" + num(h_.avgWidth) + "), but " + range +
                    "; FreeType takes a font whose average and maximum widths agree for fixed-width");
}

void FntCheck::checkWidthBytes(const CharacterWidths& w, const uint8_t* table)
{
    // dfWidthBytes: the byte columns of all bitmaps, the padding blank's included, rounded up to
    // an even number. Writers differ on the blank and the rounding, and readers of 2.0 and 3.0
    // fonts do not use the field, so any of those sums passes.
    const uint8_t* blank = table + characters_ * entrySize_;
    const uint64_t blankColumns = ((uint64_t{blank[0]} | uint64_t{blank[1]} << 8) + 7) / 8;
    const uint64_t withBlank = w.columns;  // the table's walk counted the blank's entry too
    const uint64_t withoutBlank = w.columns - blankColumns;
    auto even = [](uint64_t value) { return value + (value & 1); };
    const uint64_t stated = h_.widthBytes;
    if (stated != withBlank && stated != even(withBlank) && stated != withoutBlank && stated != even(withoutBlank))
        warning("dfWidthBytes", fnt::kDfWidthBytes,
                "is " + num(stated) + ", but the bitmaps have " + num(withBlank) +
                    " byte columns in all (one per 8 pixels of each character's width, the padding blank's "
                    "included), so " + num(even(withBlank)) + " was expected");
}

bool FntCheck::findNul(uint64_t rel, uint64_t& end) const
{
    if (rel >= limit_)
        return false;
    const uint64_t span = std::min(limit_ - rel, kNameSearch);
    const uint8_t* start = file_.data() + offset_ + rel;
    const void* nul = std::memchr(start, 0, static_cast<size_t>(span));
    if (!nul)
        return false;
    end = rel + static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - start);
    return true;
}

void FntCheck::checkFace()
{
    const uint64_t face = h_.face;
    if (face >= h_.size && h_.size >= headerSize_) {
        error("dfFace", fnt::kDfFace,
              "is " + num(face) + ", not inside the font's " + num(h_.size) +
                  " bytes (dfSize); FreeType refuses a font whose face name lies outside it");
        return;
    }
    if (face >= limit_) {
        error("dfFace", fnt::kDfFace, "is " + num(face) + " (" + fileByte(face) + "), past " + limitText_);
        return;
    }
    uint64_t end = 0;
    if (!findNul(face, end)) {
        const bool capped = limit_ - face > kNameSearch;
        error("dfFace", fnt::kDfFace,
              capped ? "names a face name at " + fileByte(face) + " with no NUL in its first " + num(kNameSearch) +
                           " bytes; a face name is a short zero-terminated string"
                     : "names a face name at " + fileByte(face) + " that runs to " + limitText_ +
                           " with no NUL after it; Windows reads on past the font");
        faceName_ = printable(file_.subspan(static_cast<size_t>(offset_ + face),
                                            static_cast<size_t>(std::min(limit_ - face, uint64_t{64}))));
        return;
    }
    faceName_ = printable(file_.subspan(static_cast<size_t>(offset_ + face), static_cast<size_t>(end - face)));
    if (end == face)
        warning("dfFace", fnt::kDfFace, "names an empty face name at " + fileByte(face) + "; no application can choose the font by name");
    if (charactersKnown_) {
        const uint64_t tableEnd = headerSize_ + (characters_ + 1) * entrySize_;
        if (face < tableEnd)
            warning("dfFace", fnt::kDfFace,
                    "is " + num(face) + " (" + fileByte(face) + "), inside the header and character table (which end at " +
                        fileByte(tableEnd) + ")");
    }
    if (h_.version == kVersion2 && end + 1 > kSegment)
        error("dfFace", fnt::kDfFace,
              "names a face name ending " + num(end + 1) + " bytes into the font, past the " + num(kSegment) +
                  " bytes a 2.0 font can address");
}

void FntCheck::checkDevice()
{
    if (h_.device == 0)
        return;
    uint64_t end = 0;
    if (h_.device >= limit_)
        warning("dfDevice", fnt::kDfDevice, "is " + num(h_.device) + " (" + fileByte(h_.device) + "), past " + limitText_ +
                                           "; a display font has 0 here");
    else if (!findNul(h_.device, end))
        warning("dfDevice", fnt::kDfDevice, "names a device name at " + fileByte(h_.device) + " with no NUL after it");
    else if (h_.version == kVersion2 && h_.device >= kSegment)
        error("dfDevice", fnt::kDfDevice,
              "is " + num(h_.device) + ", past the " + num(kSegment) + " bytes a 2.0 font can address");
}

void FntCheck::addFontLine()
{
    std::string line = faceName_.empty() ? std::string("(no face name)") : faceName_;
    line += " " + num(h_.points) + " pt (" + num(h_.horizRes) + " x " + num(h_.vertRes) + " dpi), " +
            num(h_.pixHeight) + " pixels high";
    report_.fonts.push_back(std::move(line));
    report_.glyphs += characters_;
}

}  // namespace

uint32_t checkFntResource(std::span<const uint8_t> file, size_t offset, size_t length, CheckReport& report,
                          const std::string& label)
{
    FntCheck check(file, offset, length, report, label);
    return check.run();
}

void checkFnt(std::span<const uint8_t> bytes, CheckReport& report)
{
    report.format = "FNT";
    const uint32_t version = checkFntResource(bytes, 0, bytes.size(), report, std::string());
    if (version == kVersion2)
        report.format = "FNT 2.0";
    else if (version == kVersion3)
        report.format = "FNT 3.0";
    if (version == 0)
        return;
    // A font file is the font alone; bytes after dfSize are no part of it.
    const uint64_t size = uint64_t{bytes[2]} | uint64_t{bytes[3]} << 8 | uint64_t{bytes[4]} << 16 |
                          uint64_t{bytes[5]} << 24;
    if (size >= (version == kVersion3 ? kHeader3 : kHeader2) && size < bytes.size())
        report.warning("dfSize (" + byteAt(fnt::kDfSize) + ")",
                       "is " + num(size) + ", but the file is " + num(bytes.size()) + " bytes; the " +
                           num(bytes.size() - size) + " bytes after the font are ignored");
}

}  // namespace qf

// Checks a PC Screen Font: version 2 (what PsfWriter writes) and the console's older version 1.
// What decides an error is what the Linux console and kbd's setfont do with the file: kbd refuses
// a header it cannot divide into glyphs, a Unicode table that is cut short, that is not UTF-8 as it
// decodes it, or that has bytes after it; the kernel's console drivers take no cell over 32 x 32.
// What they load but show wrongly, or load only on some systems, is a warning: more glyphs than the
// console takes, characters mapped twice or past 16 bits, inked glyphs no character reaches, a
// non-blank glyph 32, bits in a row's padding.
#include "formats/FileCheck.h"

#include "platform/ByteReader.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace qf {

namespace {

constexpr size_t kPsf1HeaderSize = 4;
constexpr size_t kPsf2HeaderSize = 32;
constexpr uint32_t kPsf1MaxMode = 5;          // kbd refuses any mode above (6 and 7 included)
constexpr uint32_t kPsf1Mode512 = 0x01;
constexpr uint32_t kPsf1ModeTable = 0x02;
constexpr uint32_t kPsf1ModeSequences = 0x04;
constexpr uint64_t kConsoleMaxCell = 32;      // fbcon and vgacon, either way
constexpr uint64_t kConsoleMaxGlyphs = 512;
constexpr uint64_t kOldSetfontMaxFile = 65536;  // kbd before 2.6 reads no larger font file
constexpr uint64_t kSetfontMaxFile = 512 * 64 * 128;  // nor does any later one
constexpr uint64_t kEraseGlyph = 32;          // the console erases with this position, whatever the map
constexpr uint32_t kNoGlyph = UINT32_MAX;
constexpr size_t kListed = 5;  // problems of one kind named one by one before the rest are summed

std::string codeName(uint32_t code)
{
    char text[24];
    std::snprintf(text, sizeof text, "U+%04X", code);
    std::string name = text;
    if (code >= 0x21 && code <= 0x7E) {
        name += " '";
        name += static_cast<char>(code);
        name += '\'';
    }
    return name;
}

std::string hexByte(uint32_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

std::string hexWord(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string entryWhere(uint64_t glyph, size_t at)
{
    return "Unicode table, entry of glyph " + std::to_string(glyph) + " (" + byteAt(at) + ")";
}

std::string glyphsText(uint64_t count)
{
    return std::to_string(count) + (count == 1 ? " glyph" : " glyphs");
}

// Problems of one kind: the first few are reported where they are and the rest summed in one line,
// so that a damaged table or a thousand odd glyphs do not bury the rest of the report.
class Tally {
public:
    explicit Tally(bool error) : error_(error) {}

    // True when this one is to be reported on its own; past the first few it is only counted.
    bool name() { return ++seen_ <= kListed; }
    void close(CheckReport& report, const std::string& where, const std::string& what) const
    {
        if (seen_ <= kListed)
            return;
        std::string text = "and " + std::to_string(seen_ - kListed) + " more " + what;
        if (error_)
            report.error(where, std::move(text));
        else
            report.warning(where, std::move(text));
    }

private:
    bool error_;
    size_t seen_ = 0;
};

struct Layout {
    std::span<const uint8_t> bytes;
    bool psf2 = true;
    size_t glyphStart = 0;
    uint64_t count = 0;
    uint64_t charsize = 0;
    uint64_t width = 0;
    uint64_t height = 0;
    bool rowsReadable = false;  // charsize is the cell's rows, so each glyph's rows can be looked at
    bool hasTable = false;

    size_t glyphOffset(uint64_t glyph) const { return glyphStart + static_cast<size_t>(glyph * charsize); }
    uint64_t tableStart() const { return glyphStart + count * charsize; }
    bool hasInk(uint64_t glyph) const
    {
        const size_t at = glyphOffset(glyph);
        for (size_t i = 0; i < charsize; ++i) {
            if (bytes[at + i] != 0)
                return true;
        }
        return false;
    }
    std::string glyphWhere(uint64_t glyph) const
    {
        return "glyph " + std::to_string(glyph) + " (" + byteAt(glyphOffset(glyph)) + ")";
    }
};

// One step through a table entry.
enum class Unit { Code, Sequence, End, Bad, Cut };

// What is wrong with a step. Described only when reported: a hostile table has millions.
enum class Issue { None, Stray, NoContinuation, CutCharacter, CutCode, Overlong, AboveUnicode, Surrogate };

struct Step {
    Unit unit = Unit::Bad;
    Issue issue = Issue::None;
    uint32_t code = 0;
    uint32_t lead = 0;    // the byte that began a UTF-8 character
    uint32_t found = 0;   // the byte found where a continuation byte belongs
    size_t length = 1;    // bytes the step takes
    size_t sequence = 0;  // bytes the UTF-8 character says it takes

    std::string describe(size_t at) const
    {
        const std::string bytesLong = std::to_string(sequence) + "-byte UTF-8 character";
        switch (issue) {
        case Issue::Stray:
            return "byte " + hexByte(lead) +
                   " continues a UTF-8 character but none was begun; setfont refuses the font";
        case Issue::NoContinuation:
            return "the " + bytesLong + " has " + hexByte(found) + " at " + byteAt(at + length) +
                   " where a continuation byte (0x80 to 0xBF) belongs; setfont refuses the font";
        case Issue::CutCharacter:
            return "the file ends inside a " + bytesLong + " (lead byte " + hexByte(lead) +
                   "); setfont refuses a short table";
        case Issue::CutCode:
            return "the file ends inside a 16-bit code; setfont refuses a short table";
        case Issue::Overlong:
            return "overlong UTF-8 (" + std::to_string(sequence) + " bytes for " + codeName(code) +
                   "); setfont takes it as " + codeName(code) + ", and stricter readers refuse the table";
        case Issue::AboveUnicode:
            return "a code above U+10FFFF is no Unicode character; setfont loads it, but no text reaches it";
        case Issue::Surrogate:
            return codeName(code) + " is a surrogate, not a character; setfont loads it, but no text reaches it";
        case Issue::None:
            break;
        }
        return {};
    }
};

// PSF2's entries: UTF-8, with 0xFE before each sequence and 0xFF after the entry. kbd decodes any
// lead byte with its continuation bytes, overlong and surrogate forms included, so only a stray
// continuation byte, a missing one or the file's end inside a character make it refuse the font.
Step readUtf8(std::span<const uint8_t> bytes, size_t at)
{
    Step step;
    const uint32_t lead = bytes[at];
    step.lead = lead;
    if (lead == 0xFF) {
        step.unit = Unit::End;
        return step;
    }
    if (lead == 0xFE) {
        step.unit = Unit::Sequence;
        return step;
    }
    if (lead < 0x80) {
        step.unit = Unit::Code;
        step.code = lead;
        return step;
    }
    size_t length = 0;
    for (uint32_t bit = 0x80; lead & bit; bit >>= 1)
        ++length;
    step.sequence = length;
    if (length == 1) {
        step.issue = Issue::Stray;
        return step;
    }
    if (length > bytes.size() - at) {
        step.unit = Unit::Cut;
        step.issue = Issue::CutCharacter;
        return step;
    }
    uint32_t code = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        const uint32_t next = bytes[at + i];
        if ((next & 0xC0) != 0x80) {
            step.issue = Issue::NoContinuation;
            step.found = next;
            step.length = i;  // the byte found may be the entry's end, so reading resumes there
            return step;
        }
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    step.unit = Unit::Code;
    step.code = code;
    step.length = length;
    if (code < kShortest[length])
        step.issue = Issue::Overlong;
    else if (code > 0x10FFFF)
        step.issue = Issue::AboveUnicode;
    else if (code >= 0xD800 && code <= 0xDFFF)
        step.issue = Issue::Surrogate;
    return step;
}

// PSF1's entries: 16-bit little-endian codes, 0xFFFE before each sequence and 0xFFFF after.
Step readUcs2(std::span<const uint8_t> bytes, size_t at)
{
    Step step;
    if (bytes.size() - at < 2) {
        step.unit = Unit::Cut;
        step.issue = Issue::CutCode;
        return step;
    }
    const uint32_t code = bytes[at] | (static_cast<uint32_t>(bytes[at + 1]) << 8);
    step.length = 2;
    step.unit = code == 0xFFFF ? Unit::End : code == 0xFFFE ? Unit::Sequence : Unit::Code;
    step.code = code;
    if (step.unit == Unit::Code && code >= 0xD800 && code <= 0xDFFF)
        step.issue = Issue::Surrogate;
    return step;
}

// Which glyph each character goes to, as the console would load it: the codes of an entry and its
// one-character sequences (longer sequences never reach the kernel).
class CharacterMap {
public:
    CharacterMap() : pages_(0x100) {}

    void add(uint32_t code, uint32_t glyph, size_t entryStart, CheckReport& report)
    {
        if (code > 0xFFFF) {
            if (beyond_++ == 0) {
                firstBeyond_ = code;
                firstBeyondGlyph_ = glyph;
                firstBeyondEntry_ = entryStart;
            }
            return;
        }
        // A page of 256 codes is made when first used: a font touches few of them.
        std::vector<uint32_t>& page = pages_[code >> 8];
        if (page.empty())
            page.assign(0x100, kNoGlyph);
        uint32_t& owner = page[code & 0xFF];
        if (owner == kNoGlyph) {
            owner = glyph;
            return;
        }
        if (owner == glyph)
            return;
        if (duplicates_.name())
            report.warning(entryWhere(glyph, entryStart),
                           codeName(code) + " is also in the entry of glyph " + std::to_string(owner) +
                               "; the console shows it with glyph " + std::to_string(glyph) + ", the last one loaded");
        owner = glyph;
    }

    void close(CheckReport& report) const
    {
        duplicates_.close(report, "Unicode table", "characters in the entries of two glyphs");
        if (beyond_ == 0)
            return;
        char truncated[16];
        std::snprintf(truncated, sizeof truncated, "U+%04X", firstBeyond_ & 0xFFFF);
        report.warning(entryWhere(firstBeyondGlyph_, firstBeyondEntry_),
                       (beyond_ == 1 ? codeName(firstBeyond_) + " lies"
                                     : std::to_string(beyond_) + " characters lie") +
                           " beyond U+FFFF" +
                           (beyond_ == 1 ? std::string() : " (the first is " + codeName(firstBeyond_) + ")") +
                           "; the console's Unicode map holds 16-bit codes, and setfont loads " +
                           codeName(firstBeyond_) + " as " + truncated);
    }

private:
    std::vector<std::vector<uint32_t>> pages_;  // the glyph of each code below U+10000
    Tally duplicates_{false};
    size_t beyond_ = 0;
    uint32_t firstBeyond_ = 0;
    uint32_t firstBeyondGlyph_ = 0;
    size_t firstBeyondEntry_ = 0;
};

// Reads the Unicode table, one entry per glyph, the way setfont does; then says what is left over.
void checkTable(const Layout& font, CheckReport& report)
{
    const std::span<const uint8_t> bytes = font.bytes;
    const size_t size = bytes.size();
    const size_t start = static_cast<size_t>(font.tableStart());  // inside the file: the glyphs fit
    const char* const terminator = font.psf2 ? "0xFF" : "0xFFFF";
    CharacterMap map;
    Tally badCodes(true), oddCodes(false), unmapped(false);
    size_t at = start;
    uint64_t entries = 0;
    bool cut = false;
    while (entries < font.count && at < size && !cut) {
        const uint64_t glyph = entries;
        const size_t entryStart = at;
        bool anyCode = false, badReported = false, inSequence = false;
        uint32_t sequenceFirst = 0;
        size_t sequenceLength = 0;
        const auto closeSequence = [&] {
            if (inSequence && sequenceLength == 1)
                map.add(sequenceFirst, static_cast<uint32_t>(glyph), entryStart, report);
            sequenceLength = 0;
        };
        while (true) {
            if (at >= size) {
                report.error(entryWhere(glyph, entryStart),
                             "the file ends inside the entry, before its " + std::string(terminator) +
                                 " terminator; length says " + glyphsText(font.count) +
                                 " and setfont refuses a short table");
                cut = true;
                break;
            }
            const Step step = font.psf2 ? readUtf8(bytes, at) : readUcs2(bytes, at);
            if (step.unit == Unit::Cut) {
                report.error(entryWhere(glyph, entryStart), step.describe(at));
                cut = true;
                break;
            }
            const size_t stepStart = at;
            at += step.length;
            if (step.unit == Unit::End) {
                closeSequence();
                ++entries;
                break;
            }
            if (step.unit == Unit::Sequence) {
                closeSequence();
                inSequence = true;
                continue;
            }
            if (step.unit == Unit::Bad) {
                // One report per entry: the bytes after a bad one are as likely garbage.
                if (!badReported && badCodes.name())
                    report.error(entryWhere(glyph, entryStart), step.describe(stepStart));
                badReported = true;
                continue;
            }
            anyCode = true;
            if (step.issue != Issue::None && oddCodes.name())
                report.warning(entryWhere(glyph, entryStart), step.describe(stepStart));
            if (step.code > 0x10FFFF)
                continue;
            if (!inSequence)
                map.add(step.code, static_cast<uint32_t>(glyph), entryStart, report);
            else if (sequenceLength++ == 0)
                sequenceFirst = step.code;
        }
        if (!cut && !anyCode && !badReported && font.rowsReadable && font.hasInk(glyph) && unmapped.name())
            report.warning(font.glyphWhere(glyph), "has ink but its Unicode entry (" + byteAt(entryStart) +
                                                       ") is empty, so no character shows it");
    }
    badCodes.close(report, "Unicode table", "entries with bytes setfont cannot decode");
    oddCodes.close(report, "Unicode table", "codes that are overlong, surrogates or past U+10FFFF");
    unmapped.close(report, "glyphs", "glyphs with ink and an empty Unicode entry");
    map.close(report);
    if (cut)
        return;
    if (entries < font.count) {
        report.error("Unicode table (" + byteAt(start) + ")",
                     (entries == 0 ? std::string("the file ends where the table begins")
                                   : "holds entries for " + glyphsText(entries) + " and then the file ends") +
                         "; length says " + glyphsText(font.count) + " (each entry ends with " + terminator +
                         "), and setfont refuses a short table");
        return;
    }
    if (at < size)
        report.error("after the Unicode table (" + byteAt(at) + ")",
                     std::to_string(size - at) + " bytes follow the table's last entry; the file should end here, "
                                                 "and setfont refuses a font with bytes after its table");
}

// The glyphs' rows: padding bits right of the width, and the position the console erases with.
void checkGlyphs(const Layout& font, CheckReport& report)
{
    if (!font.rowsReadable)
        return;
    const uint64_t rowBytes = (font.width + 7) / 8;
    const uint32_t spare = static_cast<uint32_t>(font.width % 8);
    if (spare != 0) {
        const uint8_t mask = static_cast<uint8_t>(0xFFu >> spare);
        Tally padded(false);
        for (uint64_t glyph = 0; glyph < font.count; ++glyph) {
            const size_t at = font.glyphOffset(glyph);
            for (uint64_t row = 0; row < font.height; ++row) {
                if ((font.bytes[at + static_cast<size_t>(row * rowBytes + rowBytes - 1)] & mask) == 0)
                    continue;
                if (padded.name())
                    report.warning(font.glyphWhere(glyph),
                                   "row " + std::to_string(row) + " has bits set right of the " +
                                       std::to_string(font.width) + "-pixel width; rows are padded with zero bits");
                break;
            }
        }
        padded.close(report, "glyphs", "glyphs with bits set right of the width");
    }
    if (font.count > kEraseGlyph && font.hasInk(kEraseGlyph))
        report.warning(font.glyphWhere(kEraseGlyph),
                       "has ink; the console erases the screen with glyph 32 whatever the Unicode table says, so "
                       "cleared areas show it (setfont warns 'font position 32 is nonblank'); keep it blank");
}

// What the console makes of the cell and the glyph count.
void checkConsoleLimits(const Layout& font, const std::string& countWhere, CheckReport& report)
{
    if (font.count > kConsoleMaxGlyphs)
        report.warning(countWhere, glyphsText(font.count) + "; the kernel loads at most " +
                                       std::to_string(kConsoleMaxGlyphs) +
                                       " into the console, so setfont cannot load this font there");
    else if (font.psf2 && font.count != 256 && font.count != 512 && font.width != 8)
        report.warning(countWhere, glyphsText(font.count) + "; the framebuffer console takes 256 or 512, and setfont "
                                                            "pads only 8-pixel-wide fonts to those counts");
    if (font.bytes.size() > kSetfontMaxFile)
        report.warning("file size", "the file is " + std::to_string(font.bytes.size()) +
                                        " bytes; setfont refuses font files over " + std::to_string(kSetfontMaxFile) +
                                        " bytes");
    else if (font.bytes.size() > kOldSetfontMaxFile)
        report.warning("file size", "the file is " + std::to_string(font.bytes.size()) +
                                        " bytes; setfont before kbd 2.6 refuses font files over " +
                                        std::to_string(kOldSetfontMaxFile) + " bytes");
}

// The glyphs must lie inside the file; reports and returns false when they do not.
bool glyphsFit(const Layout& font, CheckReport& report)
{
    const ByteReader reader(font.bytes);
    if (reader.holds(font.glyphStart, font.count * font.charsize))
        return true;
    const uint64_t room = font.glyphStart < font.bytes.size() && font.charsize != 0
                              ? (font.bytes.size() - font.glyphStart) / font.charsize
                              : 0;
    report.error("glyphs (" + byteAt(font.glyphStart) + ")",
                 glyphsText(font.count) + " of " + std::to_string(font.charsize) + " bytes need " +
                     std::to_string(font.count * font.charsize) + " bytes from " + byteAt(font.glyphStart) +
                     ", and the file ends at " + byteAt(font.bytes.size()) + " (room for " +
                     glyphsText(room) + ")");
    return false;
}

// What follows either version's header: the glyphs, then the Unicode table or nothing at all.
void checkBody(const Layout& font, const std::string& countWhere, const char* tableFlagWhere, CheckReport& report)
{
    if (!glyphsFit(font, report))
        return;
    checkConsoleLimits(font, countWhere, report);
    checkGlyphs(font, report);
    if (font.hasTable) {
        checkTable(font, report);
    } else if (font.tableStart() < font.bytes.size()) {
        report.error("after the glyphs (" + byteAt(font.tableStart()) + ")",
                     std::to_string(font.bytes.size() - font.tableStart()) + " bytes follow the glyphs, and " +
                         tableFlagWhere + " says no Unicode table does; setfont refuses the file");
    }
}

void checkVersion2(std::span<const uint8_t> bytes, CheckReport& report)
{
    report.format = "PSF2";
    ByteReader reader(bytes, 4);
    const uint32_t version = reader.le32("version");
    const uint32_t headerSize = reader.le32("headersize");
    const uint32_t flags = reader.le32("flags");
    const uint32_t length = reader.le32("length");
    const uint32_t charsize = reader.le32("charsize");
    const uint32_t height = reader.le32("height");
    const uint32_t width = reader.le32("width");
    if (!reader.ok()) {
        report.error("header (byte 0)", "a PSF2 header takes " + std::to_string(kPsf2HeaderSize) +
                                            " bytes, and the file has " + std::to_string(bytes.size()));
        return;
    }
    report.fonts.push_back("cell " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    report.glyphs = length;

    bool readable = true;  // the glyphs can be located at all
    if (version != 0)
        report.error("version (byte 4)", "is " + std::to_string(version) + "; readers know only version 0");
    if (headerSize < kPsf2HeaderSize)
        report.error("headersize (byte 8)", "is " + std::to_string(headerSize) + "; the header itself takes " +
                                                std::to_string(kPsf2HeaderSize) +
                                                " bytes, and the glyphs follow it");
    if ((flags & ~1u) != 0)
        report.warning("flags (byte 12)", "has bits " + hexWord(flags & ~1u) +
                                              " set; only bit 0 (a Unicode table follows the glyphs) has a meaning");
    if (length == 0) {
        report.error("length (byte 16)", "is 0; setfont refuses a font without glyphs");
        readable = false;
    }
    bool cellOk = true;
    if (width == 0 || width > kConsoleMaxCell) {
        report.error("width (byte 28)", "is " + std::to_string(width) + "; the console takes cells 1 to " +
                                            std::to_string(kConsoleMaxCell) + " pixels wide");
        cellOk = width != 0;
    }
    if (height == 0 || height > kConsoleMaxCell) {
        report.error("height (byte 24)", "is " + std::to_string(height) + "; the console takes cells 1 to " +
                                             std::to_string(kConsoleMaxCell) + " pixels high");
        cellOk = cellOk && height != 0;
    }
    const uint64_t cellBytes = uint64_t{height} * ((uint64_t{width} + 7) / 8);
    if (charsize == 0) {
        report.error("charsize (byte 20)", "is 0; setfont refuses a font whose glyphs take no bytes");
        readable = false;
    } else if (width != 0 && height != 0 && charsize != cellBytes) {
        report.error("charsize (byte 20)", "is " + std::to_string(charsize) + "; a " + std::to_string(width) + " x " +
                                               std::to_string(height) + " cell takes " + std::to_string(cellBytes) +
                                               " bytes (" + std::to_string(height) + " rows of " +
                                               std::to_string((width + 7) / 8) + ")");
        cellOk = false;
    }
    if (!readable)
        return;

    Layout font;
    font.bytes = bytes;
    font.psf2 = true;
    font.glyphStart = headerSize;
    font.count = length;
    font.charsize = charsize;
    font.width = width;
    font.height = height;
    font.rowsReadable = cellOk && charsize == cellBytes;
    font.hasTable = (flags & 1u) != 0;
    checkBody(font, "length (byte 16)", "flags (byte 12)", report);
}

void checkVersion1(std::span<const uint8_t> bytes, CheckReport& report)
{
    report.format = "PSF1";
    if (bytes.size() < kPsf1HeaderSize) {
        report.error("header (byte 0)", "a PSF1 header takes " + std::to_string(kPsf1HeaderSize) +
                                          " bytes, and the file has " + std::to_string(bytes.size()));
        return;
    }
    const uint32_t mode = bytes[2];
    const uint32_t charsize = bytes[3];
    Layout font;
    font.bytes = bytes;
    font.psf2 = false;
    font.glyphStart = kPsf1HeaderSize;
    font.count = (mode & kPsf1Mode512) ? 512 : 256;
    font.charsize = charsize;
    font.width = 8;
    font.height = charsize;
    font.rowsReadable = charsize != 0;
    font.hasTable = (mode & (kPsf1ModeTable | kPsf1ModeSequences)) != 0;
    report.fonts.push_back("cell 8 x " + std::to_string(charsize) + " pixels");
    report.glyphs = font.count;

    if (mode > kPsf1MaxMode)
        report.error("mode (byte 2)", "is " + hexByte(mode) + "; setfont refuses modes above " + hexByte(kPsf1MaxMode) +
                                          " (0x01: 512 glyphs, 0x02: a Unicode table, 0x04: a table with sequences)");
    if (charsize == 0) {
        report.error("charsize (byte 3)", "is 0; setfont refuses a font whose glyphs take no bytes");
        return;
    }
    if (charsize > kConsoleMaxCell)
        report.error("charsize (byte 3)", "is " + std::to_string(charsize) + ", the cell's height; the console takes "
                                              "cells 1 to " + std::to_string(kConsoleMaxCell) + " pixels high");
    checkBody(font, "mode (byte 2)", "mode (byte 2)", report);
}

}  // namespace

void checkPsf(std::span<const uint8_t> bytes, CheckReport& report)
{
    static constexpr uint8_t kVersion2[] = {0x72, 0xB5, 0x4A, 0x86};
    if (bytes.size() >= 4 && std::equal(kVersion2, kVersion2 + 4, bytes.begin()))
        checkVersion2(bytes, report);
    else if (bytes.size() >= 2 && bytes[0] == 0x36 && bytes[1] == 0x04)
        checkVersion1(bytes, report);
    else
        report.error(byteAt(0), "not a PC Screen Font: version 2 begins 72 B5 4A 86, version 1 begins 36 04");
}

}  // namespace qf

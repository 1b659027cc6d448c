// Reads a PCL 5 bitmap soft font as a printer does: a stream of escape sequences, the font header
// and then each character's code and download, and says what a printer would refuse, misplace or
// print as text. Whoever wrote the file: it accepts every valid layout (font IDs, combined escape
// sequences, compressed characters, continuation blocks, font control commands, a PJL preamble),
// not only the one our writer makes.
#include "formats/FileCheck.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace qf {

namespace {

constexpr uint8_t kEsc = 0x1B;
// The largest count a printer takes in one ESC (s#W or ESC )s#W; bigger characters go on in
// continuation blocks.
constexpr int64_t kMaxBlock = 32767;
constexpr int kFontIds = 32768;     // font IDs 0 to 32767
constexpr int kMaxCharSide = 16384;  // a character's width and height, and its offsets, in dots
constexpr int kDefaultResolution = 300;
constexpr size_t kCharDescriptor = 16;  // format, continuation and the 14 bytes the size counts

// One value of an escape sequence: an optional sign, digits, an optional fraction.
struct Value {
    int64_t whole = 0;  // saturates far past any count a file can hold
    bool negative = false;
    bool fraction = false;  // a non-zero fraction, which integer parameters drop

    int64_t signedValue() const { return negative ? -whole : whole; }
};

// What the file says of one font: its header, and what its characters tell against it.
struct Font {
    size_t headerAt = 0;  // the ESC )s#W
    bool read = false;    // the header's fields could be read
    bool usable = false;  // a printer would create the font
    bool permanent = false;
    int format = 0, type = 0, orientation = 0, spacing = 0;
    int baseline = 0, cellWidth = 0, cellHeight = 0, symbolSet = 0, pitch = 0, height = 0;
    int firstCode = 0, lastCode = 0;
    int xResolution = kDefaultResolution, yResolution = kDefaultResolution;
    std::string name;
    std::bitset<256> defined;

    size_t characters = 0;  // downloads sent to it, kept or not
    // Characters a printer discards, and ones that contradict the header: how many, and the
    // first of them.
    size_t misturned = 0;
    int misturnedCode = -1;
    size_t misturnedAt = 0;
    int misturnedOrientation = 0;
    size_t outsideType = 0;
    int outsideTypeCode = -1;
    size_t outsideTypeAt = 0;
    size_t outsideCell = 0;
    int outsideCode = -1;
    size_t outsideAt = 0;
    std::string outsideHow;
    size_t offPitch = 0;
    int offPitchCode = -1;
    size_t offPitchAt = 0;
    int offPitchDelta = 0;
    size_t outsideRange = 0;
    int outsideRangeCode = -1;
    size_t outsideRangeAt = 0;
};

// The character whose raster is coming in, block by block.
struct Character {
    bool active = false;
    bool checkable = false;  // its descriptor was sound enough to size the raster
    bool truncated = false;  // the file ended inside it (already reported)
    size_t at = 0;           // the ESC (s#W that began it
    int code = 0;
    int charClass = 1;
    int width = 0, height = 0;
    uint64_t expected = 0;  // class 1: the bytes its width and height need
    uint64_t received = 0;  // class 1: the raster bytes so far
    // Class 2: the run-length rows decoded so far.
    bool broken = false;
    bool wantRepeat = true;
    uint32_t repeat = 0;
    uint32_t rowDots = 0;
    uint64_t rows = 0;
    uint64_t extra = 0;  // bytes after the last row
};

// The header fields only its checks need.
struct HeaderFields {
    uint32_t descriptorSize = 0;
    uint32_t style = 0;  // MSB and LSB together
    int widthType = 0, strokeWeight = 0;
    std::span<const uint8_t> name;
    bool usable = true;  // nothing read so far makes a printer refuse the font
};

// A bitmap character's descriptor.
struct CharDescriptor {
    uint32_t format = 0, descriptorSize = 0, charClass = 0, orientation = 0;
    int left = 0, top = 0, width = 0, height = 0, deltaX = 0;
};

std::string orientationName(int orientation)
{
    switch (orientation) {
    case 0: return "portrait";
    case 1: return "landscape";
    case 2: return "reverse portrait";
    case 3: return "reverse landscape";
    default: return "orientation " + std::to_string(orientation);
    }
}

// "19U" from 629: the number times 32 plus the letter's code minus 64.
std::string symbolSetName(int value)
{
    return std::to_string(value / 32) + static_cast<char>(value % 32 + 64);
}

// "11.04": a point size with no trailing zeros.
std::string pointSize(double points)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", points);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

std::string headerWhere(size_t at) { return "font header (" + byteAt(at) + ")"; }

// A font header field, at its offset in the file.
std::string headerField(const char* name, size_t at) { return std::string("font header, ") + name + " (" + byteAt(at) + ")"; }

bool isText(uint8_t c) { return c >= 0x20 && c < 0x7F; }

// "1 dot", "3 dots".
std::string counted(int64_t n, const char* noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// A finding about the first of several characters names how many more there are.
std::string andMore(size_t characters)
{
    return characters > 1 ? " (and " + counted(static_cast<int64_t>(characters - 1), "more character") + ")" : "";
}

class PclChecker {
public:
    PclChecker(std::span<const uint8_t> bytes, CheckReport& report)
        : bytes_(bytes), report_(report)
    {
    }

    void run();

private:
    // The stream.
    void strayBytes(size_t from, size_t to);
    size_t skipPjl(size_t pos);
    size_t escape(size_t pos);
    // One parameter of an escape sequence; returns where the stream goes on (past any data).
    size_t parameter(size_t start, size_t end, char param, char group, const Value& value, char terminator,
                     bool& stop);
    std::string commandText(size_t start, size_t end) const;

    // The soft font commands.
    void fontHeader(size_t at, size_t dataAt, size_t count, bool truncated);
    // The header's parts; readHeaderSize answers whether its fields can be read on.
    bool readHeaderSize(ByteReader& r, Font& font, HeaderFields& h, size_t at, size_t dataAt, size_t count,
                        bool truncated);
    void readHeaderFields(ByteReader& r, Font& font, HeaderFields& h);
    void checkHeaderFields(Font& font, HeaderFields& h, size_t dataAt);
    void nameFont(Font& font, const HeaderFields& h, size_t dataAt, size_t count);
    void download(size_t at, size_t dataAt, size_t count, bool truncated);
    void beginCharacter(size_t at, size_t dataAt, size_t count, bool truncated);
    // Whether a printer reads the character's raster at all, and whether its size is one it takes.
    bool descriptorReadable(const CharDescriptor& d, int code, size_t at, size_t dataAt, size_t count, bool truncated);
    bool characterSizeSound(const CharDescriptor& d, int code, size_t at, size_t dataAt);
    // Whether the font keeps the character (kept: so far); notes what keeps it out.
    bool keepCharacter(Font* font, const CharDescriptor& d, int code, size_t at, bool kept);
    // Notes, for the font's findings, how a character it keeps contradicts its header.
    void compareWithFont(Font& font, const CharDescriptor& d, int code, size_t at);
    void feed(const uint8_t* data, size_t size);
    void endCharacter();
    void fontControl(size_t at, int64_t value);
    void reset(size_t at);

    // The findings that need every character.
    void finish();

    std::string charWhere(int code, size_t at, const char* field = nullptr, size_t fieldAt = 0) const;
    Font* currentFont()
    {
        const auto it = fontOfId_.find(fontId_);
        return it != fontOfId_.end() ? &fonts_[it->second] : nullptr;
    }
    // Deletes the fonts of the IDs listed (temporary ones only, or all), once each; returns how
    // many, and the offset of the first one's header.
    size_t deleteFonts(std::vector<int>& ids, bool temporaryOnly, size_t& firstAt);

    std::span<const uint8_t> bytes_;
    CheckReport& report_;
    std::vector<Font> fonts_;
    std::unordered_map<int, size_t> fontOfId_;  // the font each ID names now
    // IDs that were given a font, and IDs that were given or made a temporary one: a reset or a
    // delete goes through these (stale entries too) and empties them, so each command costs only
    // as much as the file has given it to delete.
    std::vector<int> liveIds_;
    std::vector<int> temporaryIds_;
    int fontId_ = 0;  // set by ESC *c#D
    int code_ = 0;    // set by ESC *c#E
    bool codeSet_ = false;
    bool afterUel_ = false;  // PJL lines may follow a Universal Exit Language
    Character char_;

    // Characters sent to a font ID with no header: counted, the first one named.
    size_t orphans_ = 0;
    size_t orphanAt_ = 0;
    int orphanId_ = 0;
    int orphanCode_ = 0;
};

void PclChecker::run()
{
    const size_t n = bytes_.size();
    size_t pos = 0;
    while (pos < n) {
        if (bytes_[pos] != kEsc) {
            if (afterUel_ && n - pos >= 4 && std::memcmp(bytes_.data() + pos, "@PJL", 4) == 0) {
                pos = skipPjl(pos);
                continue;
            }
            const void* next = std::memchr(bytes_.data() + pos, kEsc, n - pos);
            const size_t end = next ? static_cast<size_t>(static_cast<const uint8_t*>(next) - bytes_.data()) : n;
            strayBytes(pos, end);
            pos = end;
            continue;
        }
        pos = escape(pos);
    }
    endCharacter();
    finish();
}

// PJL job lines after a Universal Exit Language, up to the next escape.
size_t PclChecker::skipPjl(size_t pos)
{
    const size_t n = bytes_.size();
    while (pos < n && bytes_[pos] != kEsc) {
        const void* lf = std::memchr(bytes_.data() + pos, '\n', n - pos);
        pos = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - bytes_.data()) + 1 : n;
        // Another PJL line, or blank lines, may follow; anything else is text again.
        while (pos < n && (bytes_[pos] == '\r' || bytes_[pos] == '\n'))
            ++pos;
        if (pos < n && bytes_[pos] != kEsc && (n - pos < 4 || std::memcmp(bytes_.data() + pos, "@PJL", 4) != 0))
            break;
    }
    return pos;
}

// Bytes outside any escape sequence: a printer prints them. Line ends and NULs print nothing, and
// a DOS end-of-file mark at the very end is a copy's leftover.
void PclChecker::strayBytes(size_t from, size_t to)
{
    endCharacter();
    size_t printable = 0;
    for (size_t i = from; i < to; ++i) {
        const uint8_t c = bytes_[i];
        if (c == '\r' || c == '\n' || c == 0 || (c == 0x1A && to == bytes_.size()))
            continue;
        ++printable;
    }
    if (printable == 0)
        return;
    report_.error(byteAt(from), counted(static_cast<int64_t>(to - from), "byte") +
                                    " outside any escape sequence; a printer prints them as text (each command "
                                    "starts with ESC, and data follows only a W count)");
}

std::string PclChecker::commandText(size_t start, size_t end) const
{
    std::string text = "ESC ";
    for (size_t i = start + 1; i < end && i < start + 24; ++i) {
        const uint8_t c = bytes_[i];
        if (isText(c)) {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    if (end > start + 24)
        text += "...";
    return text;
}

// One escape sequence at pos: ESC, then either one character (ESC E), or a parameterised
// character, an optional group character and value-terminator pairs, a lowercase terminator
// combining the next pair with the same prefix.
size_t PclChecker::escape(size_t pos)
{
    const size_t n = bytes_.size();
    const size_t start = pos;
    if (pos + 1 >= n) {
        endCharacter();
        report_.error(byteAt(start), "the file ends with an ESC that starts no command");
        return n;
    }
    const uint8_t c = bytes_[pos + 1];
    if (c >= 0x30 && c <= 0x7E) {
        endCharacter();
        if (c == 'E')
            reset(start);
        else
            report_.error(commandText(start, pos + 2) + " (" + byteAt(start) + ")",
                          "not a soft font command; a printer runs it as page content");
        return pos + 2;
    }
    if (c < 0x21 || c > 0x2F) {
        endCharacter();
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        report_.error(byteAt(start), std::string("ESC followed by byte ") + hex +
                                         ", which starts no command; a printer prints what follows as text");
        return pos + 1;
    }
    const char param = static_cast<char>(c);
    size_t p = pos + 2;
    char group = 0;
    if (p < n && bytes_[p] >= 0x60 && bytes_[p] <= 0x7E)
        group = static_cast<char>(bytes_[p++]);
    for (;;) {
        Value value;
        if (p < n && (bytes_[p] == '+' || bytes_[p] == '-'))
            value.negative = bytes_[p++] == '-';
        while (p < n && bytes_[p] >= '0' && bytes_[p] <= '9') {
            if (value.whole < (int64_t{1} << 40))
                value.whole = value.whole * 10 + (bytes_[p] - '0');
            ++p;
        }
        if (p < n && bytes_[p] == '.') {
            ++p;
            while (p < n && bytes_[p] >= '0' && bytes_[p] <= '9') {
                value.fraction = value.fraction || bytes_[p] != '0';
                ++p;
            }
        }
        if (p >= n) {
            endCharacter();
            report_.error(commandText(start, n) + " (" + byteAt(start) + ")",
                          "the file ends inside this escape sequence, before its terminating letter");
            return n;
        }
        const uint8_t t = bytes_[p];
        bool last;
        if (t >= 0x40 && t <= 0x5E) {
            last = true;
        } else if (t >= 0x60 && t <= 0x7E) {
            last = false;
        } else {
            endCharacter();
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", t);
            report_.error(commandText(start, p + 1) + " (" + byteAt(start) + ")",
                          std::string("byte ") + hex + " at " + byteAt(p) +
                              " where a letter should end the value; a printer misreads the sequence");
            return p;
        }
        ++p;
        const char terminator = static_cast<char>(last ? t : t - 0x20);
        bool stop = false;
        p = parameter(start, p, param, group, value, terminator, stop);
        if (stop || last || p >= n)
            return stop ? n : p;
    }
}

// One value and its terminator, the pair ending at end, where any data starts.
size_t PclChecker::parameter(size_t start, size_t end, char param, char group, const Value& value,
                             char terminator, bool& stop)
{
    const size_t n = bytes_.size();
    // Named only for a finding: most commands are a character's and need no text.
    auto where = [&] {
        std::string text = "ESC ";
        text += param;
        if (group)
            text += group;
        text += std::to_string(value.signedValue());
        text += terminator;
        return text + " (" + byteAt(start) + ")";
    };

    // Commands that carry data: the count follows W (and transparent print data, &p#X).
    const bool carriesData = terminator == 'W' || (param == '&' && group == 'p' && terminator == 'X');
    if (carriesData) {
        if (value.negative && value.whole != 0) {
            endCharacter();
            report_.error(where(), "a negative byte count; a printer takes it as no data");
            return end;
        }
        const int64_t count = value.whole;
        const size_t left = end <= n ? n - end : 0;
        const bool truncated = static_cast<uint64_t>(count) > left;
        const size_t taken = truncated ? left : static_cast<size_t>(count);
        if (count > kMaxBlock)
            report_.error(where(), "a count of " + std::to_string(count) + " bytes; a printer takes at most " +
                                     std::to_string(kMaxBlock) + " in one command (larger characters go on in "
                                     "continuation blocks)");
        if (truncated)
            report_.error(where(), "its count of " + std::to_string(count) + " bytes runs past the end of the file (" +
                                     std::to_string(left) + " bytes follow)");
        const bool soft = group == 's' && terminator == 'W' && (param == ')' || param == '(');
        if (soft && param == ')') {
            fontHeader(start, end, taken, truncated);
        } else if (soft) {
            download(start, end, taken, truncated);
        } else {
            endCharacter();
            report_.error(where(), "not a soft font command (its " + std::to_string(taken) +
                                     " bytes of data are skipped); a printer runs it as page content");
        }
        if (truncated)
            stop = true;
        return end + taken;
    }

    endCharacter();
    const char* fractionNote = "; a printer drops its fraction";
    if (param == '*' && group == 'c' && terminator == 'D') {
        if (value.negative || value.whole >= kFontIds)
            report_.warning(where(), "font ID " + std::to_string(value.signedValue()) +
                                       " is outside 0 to 32767; a printer ignores it and keeps ID " +
                                       std::to_string(fontId_));
        else
            fontId_ = static_cast<int>(value.whole);
        if (value.fraction)
            report_.warning(where(), std::string("a fractional font ID") + fractionNote);
    } else if (param == '*' && group == 'c' && terminator == 'E') {
        if (value.negative || value.whole > 65535) {
            report_.error(where(), "character code " + std::to_string(value.signedValue()) +
                                     " is outside 0 to 65535; a printer ignores it, and the next character "
                                     "replaces code " + std::to_string(code_));
        } else {
            code_ = static_cast<int>(value.whole);
            codeSet_ = true;
        }
        if (value.fraction)
            report_.warning(where(), std::string("a fractional character code") + fractionNote);
    } else if (param == '*' && group == 'c' && terminator == 'F') {
        fontControl(start, value.signedValue());
    } else if ((param == '(' || param == ')') && group == 0) {
        // Font selection by ID (#X), the default font (@) and symbol sets (8U, 19U, ...): a file
        // that downloads a font may select it too.
    } else if ((param == '(' || param == ')') && group == 's' && std::strchr("PHVSBT", terminator)) {
        // Selection by characteristics: spacing, pitch, height, style, weight, typeface.
    } else if (param == '%' && group == 0 && terminator == 'X' && value.signedValue() == -12345) {
        afterUel_ = true;
    } else {
        report_.error(where(), "not a soft font command; a printer runs it as page content");
    }
    return end;
}

void PclChecker::reset(size_t at)
{
    // A reset deletes the temporary soft fonts; a font made permanent (ESC *c5F) survives it.
    size_t firstAt = 0;
    const size_t lost = deleteFonts(temporaryIds_, true, firstAt);
    if (lost)
        report_.warning("ESC E (" + byteAt(at) + ")",
                        "the reset deletes the " + std::to_string(lost) + " temporary font" + (lost == 1 ? "" : "s") +
                            " downloaded before it (the first at " + byteAt(firstAt) +
                            "); ESC *c5F before it would keep them");
}

void PclChecker::fontControl(size_t at, int64_t value)
{
    auto where = [&] { return "ESC *c" + std::to_string(value) + "F (" + byteAt(at) + ")"; };
    Font* font = currentFont();
    switch (value) {
    case 0:
    case 1: {
        size_t firstAt = 0;
        const size_t deleted = deleteFonts(value == 0 ? liveIds_ : temporaryIds_, value == 1, firstAt);
        if (value == 0)
            temporaryIds_.clear();
        if (deleted)
            report_.warning(where(), std::string("deletes every ") + (value == 0 ? "" : "temporary ") +
                                       "soft font, and so the " + std::to_string(deleted) + " downloaded before it");
        break;
    }
    case 2:
        if (font) {
            report_.warning(where(), "deletes font ID " + std::to_string(fontId_) + ", downloaded at " +
                                       byteAt(font->headerAt));
            fontOfId_.erase(fontId_);
        }
        break;
    case 3:
        if (font && code_ < 256 && font->defined.test(static_cast<size_t>(code_))) {
            report_.warning(where(), "deletes character " + std::to_string(code_) + " of font ID " +
                                       std::to_string(fontId_));
            font->defined.reset(static_cast<size_t>(code_));
        }
        break;
    case 4:
        if (font) {
            font->permanent = false;
            temporaryIds_.push_back(fontId_);
        }
        break;
    case 5:
        if (font)
            font->permanent = true;
        break;
    case 6:
        break;
    default:
        report_.warning(where(), "font control " + std::to_string(value) + " is none of 0 to 6; a printer ignores it");
        break;
    }
}

size_t PclChecker::deleteFonts(std::vector<int>& ids, bool temporaryOnly, size_t& firstAt)
{
    size_t deleted = 0;
    for (int id : ids) {
        const auto it = fontOfId_.find(id);
        if (it == fontOfId_.end() || (temporaryOnly && fonts_[it->second].permanent))
            continue;
        const size_t headerAt = fonts_[it->second].headerAt;
        if (deleted++ == 0 || headerAt < firstAt)
            firstAt = headerAt;
        fontOfId_.erase(it);
    }
    ids.clear();
    return deleted;
}

std::string PclChecker::charWhere(int code, size_t at, const char* field, size_t fieldAt) const
{
    std::string where = "character " + std::to_string(code);
    if (code > 0x20 && code < 0x7F && code != '\'') {
        where += " '";
        where += static_cast<char>(code);
        where += '\'';
    }
    if (field)
        return where + ", " + field + " (" + byteAt(fieldAt) + ")";
    return where + " (" + byteAt(at) + ")";
}

void PclChecker::fontHeader(size_t at, size_t dataAt, size_t count, bool truncated)
{
    endCharacter();
    Font font;
    font.headerAt = at;
    const auto previous = fontOfId_.find(fontId_);
    if (previous != fontOfId_.end())
        report_.warning(headerWhere(at), "font ID " + std::to_string(fontId_) + " already holds the font downloaded at " +
                                             byteAt(fonts_[previous->second].headerAt) +
                                             "; a printer replaces that font with this one");
    // Every way out below adds the font, as the next one.
    fontOfId_[fontId_] = fonts_.size();
    liveIds_.push_back(fontId_);
    temporaryIds_.push_back(fontId_);

    ByteReader r(bytes_.subspan(dataAt, count));
    HeaderFields h;
    if (readHeaderSize(r, font, h, at, dataAt, count, truncated)) {
        readHeaderFields(r, font, h);
        checkHeaderFields(font, h, dataAt);
        nameFont(font, h, dataAt, count);
        font.usable = h.usable && font.read;
    }
    fonts_.push_back(std::move(font));
}

bool PclChecker::readHeaderSize(ByteReader& r, Font& font, HeaderFields& h, size_t at, size_t dataAt, size_t count,
                                bool truncated)
{
    if (count < 3) {
        if (!truncated)
            report_.error(headerWhere(at), "carries " + std::to_string(count) + " bytes; a bitmap font header has at least 64");
        return false;
    }
    h.descriptorSize = r.be16("Font Descriptor Size");
    font.format = static_cast<int>(r.u8("Header Format"));
    switch (font.format) {
    case 0:
    case 20:
        break;
    case 10:
    case 11:
    case 15:
    case 16:
        report_.error(headerField("Header Format", dataAt + 2),
                      "format " + std::to_string(font.format) + " is a scalable font (" +
                          (font.format == 15 || font.format == 16 ? "TrueType" : "Intellifont") +
                          "), not a bitmap soft font (formats 0 and 20)");
        return false;
    default:
        report_.error(headerField("Header Format", dataAt + 2), "format " + std::to_string(font.format) +
                                                                    " is no font header format; a bitmap font has 0 or 20");
        return false;
    }
    const size_t needed = font.format == 20 ? 68 : 64;
    if (h.descriptorSize < needed) {
        report_.error(headerField("Font Descriptor Size", dataAt),
                      "is " + std::to_string(h.descriptorSize) + "; a format " + std::to_string(font.format) +
                          " header has at least " + std::to_string(needed) + " bytes, and a printer refuses it");
        h.usable = false;
    }
    if (count < h.descriptorSize && !truncated) {
        report_.error(headerWhere(at), "its count of " + std::to_string(count) + " bytes does not cover the " +
                                           std::to_string(h.descriptorSize) + "-byte descriptor it declares");
        h.usable = false;
    }
    if (count < needed) {
        if (!truncated && count >= h.descriptorSize)
            report_.error(headerWhere(at), "carries " + std::to_string(count) + " bytes; a format " +
                                               std::to_string(font.format) + " header has at least " +
                                               std::to_string(needed));
        return false;
    }
    return true;
}

void PclChecker::readHeaderFields(ByteReader& r, Font& font, HeaderFields& h)
{
    font.type = static_cast<int>(r.u8("Font Type"));
    const uint32_t styleMsb = r.u8("Style MSB");
    r.u8("Reserved");
    font.baseline = static_cast<int>(r.be16("Baseline Position"));
    font.cellWidth = static_cast<int>(r.be16("Cell Width"));
    font.cellHeight = static_cast<int>(r.be16("Cell Height"));
    font.orientation = static_cast<int>(r.u8("Orientation"));
    font.spacing = static_cast<int>(r.u8("Spacing"));
    font.symbolSet = static_cast<int>(r.be16("Symbol Set"));
    font.pitch = static_cast<int>(r.be16("Pitch"));
    font.height = static_cast<int>(r.be16("Height"));
    r.be16("xHeight");
    h.widthType = r.s8("Width Type");
    const uint32_t styleLsb = r.u8("Style LSB");
    h.style = styleMsb << 8 | styleLsb;
    h.strokeWeight = r.s8("Stroke Weight");
    r.u8("Typeface LSB");
    r.u8("Typeface MSB");
    r.u8("Serif Style");
    r.u8("Quality");
    r.s8("Placement");
    r.s8("Underline Distance");
    r.u8("Underline Height");
    r.be16("Text Height");
    r.be16("Text Width");
    font.firstCode = static_cast<int>(r.be16("First Code"));
    font.lastCode = static_cast<int>(r.be16("Last Code"));
    r.u8("Pitch Extended");
    r.u8("Height Extended");
    r.be16("Cap Height");
    r.be32("Font Number");
    h.name = r.bytes("Font Name", 16);
    if (font.format == 20) {
        font.xResolution = static_cast<int>(r.be16("X Resolution"));
        font.yResolution = static_cast<int>(r.be16("Y Resolution"));
    }
    font.read = r.ok();
}

void PclChecker::checkHeaderFields(Font& font, HeaderFields& h, size_t dataAt)
{
    auto field = [&](const char* name, size_t offset) { return headerField(name, dataAt + offset); };
    if (font.type > 2) {
        report_.error(field("Font Type", 3),
                      "is " + std::to_string(font.type) + "; a bitmap font is of type 0 (7-bit), 1 (8-bit, 192 "
                      "codes) or 2 (8-bit, 256 codes)" + (font.type == 3 ? ", type 3 needing a format 16 header" : ""));
        h.usable = false;
    }
    if (font.orientation > 3) {
        report_.error(field("Orientation", 12), "is " + std::to_string(font.orientation) +
                                                    "; 0 to 3 (portrait, landscape, reverse portrait, reverse "
                                                    "landscape)");
        h.usable = false;
    }
    if (font.spacing > 1) {
        report_.error(field("Spacing", 13),
                      "is " + std::to_string(font.spacing) + "; 0 (fixed) or 1 (proportional)");
        h.usable = false;
    }
    if (font.cellWidth == 0) {
        report_.error(field("Cell Width", 8), "is 0; a cell is 1 to 65535 dots wide");
        h.usable = false;
    }
    if (font.cellHeight == 0) {
        report_.error(field("Cell Height", 10), "is 0; a cell is 1 to 65535 dots high");
        h.usable = false;
    }
    if (font.format == 20 && (font.xResolution == 0 || font.yResolution == 0)) {
        report_.error(field(font.xResolution == 0 ? "X Resolution" : "Y Resolution", font.xResolution == 0 ? 64 : 66),
                      "is 0 dots per inch");
        h.usable = false;
        font.xResolution = font.xResolution ? font.xResolution : kDefaultResolution;
        font.yResolution = font.yResolution ? font.yResolution : kDefaultResolution;
    } else if (font.xResolution != font.yResolution) {
        report_.warning(field("X Resolution", 64), std::to_string(font.xResolution) + " x " +
                                                       std::to_string(font.yResolution) +
                                                       " dpi; printers take bitmap fonts of equal resolutions");
    }
    if (font.cellHeight != 0 && font.baseline > font.cellHeight)
        report_.warning(field("Baseline Position", 6),
                        "is " + std::to_string(font.baseline) + " dots from the cell's top, below the cell (" +
                            std::to_string(font.cellHeight) + " dots high)");
    const int letter = font.symbolSet % 32;
    if (letter == 0 || letter == 31)
        report_.warning(field("Symbol Set", 14), "is " + std::to_string(font.symbolSet) +
                                                     ", whose letter part (" + std::to_string(letter) +
                                                     " + 64) is no symbol set letter A to ^");
    if (font.pitch == 0) {
        if (font.spacing == 0)
            report_.error(field("Pitch", 16), "is 0 in a fixed-pitch font; a printer advances every character "
                                              "by the pitch");
        else if (font.spacing == 1)
            report_.warning(field("Pitch", 16), "is 0; a proportional font's pitch is the default advance, "
                                                "which a printer uses for the codes it does not download (the "
                                                "space)");
    }
    if (font.height == 0)
        report_.warning(field("Height", 18), "is 0; a printer cannot select the font by point size");
    const uint32_t style = h.style;
    if ((style >> 10) != 0 || (style & 3) == 3 || ((style >> 2) & 7) == 5 ||
        ((style >> 5) >= 18 && (style >> 5) <= 30))
        report_.warning(field("Style MSB", 4), "style word " + std::to_string(style) +
                                                   " has a reserved posture, width, structure or bit");
    if (h.widthType < -5 || h.widthType > 5)
        report_.warning(field("Width Type", 22), "is " + std::to_string(h.widthType) + "; -5 to 5");
    if (h.strokeWeight < -7 || h.strokeWeight > 7)
        report_.warning(field("Stroke Weight", 24), "is " + std::to_string(h.strokeWeight) + "; -7 to 7");
    if (font.firstCode > font.lastCode && font.lastCode != 0)
        report_.warning(field("First Code", 36), "first code " + std::to_string(font.firstCode) +
                                                     " is past last code " + std::to_string(font.lastCode));
}

void PclChecker::nameFont(Font& font, const HeaderFields& h, size_t dataAt, size_t count)
{
    // The name: the Font Name field, else the text after the descriptor (a copyright line).
    bool oddName = false;
    for (uint8_t c : h.name) {
        if (c == 0)
            break;
        oddName = oddName || !isText(c);
        font.name += isText(c) ? static_cast<char>(c) : '?';
    }
    if (oddName)
        report_.warning(headerField("Font Name", dataAt + 48), "holds bytes that are not printable ASCII");
    while (!font.name.empty() && font.name.back() == ' ')
        font.name.pop_back();
    while (!font.name.empty() && font.name.front() == ' ')
        font.name.erase(0, 1);
    if (font.name.empty() && h.descriptorSize < count) {
        for (size_t i = dataAt + h.descriptorSize; i < dataAt + count && font.name.size() < 60; ++i) {
            const uint8_t c = bytes_[i];
            if (c == 0 || c == '\r' || c == '\n')
                break;
            if (isText(c) && !(c == ' ' && font.name.empty()))
                font.name += static_cast<char>(c);
        }
        while (!font.name.empty() && font.name.back() == ' ')
            font.name.pop_back();
    }
}

void PclChecker::download(size_t at, size_t dataAt, size_t count, bool truncated)
{
    if (count >= 2 && bytes_[dataAt + 1] != 0) {
        // A continuation block: more raster for the character before it.
        if (!char_.active) {
            report_.error("continuation block (" + byteAt(at) + ")",
                          "no character download comes before it; a printer discards it");
            return;
        }
        if (bytes_[dataAt] != 4)
            report_.warning("continuation block (" + byteAt(at) + ")",
                            "its format byte is " + std::to_string(bytes_[dataAt]) + "; a bitmap character's is 4");
        feed(bytes_.data() + dataAt + 2, count - 2);
        if (truncated)
            char_.truncated = true;
        return;
    }
    endCharacter();
    beginCharacter(at, dataAt, count, truncated);
}

void PclChecker::beginCharacter(size_t at, size_t dataAt, size_t count, bool truncated)
{
    const int code = codeSet_ ? code_ : 0;
    if (Font* font = currentFont())
        ++font->characters;
    if (!codeSet_)
        report_.error(charWhere(code, at), "no ESC *c#E gives its character code; a printer puts it at code 0");
    if (count < kCharDescriptor) {
        if (!truncated)
            report_.error(charWhere(code, at), "carries " + std::to_string(count) + " bytes; a bitmap character's descriptor "
                                             "alone takes 16");
        return;
    }
    // From here on continuation blocks belong to this character, even when it is refused.
    char_ = Character{};
    char_.active = true;
    char_.at = at;
    char_.code = code;
    char_.truncated = truncated;

    ByteReader r(bytes_.subspan(dataAt, count));
    CharDescriptor d;
    d.format = r.u8("Format");
    r.u8("Continuation");
    d.descriptorSize = r.u8("Descriptor Size");
    d.charClass = r.u8("Class");
    d.orientation = r.u8("Orientation");
    r.u8("Reserved");
    d.left = r.sbe16("Left Offset");
    d.top = r.sbe16("Top Offset");
    d.width = static_cast<int>(r.be16("Character Width"));
    d.height = static_cast<int>(r.be16("Character Height"));
    d.deltaX = r.sbe16("Delta X");
    if (!descriptorReadable(d, code, at, dataAt, count, truncated))
        return;
    const size_t rasterAt = 2 + d.descriptorSize;
    const bool sound = characterSizeSound(d, code, at, dataAt);

    // The font it goes into. A printer keeps the character only when the font exists, the code
    // is one its type holds and the orientation is the font's.
    Font* font = currentFont();
    const bool kept = keepCharacter(font, d, code, at, sound && codeSet_);
    if (kept && font->usable)
        compareWithFont(*font, d, code, at);

    if (!sound)
        return;
    char_.checkable = true;
    char_.charClass = static_cast<int>(d.charClass);
    char_.width = d.width;
    char_.height = d.height;
    char_.expected = static_cast<uint64_t>((d.width + 7) / 8) * static_cast<uint64_t>(d.height);
    feed(bytes_.data() + dataAt + rasterAt, count - rasterAt);
}

bool PclChecker::descriptorReadable(const CharDescriptor& d, int code, size_t at, size_t dataAt, size_t count, bool truncated)
{
    auto field = [&](const char* name, size_t offset) { return charWhere(code, at, name, dataAt + offset); };
    if (d.format != 4) {
        report_.error(field("Format", 0), "is " + std::to_string(d.format) +
                                              (d.format == 10 || d.format == 15 ? ", a scalable character's" : "") +
                                              "; a bitmap character's is 4");
        return false;
    }
    if (d.descriptorSize < 14) {
        report_.error(field("Descriptor Size", 2),
                      "is " + std::to_string(d.descriptorSize) + "; a bitmap character's descriptor has 14 bytes");
        return false;
    }
    const size_t rasterAt = 2 + d.descriptorSize;
    if (d.descriptorSize > 14) {
        report_.warning(field("Descriptor Size", 2), "is " + std::to_string(d.descriptorSize) +
                                                          "; a bitmap character's descriptor has 14 bytes, and "
                                                          "printers skip the rest");
        if (rasterAt > count) {
            if (!truncated)
                report_.error(charWhere(code, at), "its descriptor of " + std::to_string(d.descriptorSize) +
                                                       " bytes runs past its count of " + std::to_string(count));
            return false;
        }
    }
    if (d.charClass != 1 && d.charClass != 2) {
        report_.error(field("Class", 3), "is " + std::to_string(d.charClass) +
                                             "; a bitmap character is of class 1 (raster) or 2 (compressed raster)");
        return false;
    }
    return true;
}

bool PclChecker::characterSizeSound(const CharDescriptor& d, int code, size_t at, size_t dataAt)
{
    auto field = [&](const char* name, size_t offset) { return charWhere(code, at, name, dataAt + offset); };
    bool sound = true;
    if (d.width < 1 || d.width > kMaxCharSide) {
        report_.error(field("Character Width", 10),
                      "is " + std::to_string(d.width) + " dots; 1 to " + std::to_string(kMaxCharSide));
        sound = false;
    }
    if (d.height < 1 || d.height > kMaxCharSide) {
        report_.error(field("Character Height", 12),
                      "is " + std::to_string(d.height) + " dots; 1 to " + std::to_string(kMaxCharSide));
        sound = false;
    }
    if (d.left < -kMaxCharSide || d.left > kMaxCharSide)
        report_.error(field("Left Offset", 6), "is " + std::to_string(d.left) + " dots; -16384 to 16384");
    if (d.top < -kMaxCharSide || d.top > kMaxCharSide)
        report_.error(field("Top Offset", 8), "is " + std::to_string(d.top) + " dots; -16384 to 16384");
    return sound;
}

bool PclChecker::keepCharacter(Font* font, const CharDescriptor& d, int code, size_t at, bool kept)
{
    if (!font) {
        kept = false;
        if (orphans_++ == 0) {
            orphanAt_ = at;
            orphanId_ = fontId_;
            orphanCode_ = code;
        }
    } else if (font->read && font->orientation <= 3 && static_cast<int>(d.orientation) != font->orientation) {
        kept = false;
        if (font->misturned++ == 0) {
            font->misturnedCode = code;
            font->misturnedAt = at;
            font->misturnedOrientation = static_cast<int>(d.orientation);
        }
    }

    // The codes a font type prints: 7-bit fonts 32 to 127, 8-bit ones 32 to 127 and 160 to 255,
    // the 256-code type all but a few control codes.
    if (codeSet_ && code > 255) {
        kept = false;
        report_.error(charWhere(code, at), "code " + std::to_string(code) + " is past 255, the last of a bitmap font");
    } else if (codeSet_ && font && font->read && font->type <= 2) {
        const bool inType = font->type == 0   ? (code >= 32 && code <= 127)
                            : font->type == 1 ? ((code >= 32 && code <= 127) || (code >= 160 && code <= 255))
                                              : true;
        if (!inType) {
            kept = false;
            if (font->outsideType++ == 0) {
                font->outsideTypeCode = code;
                font->outsideTypeAt = at;
            }
        } else if (font->type == 2 && (code == 0 || (code >= 7 && code <= 15) || code == 27)) {
            report_.warning(charWhere(code, at), "code " + std::to_string(code) + " is a control code; a printer prints it "
                                               "only through transparent print data");
        }
    }
    if (kept) {
        if (font->defined.test(static_cast<size_t>(code)))
            report_.warning(charWhere(code, at), "code " + std::to_string(code) + " is downloaded again; the printer keeps "
                                               "this one");
        font->defined.set(static_cast<size_t>(code));
    }
    return kept;
}

void PclChecker::compareWithFont(Font& font, const CharDescriptor& d, int code, size_t at)
{
    if (font.lastCode != 0 && (code < font.firstCode || code > font.lastCode) && font.outsideRange++ == 0) {
        font.outsideRangeCode = code;
        font.outsideRangeAt = at;
    }
    if (font.spacing == 0 && font.pitch != 0 && d.deltaX != font.pitch && font.offPitch++ == 0) {
        font.offPitchCode = code;
        font.offPitchAt = at;
        font.offPitchDelta = d.deltaX;
    }
    // The character's ink against the cell, seen upright: a landscape character is stored turned a
    // quarter to the left, its left offset the upright top negated.
    if (font.orientation > 1)
        return;
    const bool portrait = font.orientation == 0;
    const int upTop = portrait ? d.top : -d.left;
    const int upHeight = portrait ? d.height : d.width;
    const int upWidth = portrait ? d.width : d.height;
    std::string how;
    if (upTop > font.baseline)
        how = counted(upTop - font.baseline, "dot") + " above its top";
    else if (upHeight - upTop > font.cellHeight - font.baseline)
        how = counted(upHeight - upTop - (font.cellHeight - font.baseline), "dot") + " below its bottom";
    else if (upWidth > font.cellWidth)
        how = counted(upWidth, "dot") + " wide, the cell " + std::to_string(font.cellWidth);
    if (!how.empty() && font.outsideCell++ == 0) {
        font.outsideCode = code;
        font.outsideAt = at;
        font.outsideHow = std::move(how);
    }
}

// Raster bytes of the current character, from its first block or a continuation.
void PclChecker::feed(const uint8_t* data, size_t size)
{
    Character& c = char_;
    if (!c.checkable || c.broken)
        return;
    if (c.charClass == 1) {
        c.received += size;
        return;
    }
    // Class 2: per row a repeat count, then runs of white and black dots, alternately, up to the
    // width; a row ends when its runs reach the width exactly.
    for (size_t i = 0; i < size; ++i) {
        if (c.rows >= static_cast<uint64_t>(c.height)) {
            c.extra += size - i;
            return;
        }
        const uint8_t b = data[i];
        if (c.wantRepeat) {
            c.repeat = b;
            c.rowDots = 0;
            c.wantRepeat = false;
            continue;
        }
        c.rowDots += b;
        if (c.rowDots > static_cast<uint32_t>(c.width)) {
            report_.error(charWhere(c.code, c.at), "compressed row " + std::to_string(c.rows) +
                                                       " has runs of " + std::to_string(c.rowDots) +
                                                       " dots or more, past its width of " +
                                                       std::to_string(c.width));
            c.broken = true;
            return;
        }
        if (c.rowDots == static_cast<uint32_t>(c.width)) {
            c.rows += 1 + c.repeat;
            c.wantRepeat = true;
            if (c.rows > static_cast<uint64_t>(c.height)) {
                report_.error(charWhere(c.code, c.at), "its compressed rows, with their repeats, make " +
                                                           std::to_string(c.rows) + " rows; its height is " +
                                                           std::to_string(c.height));
                c.broken = true;
                return;
            }
        }
    }
}

void PclChecker::endCharacter()
{
    Character& c = char_;
    if (!c.active)
        return;
    c.active = false;
    if (!c.checkable || c.truncated || c.broken)
        return;
    auto where = [&] { return charWhere(c.code, c.at); };
    auto size = [&] { return std::to_string(c.width) + " x " + std::to_string(c.height) + " dots"; };
    if (c.charClass == 1) {
        if (c.received < c.expected)
            report_.error(where(), "holds " + std::to_string(c.received) + " bytes of raster; " + size() + " need " +
                                     std::to_string(c.expected) + " (" + std::to_string((c.width + 7) / 8) +
                                     " a row), and a printer prints only what came");
        else if (c.received > c.expected)
            report_.warning(where(), "holds " + std::to_string(c.received) + " bytes of raster; " + size() +
                                       " need " + std::to_string(c.expected) + ", and a printer discards the rest");
        return;
    }
    if (c.rows < static_cast<uint64_t>(c.height))
        report_.error(where(), "its compressed rows end " + std::string(c.wantRepeat ? "after " : "inside ") +
                                 "row " + std::to_string(c.rows) + (c.wantRepeat ? "" : " (its runs reach " +
                                 std::to_string(c.rowDots) + " of " + std::to_string(c.width) + " dots)") +
                                 "; its height is " + std::to_string(c.height) + " rows");
    else if (c.extra)
        report_.warning(where(), std::to_string(c.extra) + " bytes follow its last compressed row; a printer "
                                                         "discards them");
}

void PclChecker::finish()
{
    if (orphans_)
        report_.error(charWhere(orphanCode_, orphanAt_),
                      "font ID " + std::to_string(orphanId_) + " has no font header before it, so a printer "
                      "discards this character" + (orphans_ > 1 ? " and " + std::to_string(orphans_ - 1) +
                      " more sent to a font ID with no header" : ""));
    if (fonts_.empty()) {
        report_.format = "PCL soft font";
        report_.error(byteAt(0), "no font header (ESC )s#W) anywhere: not a soft font");
        return;
    }
    // The orientation of the first font a printer could read names the file's.
    report_.format = "PCL soft font";
    for (const Font& font : fonts_) {
        if (font.read && font.orientation <= 3) {
            report_.format += " (" + orientationName(font.orientation) + ")";
            break;
        }
    }
    size_t glyphs = 0;
    for (const Font& font : fonts_) {
        glyphs += font.defined.count();
        if (!font.read)
            continue;
        const double points = font.height / 4.0 * 72.0 / font.yResolution;
        report_.fonts.push_back((font.name.empty() ? std::string("(no name)") : font.name) + ", " +
                                pointSize(points) + " pt (" + std::to_string(font.xResolution) + " x " +
                                std::to_string(font.yResolution) + " dpi), symbol set " +
                                symbolSetName(font.symbolSet));
        if (font.characters == 0)
            report_.warning("font header (" + byteAt(font.headerAt) + ")", "no character follows it");
        if (font.misturned)
            report_.error(charWhere(font.misturnedCode, font.misturnedAt),
                          "its orientation, " + orientationName(font.misturnedOrientation) + ", is not its font's (" +
                              orientationName(font.orientation) + ", " + byteAt(font.headerAt) +
                              "); a printer discards the character" + andMore(font.misturned));
        if (font.outsideType)
            report_.error(charWhere(font.outsideTypeCode, font.outsideTypeAt),
                          "code " + std::to_string(font.outsideTypeCode) + " is outside the codes of its type " +
                              std::to_string(font.type) + " font (" +
                              (font.type == 0 ? "32 to 127" : "32 to 127 and 160 to 255") + ", " +
                              byteAt(font.headerAt) + "); a printer never prints it" + andMore(font.outsideType));
        if (font.outsideCell)
            report_.warning(charWhere(font.outsideCode, font.outsideAt),
                            "reaches outside the cell of its font header (" + byteAt(font.headerAt) + "), " +
                                font.outsideHow + andMore(font.outsideCell));
        if (font.offPitch)
            report_.warning(charWhere(font.offPitchCode, font.offPitchAt),
                            "advances " + std::to_string(font.offPitchDelta) +
                                " quarter-dots, but its fixed-pitch font (" + byteAt(font.headerAt) +
                                ") has a pitch of " + std::to_string(font.pitch) +
                                ", which a printer uses instead" + andMore(font.offPitch));
        if (font.outsideRange)
            report_.warning(charWhere(font.outsideRangeCode, font.outsideRangeAt),
                            "lies outside the first and last codes (" + std::to_string(font.firstCode) + " to " +
                                std::to_string(font.lastCode) + ") of its font header (" +
                                byteAt(font.headerAt) + ")" + andMore(font.outsideRange));
    }
    report_.glyphs = glyphs;
}

}  // namespace

void checkPcl(std::span<const uint8_t> bytes, CheckReport& report)
{
    PclChecker(bytes, report).run();
}

}  // namespace qf

// Checks a BDF text font the way its two main readers take it: FreeType's BDF driver (fontconfig,
// Pango and every FreeType application) and the X server's reader in libXfont, which bdftopcf
// also uses. The X server is the stricter of the two: it wants the header keywords in their order,
// the exact number of properties, FONT_ASCENT and FONT_DESCENT, and every glyph as STARTCHAR,
// ENCODING, SWIDTH, DWIDTH, BBX, BITMAP, rows, ENDCHAR. FreeType refuses keywords it does not know
// and, since 2.14, ends a line at any control byte (and, where char is signed, at any byte above
// 0x7F). What either of them refuses or reads wrongly is an error; what both read as meant but
// that contradicts itself (AVERAGE_WIDTH, SWIDTH, PIXEL_SIZE, the bounding box) is a warning.
//
// The text is read once, line by line, without copying it: a Unicode font's BDF runs to tens of
// megabytes and this runs on every one the program writes. Nothing is allocated by a count the
// file gives; the only table is a fixed bit per Unicode code point for repeated encodings.
#include "formats/FileCheck.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

namespace {

using std::string_view;

// libXfont reads a line into a buffer of 1024 bytes and takes the rest of a longer one as the
// next line.
constexpr size_t kXLineLimit = 1023;
// FreeType keeps a glyph's bitmap in at most 65535 bytes, and each row in as many.
constexpr int64_t kFreeTypeBitmapLimit = 0xFFFF;
constexpr int64_t kUnicodeEnd = 0x110000;
// Problems many glyphs can share are shown this many times, then counted.
constexpr size_t kShownErrors = 5;

constexpr std::array<int8_t, 256> makeHexDigits()
{
    std::array<int8_t, 256> digits{};
    for (size_t i = 0; i < digits.size(); ++i)
        digits[i] = -1;
    for (int c = '0'; c <= '9'; ++c)
        digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        digits[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
    return digits;
}
constexpr std::array<int8_t, 256> kHexDigit = makeHexDigits();

inline int hexDigit(char c) { return kHexDigit[static_cast<uint8_t>(c)]; }

// Blanks between words: the X server reads numbers with scanf, which passes over any white space
// (a CR inside a line is dropped by it before).
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// A byte FreeType 2.14 and later end a line at: a control character, or a byte above 0x7F where
// char is signed (x86).
bool endsFreeTypeLine(char c)
{
    const auto b = static_cast<uint8_t>(c);
    return b < 0x20 || b >= 0x80;
}

inline string_view trimRight(string_view s)
{
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

string_view trimLeft(string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

// The line opens with the keyword as a whole word.
[[gnu::always_inline]] inline bool isKeyword(string_view line, string_view keyword)
{
    // The first letter first: most lines differ there, and the comparison is a call.
    return line.size() >= keyword.size() && (keyword.empty() || line[0] == keyword[0]) &&
           line.compare(0, keyword.size(), keyword) == 0 &&
           (line.size() == keyword.size() || isBlank(line[keyword.size()]));
}

[[gnu::always_inline]] inline bool startsWith(string_view line, string_view prefix)
{
    return line.size() >= prefix.size() && line.compare(0, prefix.size(), prefix) == 0;
}

bool equalsIgnoringCase(string_view a, string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y))
            return false;
    }
    return true;
}

// The words of a line, split at blanks.
class Words {
public:
    explicit Words(string_view text) : rest_(text) {}
    bool next(string_view& word)
    {
        rest_ = trimLeft(rest_);
        if (rest_.empty())
            return false;
        size_t end = 0;
        while (end < rest_.size() && !isBlank(rest_[end]))
            ++end;
        word = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return true;
    }
    string_view rest() const { return trimLeft(rest_); }

private:
    string_view rest_;
};

// A whole number as both readers take one: an optional minus and decimal digits (FreeType reads a
// plus sign as the end of the number). Values past 32 bits fail: the X server reads them with %d.
enum class Number { Ok, NotNumber, TooBig };

Number parseInteger(string_view text, int64_t& value)
{
    value = 0;
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        i = 1;
    if (i == text.size())
        return Number::NotNumber;
    int64_t v = 0;
    bool tooBig = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return Number::NotNumber;
        if (!tooBig) {
            v = v * 10 + (c - '0');
            tooBig = v > INT32_MAX;
        }
    }
    if (tooBig)
        return Number::TooBig;
    value = negative ? -v : v;
    return Number::Ok;
}

// Text of the file fit to quote in a finding: printable ASCII, cut short.
std::string shown(string_view text, size_t limit = 40)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string quote(string_view text, size_t limit = 40)
{
    std::string out(1, '\'');
    out += shown(text, limit);
    out += '\'';
    return out;
}

std::string lineAt(size_t line) { return "line " + std::to_string(line); }

std::string lineAt(size_t line, string_view what)
{
    return what.empty() ? lineAt(line) : lineAt(line) + " (" + std::string(what) + ")";
}

std::string number(int64_t v) { return std::to_string(v); }

// Pixels with up to two decimals, as "4.99" or "16".
std::string pixels(double value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

std::string plural(int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A problem many glyphs or lines can share. Errors are shown for the first few and then counted in
// one more finding; a warning is one finding, its first case with the count of the others.
class Tally {
public:
    Tally(bool error, const char* one, const char* many) : error_(error), one_(one), many_(many) {}

    // Takes one more case; makeWhere and makeText build the finding's strings only when they are
    // shown.
    template <typename Where, typename Text>
    void add(CheckReport& report, Where&& makeWhere, Text&& makeText)
    {
        ++count_;
        if (error_ && count_ <= kShownErrors) {
            report.error(makeWhere(), makeText());
        } else if (error_ ? count_ == kShownErrors + 1 : count_ == 1) {
            where_ = makeWhere();
            text_ = makeText();
        }
    }

    void flush(CheckReport& report)
    {
        if (error_ && count_ > kShownErrors) {
            const auto more = static_cast<int64_t>(count_ - kShownErrors);
            report.error(where_, std::to_string(more) + " more " + (more == 1 ? one_ : many_) +
                                     " from here with the same problem; the first of them: " + text_);
        } else if (!error_ && count_ > 0) {
            std::string text = text_;
            if (count_ > 1)
                text += " (and " + std::to_string(count_ - 1) + " more " + (count_ == 2 ? one_ : many_) + " likewise)";
            report.warning(where_, text);
        }
        count_ = 0;
    }

private:
    bool error_;
    const char* one_;
    const char* many_;
    size_t count_ = 0;
    std::string where_;
    std::string text_;
};

// The properties this reader looks at. The first fourteen are the XLFD name's fields, in order.
enum Prop : size_t {
    kFoundry,
    kFamilyName,
    kWeightName,
    kSlant,
    kSetwidthName,
    kAddStyleName,
    kPixelSize,
    kPointSize,
    kResolutionX,
    kResolutionY,
    kSpacing,
    kAverageWidth,
    kCharsetRegistry,
    kCharsetEncoding,
    kFontAscent,
    kFontDescent,
    kDefaultChar,
    kPropCount
};
constexpr size_t kXlfdFields = 14;

constexpr std::array<string_view, kPropCount> kPropNames = {
    "FOUNDRY",       "FAMILY_NAME",  "WEIGHT_NAME",   "SLANT",         "SETWIDTH_NAME",    "ADD_STYLE_NAME",
    "PIXEL_SIZE",    "POINT_SIZE",   "RESOLUTION_X",  "RESOLUTION_Y",  "SPACING",          "AVERAGE_WIDTH",
    "CHARSET_REGISTRY", "CHARSET_ENCODING", "FONT_ASCENT", "FONT_DESCENT", "DEFAULT_CHAR",
};

bool isNumericProp(size_t p)
{
    return p == kPixelSize || p == kPointSize || p == kResolutionX || p == kResolutionY || p == kAverageWidth ||
           p == kFontAscent || p == kFontDescent || p == kDefaultChar;
}

// The properties FreeType holds as numbers: given a quoted value, it reads them as 0.
bool freeTypeReadsAsNumber(string_view name)
{
    static constexpr string_view kNames[] = {
        "AVERAGE_WIDTH",     "AVG_CAPITAL_WIDTH", "AVG_LOWERCASE_WIDTH", "CAP_HEIGHT",        "DEFAULT_CHAR",
        "DESTINATION",       "END_SPACE",         "FIGURE_WIDTH",        "FONT_ASCENT",       "FONT_DESCENT",
        "ITALIC_ANGLE",      "MAX_SPACE",         "MIN_SPACE",           "NORM_SPACE",        "PIXEL_SIZE",
        "POINT_SIZE",        "QUAD_WIDTH",        "RELATIVE_SETWIDTH",   "RELATIVE_WEIGHT",   "RESOLUTION",
        "RESOLUTION_X",      "RESOLUTION_Y",      "SMALL_CAP_SIZE",      "STRIKEOUT_ASCENT",  "STRIKEOUT_DESCENT",
        "SUBSCRIPT_SIZE",    "SUBSCRIPT_X",       "SUBSCRIPT_Y",         "SUPERSCRIPT_SIZE",  "SUPERSCRIPT_X",
        "SUPERSCRIPT_Y",     "UNDERLINE_POSITION", "UNDERLINE_THICKNESS", "WEIGHT",           "X_HEIGHT",
        "_MULE_BASELINE_OFFSET", "_MULE_RELATIVE_COMPOSE",
    };
    if (startsWith(name, "RAW_"))
        return true;
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// The XLFD name's text fields and the other names X11 defines as strings.
bool xlfdText(string_view name)
{
    static constexpr string_view kNames[] = {
        "FOUNDRY",    "FAMILY_NAME",      "WEIGHT_NAME",      "SLANT",     "SETWIDTH_NAME", "ADD_STYLE_NAME",
        "SPACING",    "CHARSET_REGISTRY", "CHARSET_ENCODING", "FACE_NAME", "FULL_NAME",     "COPYRIGHT",
        "NOTICE",     "FONT",
    };
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

struct Property {
    bool present = false;
    bool isText = false;
    int64_t value = 0;
    std::string text;
    size_t line = 0;
};

// The glyph being read.
enum GlyphStep { kStarted, kEncoding, kSwidth, kDwidth, kBbx, kBitmap };
constexpr const char* kGlyphStepNames[] = {"STARTCHAR", "ENCODING", "SWIDTH", "DWIDTH", "BBX", "BITMAP"};

struct Glyph {
    bool open = false;
    string_view name;
    int step = kStarted;
    bool orderReported = false;
    bool haveSwidth = false, haveDwidth = false, haveBbx = false, inBitmap = false;
    int64_t swidth = 0;
    size_t swidthLine = 0;
    int64_t dwidth = 0;
    int64_t width = 0, height = 0, left = 0, bottom = 0;
    size_t bbxLine = 0;
    int64_t rowsExpected = 0;  // rows of BITMAP to read as rows
    size_t rowDigits = 0;      // hex digits a row of BBX's width takes
    uint8_t spareMask = 0;     // the bits of a row's last byte past the width
    int64_t rows = 0;          // rows read
    int64_t extraRows = 0;     // hexadecimal lines past the rows
    size_t bitmapLine = 0;
    bool rowProblem = false, trailingInk = false, padded = false, commentInRows = false;
};

enum class Section { Start, Header, Properties, Glyphs, Done };

class BdfCheck {
public:
    BdfCheck(std::span<const uint8_t> bytes, CheckReport& report)
        : bytes_(bytes), report_(report)
    {
    }

    void run(const std::function<void(size_t)>& passed = {});

private:
    void line(string_view text, size_t number);
    bool wellFormedRow(string_view text);
    void freeTypeSegments(string_view text);
    void startFont(string_view text);
    void header(string_view text);
    void headerOrder(int step, string_view keyword);
    void fontLine(string_view text);
    void sizeLine(string_view text);
    void boundingBoxLine(string_view text);
    void startProperties(string_view text);
    void endProperties();
    void property(string_view text);
    void charsLine(string_view text);
    void glyphLine(string_view text);
    void startGlyph(string_view text);
    void glyphField(int step, string_view keyword, string_view text);
    // The parts of a glyph's field lines: their order, their numbers (a bad one reported through
    // glyphValues_), and the lines with more to them than a number or two.
    void glyphFieldOrder(int step, string_view keyword);
    void badGlyphValue(const std::string& message);
    bool glyphNumbers(string_view keyword, string_view text, int64_t* values, size_t count, const char* what);
    void dwidthLine(string_view keyword, string_view text);
    void bbxLine(string_view keyword, string_view text);
    void encodingLine(string_view text);
    void bitmapRow(string_view text);
    void endGlyph(bool endchar);
    void endFont();
    void finish();
    // What the end of the file settles: where it ends, the header lines and properties never
    // given, and the findings counted over the whole file.
    void checkEnding();
    void checkHeaderLines();
    void reportFontTallies();

    void checkSizes();
    void checkFontName();
    void checkAverageWidth();
    void checkSpacing();
    void describeFont();

    // Reads count whole numbers after the keyword; false (with the error given) when one is missing
    // or bad.
    bool numbers(string_view text, string_view keyword, int64_t* values, size_t count, const char* what);

    // Where the current line is: "line 17 (AVERAGE_WIDTH)", "line 230 (glyph 'A')". Built only for a
    // finding; the context itself is a view of the file or of a literal.
    std::string here() const { return inGlyph_ ? glyphWhere() : lineAt(lineNumber_, shown(context_, 32)); }
    void context(string_view text)
    {
        inGlyph_ = false;
        context_ = text;
    }
    void glyphContext() { inGlyph_ = true; }
    std::string glyphWhere() const;
    void error(std::string text) { report_.error(here(), std::move(text)); }
    void warning(std::string text) { report_.warning(here(), std::move(text)); }

    const Property& prop(Prop p) const { return props_[p]; }

    std::span<const uint8_t> bytes_;
    CheckReport& report_;

    Section section_ = Section::Start;
    size_t lineNumber_ = 0;
    string_view context_;  // the keyword or property of the current line
    bool inGlyph_ = false;  // or its glyph

    string_view version_;
    // The furthest header line read: STARTFONT 0, FONT 1, SIZE 2, FONTBOUNDINGBOX 3, STARTPROPERTIES 4,
    // ENDPROPERTIES 5, CHARS 6; and the line of each.
    int headerStep_ = 0;
    bool orderReported_ = false;
    std::array<size_t, 7> headerLines_{};

    string_view fontName_;
    int64_t pointDeci_ = 0, resolutionX_ = 0, resolutionY_ = 0;  // SIZE, the point size in tenths
    bool haveSize_ = false;
    int64_t bitsPerPixel_ = 1;
    bool haveBox_ = false;
    int64_t boxWidth_ = 0, boxHeight_ = 0, boxLeft_ = 0, boxBottom_ = 0;

    int64_t propertiesDeclared_ = -1;
    int64_t propertiesRead_ = 0;
    std::array<Property, kPropCount> props_;

    int64_t charsDeclared_ = -1;
    Glyph glyph_;
    size_t glyphs_ = 0;
    int64_t advanceSum_ = 0;  // of the glyphs' absolute advances
    int64_t minAdvance_ = INT64_MAX, maxAdvance_ = INT64_MIN;
    std::vector<uint64_t> encoded_;  // one bit per code point a glyph has taken, made at the first
    bool endFontSeen_ = false;

    // Glyphs outside FONTBOUNDINGBOX, and the box that holds them all.
    size_t outsideBox_ = 0;
    size_t firstOutsideLine_ = 0;
    std::string firstOutsideName_;
    int64_t inkLeft_ = 0, inkRight_ = 0, inkBottom_ = 0, inkTop_ = 0;
    bool anyInk_ = false;

    size_t highEncodings_ = 0, beyondUnicode_ = 0;
    size_t largeGlyphs_ = 0;
    std::string firstLargeWhere_, firstLargeText_;
    std::string firstHighWhere_;
    int64_t firstHighEncoding_ = 0;

    Tally longLines_{true, "line", "lines"};
    Tally cutLines_{true, "line", "lines"};
    Tally cutValues_{false, "property", "properties"};
    Tally blankOpenings_{true, "line", "lines"};
    Tally glyphOrder_{true, "glyph", "glyphs"};
    Tally rowCounts_{true, "glyph", "glyphs"};
    Tally badRows_{true, "glyph", "glyphs"};
    Tally glyphValues_{true, "glyph line", "glyph lines"};
    Tally unknownGlyphLines_{true, "line", "lines"};
    Tally trailingInk_{false, "glyph", "glyphs"};
    Tally paddedRows_{false, "glyph", "glyphs"};
    Tally duplicates_{false, "glyph", "glyphs"};
    Tally swidths_{false, "glyph", "glyphs"};
    Tally negativeAdvances_{false, "glyph", "glyphs"};
    Tally outsideCells_{false, "glyph", "glyphs"};
};

std::string BdfCheck::glyphWhere() const
{
    return lineAt(lineNumber_, "glyph " + quote(glyph_.name));
}

void BdfCheck::run(const std::function<void(size_t)>& passed)
{
    constexpr size_t kTellEvery = size_t{4} << 20;
    size_t told = 0;
    const auto* data = reinterpret_cast<const char*>(bytes_.data());
    const size_t size = bytes_.size();
    // A file whose lines end in CR alone: FreeType reads it, the X server drops every CR and sees
    // one long line.
    char separator = '\n';
    // (An empty file has no data pointer to search at all.)
    if (size > 0 && !std::memchr(data, '\n', size) && std::memchr(data, '\r', size)) {
        report_.error(lineAt(1), "the lines end in CR alone; the X server and bdftopcf take only LF or CR LF "
                                 "as a line end and read the file as one line");
        separator = '\r';
    }
    size_t position = 0;
    size_t number = 0;
    while (position < size && section_ != Section::Done) {
        if (passed && position - told >= kTellEvery)
            passed(told = position);
        const char* start = data + position;
        const auto* end = static_cast<const char*>(std::memchr(start, separator, size - position));
        const size_t length = end ? static_cast<size_t>(end - start) : size - position;
        position += length + (end ? 1 : 0);
        ++number;
        string_view text(start, length);
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        // Both readers drop a last line that has no line end.
        if (!end && !trimRight(text).empty())
            report_.error(lineAt(number), "the last line, " + quote(text, 24) +
                                              ", has no line end; FreeType and the X server never read it");
        if (!wellFormedRow(text))
            line(text, number);
    }
    lineNumber_ = number;
    finish();
}

// Nearly every line of a BDF is a bitmap row: one of the length BBX asks for, all hexadecimal digits
// and no ink past the width needs nothing but counting, and is counted here without the general
// line's work. Anything else, ENDCHAR and COMMENT included (not hexadecimal), goes to line().
bool BdfCheck::wellFormedRow(string_view text)
{
    Glyph& g = glyph_;
    if (!g.inBitmap || g.rows >= g.rowsExpected || text.size() != g.rowDigits)
        return false;
    int all = 0;
    for (const char c : text)
        all |= hexDigit(c);
    if (all < 0)
        return false;
    const int last = hexDigit(text[text.size() - 2]) << 4 | hexDigit(text[text.size() - 1]);
    if ((last & g.spareMask) != 0)
        return false;
    ++g.rows;
    return true;
}

void BdfCheck::line(string_view text, size_t number)
{
    // Both readers pass over empty lines, in the rows of a bitmap too.
    if (text.empty())
        return;
    lineNumber_ = number;

    if (glyph_.open && glyph_.inBitmap && glyph_.rows < glyph_.rowsExpected) {
        // The hot path: of the words that end a bitmap early, only ENDCHAR and ENDFONT open as a
        // row may (with E), and STARTCHAR with S.
        const char c = text[0];
        const bool ends = (c == 'E' && (isKeyword(text, "ENDCHAR") || isKeyword(text, "ENDFONT"))) ||
                          (c == 'S' && isKeyword(text, "STARTCHAR"));
        if (!ends) {
            bitmapRow(text);
            return;
        }
    }

    if (text.size() > kXLineLimit) {
        context(text.substr(0, std::min<size_t>(text.find(' '), 20)));
        longLines_.add(
            report_, [&] { return here(); },
            [&] {
                return "the line has " + std::to_string(text.size()) + " characters; the X server reads at most " +
                       std::to_string(kXLineLimit) + " and takes the rest as the next line";
            });
    }
    freeTypeSegments(text);

    // Comments may stand anywhere outside a bitmap; both readers take any line opening with the word.
    if (startsWith(text, "COMMENT")) {
        if (section_ == Section::Start) {
            context("COMMENT");
            error("a COMMENT before STARTFONT: FreeType 2.14 and later do not take the file for BDF");
        }
        return;
    }
    if (isBlank(text[0]) && section_ != Section::Properties) {
        if (glyph_.open)
            glyphContext();
        else
            context("blank");
        blankOpenings_.add(
            report_, [&] { return here(); },
            [&] {
                return "the line opens with a blank; FreeType and the X server find no keyword there and refuse the "
                       "font";
            });
        text = trimLeft(text);
        if (text.empty())
            return;
    }
    if (text[0] == '#') {
        context("#");
        error("a line opening with '#': FreeType passes over it, the X server refuses the font");
        return;
    }

    switch (section_) {
    case Section::Start:
        startFont(text);
        break;
    case Section::Header:
        header(text);
        break;
    case Section::Properties:
        property(text);
        break;
    case Section::Glyphs:
        glyphLine(text);
        break;
    case Section::Done:
        break;
    }
}

// FreeType 2.14 and later split a line at control bytes and, on x86, at bytes above 0x7F, then read
// what follows as a line of its own.
void BdfCheck::freeTypeSegments(string_view text)
{
    size_t i = 0;
    while (i < text.size() && !endsFreeTypeLine(text[i]))
        ++i;
    if (i == text.size())
        return;
    const size_t at = i;
    while (i < text.size() && endsFreeTypeLine(text[i]))
        ++i;
    const string_view rest = text.substr(i);
    if (trimRight(rest).empty())
        return;
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<uint8_t>(text[at]));
    // Every FreeType ends a line at a CR; 2.14 and later at the others too.
    const auto b = static_cast<uint8_t>(text[at]);
    const bool everyVersion = b == '\r';
    const std::string opening = "byte " + std::string(byte) + " at column " + std::to_string(at + 1) + ": FreeType" +
                                (everyVersion ? std::string() : " 2.14 and later") +
                                (b >= 0x80 ? " (where char is signed, as on x86)" : "") +
                                (everyVersion ? " ends the line there and " : " end the line there and ");
    const char* refuse = everyVersion ? "refuses" : "refuse";
    const char* read = everyVersion ? "reads" : "read";
    if (glyph_.open) {
        glyphContext();
    } else {
        Words words(text);
        string_view first;
        words.next(first);
        context(first.substr(0, std::min(first.size(), at)));
    }
    if (section_ == Section::Properties && !isKeyword(text, "ENDPROPERTIES")) {
        cutValues_.add(
            report_, [&] { return here(); },
            [&] { return opening + read + " " + quote(rest, 24) + " as another property"; });
        return;
    }
    if (startsWith(rest, "COMMENT"))
        return;
    cutLines_.add(
        report_, [&] { return here(); },
        [&] { return opening + refuse + " the rest, " + quote(rest, 24) + ", as an unknown keyword"; });
}

void BdfCheck::startFont(string_view text)
{
    context("STARTFONT");
    if (!isKeyword(text, "STARTFONT")) {
        error("the file does not open with STARTFONT; neither FreeType nor the X server reads it as BDF");
        section_ = Section::Done;
        return;
    }
    section_ = Section::Header;
    headerLines_[0] = lineNumber_;
    Words words(text.substr(9));
    if (!words.next(version_)) {
        report_.format = "BDF";
        error("STARTFONT gives no version; the X server reads only 'STARTFONT 2.1'");
        return;
    }
    report_.format = "BDF " + shown(version_, 12);
    if (version_ != "2.1")
        error("version " + quote(version_, 12) + ": the X server and bdftopcf read only 2.1");
}

void BdfCheck::headerOrder(int step, string_view keyword)
{
    context(keyword);
    if (headerLines_[static_cast<size_t>(step)] != 0) {
        error("a second " + std::string(keyword) + " line (the first is line " +
              std::to_string(headerLines_[static_cast<size_t>(step)]) + "); the X server refuses it");
        return;
    }
    headerLines_[static_cast<size_t>(step)] = lineNumber_;
    if (step < headerStep_ && !orderReported_) {
        static constexpr const char* kHeaderNames[] = {"STARTFONT",       "FONT",          "SIZE", "FONTBOUNDINGBOX",
                                                       "STARTPROPERTIES", "ENDPROPERTIES", "CHARS"};
        orderReported_ = true;
        error(std::string(keyword) + " after " + kHeaderNames[headerStep_] + " (line " +
              std::to_string(headerLines_[static_cast<size_t>(headerStep_)]) +
              "); the X server refuses the font (it reads STARTFONT, FONT, SIZE, FONTBOUNDINGBOX, STARTPROPERTIES, "
              "then CHARS, in this order)");
    }
    headerStep_ = std::max(headerStep_, step);
}

void BdfCheck::header(string_view text)
{
    if (isKeyword(text, "FONT")) {
        headerOrder(1, "FONT");
        fontLine(text);
    } else if (isKeyword(text, "SIZE")) {
        headerOrder(2, "SIZE");
        sizeLine(text);
    } else if (isKeyword(text, "FONTBOUNDINGBOX")) {
        headerOrder(3, "FONTBOUNDINGBOX");
        boundingBoxLine(text);
    } else if (isKeyword(text, "STARTPROPERTIES")) {
        headerOrder(4, "STARTPROPERTIES");
        startProperties(text);
    } else if (isKeyword(text, "ENDPROPERTIES")) {
        context("ENDPROPERTIES");
        error("ENDPROPERTIES with no STARTPROPERTIES before it");
    } else if (isKeyword(text, "CHARS")) {
        headerOrder(6, "CHARS");
        charsLine(text);
    } else if (isKeyword(text, "STARTCHAR") || isKeyword(text, "ENDFONT")) {
        context("CHARS");
        error("no CHARS line before the glyphs; FreeType and the X server refuse the font");
        section_ = Section::Glyphs;
        glyphLine(text);
    } else {
        Words words(text);
        string_view keyword;
        words.next(keyword);
        context(keyword);
        static constexpr string_view kLater[] = {"CONTENTVERSION", "METRICSSET", "SWIDTH", "DWIDTH",
                                                 "SWIDTH1",        "DWIDTH1",    "VVECTOR"};
        if (std::find(std::begin(kLater), std::end(kLater), keyword) != std::end(kLater)) {
            int64_t values[2];
            const size_t count = keyword == "CONTENTVERSION" || keyword == "METRICSSET" ? 1 : 2;
            numbers(text, keyword, values, count, "numbers");
            error(std::string(keyword) + " before the glyphs: FreeType and the X server refuse the font (they "
                                         "know only FONT, SIZE, FONTBOUNDINGBOX, properties and CHARS there)");
        } else {
            error("unknown keyword " + quote(keyword, 24) + " in the header; FreeType and the X server refuse it");
        }
    }
}

bool BdfCheck::numbers(string_view text, string_view keyword, int64_t* values, size_t count, const char* what)
{
    Words words(text.substr(keyword.size()));
    for (size_t i = 0; i < count; ++i) {
        string_view word;
        if (!words.next(word)) {
            error(std::string(keyword) + " needs " + std::to_string(count) + " " + what + "; it has " +
                  std::to_string(i));
            return false;
        }
        const Number result = parseInteger(word, values[i]);
        if (result == Number::NotNumber) {
            error(quote(word, 16) + " in " + std::string(keyword) + " is not a whole number");
            return false;
        }
        if (result == Number::TooBig) {
            error(quote(word, 16) + " in " + std::string(keyword) + " is too large (the X server reads 32 bits)");
            return false;
        }
    }
    return true;
}

void BdfCheck::fontLine(string_view text)
{
    const string_view name = trimRight(trimLeft(text.substr(4)));
    if (name.empty()) {
        error("FONT gives no name; FreeType and the X server refuse the font");
        return;
    }
    fontName_ = name;
}

void BdfCheck::sizeLine(string_view text)
{
    Words words(text.substr(4));
    string_view first;
    if (!words.next(first)) {
        error("SIZE needs 3 numbers (point size, x and y resolution); it has none");
        return;
    }
    // The X server reads the point size as a real number, FreeType as a whole one.
    int64_t deci = 0;
    const size_t dot = first.find('.');
    int64_t whole = 0;
    if (dot != string_view::npos) {
        int64_t tenth = 0;
        const string_view fraction = first.substr(dot + 1);
        if (parseInteger(first.substr(0, dot), whole) != Number::Ok || fraction.empty() ||
            !(fraction[0] >= '0' && fraction[0] <= '9')) {
            error(quote(first, 16) + " in SIZE is not a point size");
            return;
        }
        tenth = fraction[0] - '0';
        deci = whole * 10 + (whole < 0 ? -tenth : tenth);
        if (tenth != 0)
            warning("point size " + shown(first, 16) + ": FreeType reads only its whole part, " + number(whole));
    } else {
        const Number result = parseInteger(first, whole);
        if (result != Number::Ok) {
            error(quote(first, 16) + " in SIZE is not a " + (result == Number::TooBig ? "usable" : "whole") +
                  " number");
            return;
        }
        deci = whole * 10;
    }
    int64_t resolution[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        string_view word;
        if (!words.next(word)) {
            error("SIZE needs 3 numbers (point size, x and y resolution); it has " + std::to_string(i + 1));
            return;
        }
        if (parseInteger(word, resolution[i]) != Number::Ok) {
            error(quote(word, 16) + " in SIZE is not a whole number");
            return;
        }
    }
    string_view bits;
    if (words.next(bits)) {
        int64_t bpp = 0;
        if (parseInteger(bits, bpp) != Number::Ok || (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8)) {
            error("bits per pixel " + quote(bits, 16) + " in SIZE: FreeType takes 1, 2, 4 or 8");
        } else {
            bitsPerPixel_ = bpp;
            if (bpp != 1)
                error(number(bpp) + " bits per pixel: the X server and bdftopcf read every BDF as 1 bit per pixel "
                                    "and misread these rows");
        }
    }
    if (whole < 1 && deci < 10) {
        error("point size " + shown(first, 16) + ": the X server refuses a SIZE value under 1");
        return;
    }
    if (resolution[0] < 1 || resolution[1] < 1) {
        error("resolution " + number(resolution[0]) + " x " + number(resolution[1]) +
              ": the X server refuses a SIZE value under 1");
        return;
    }
    pointDeci_ = deci;
    resolutionX_ = resolution[0];
    resolutionY_ = resolution[1];
    haveSize_ = true;
}

void BdfCheck::boundingBoxLine(string_view text)
{
    int64_t v[4];
    if (!numbers(text, "FONTBOUNDINGBOX", v, 4, "numbers (width, height, x and y offset)"))
        return;
    if (v[0] < 0 || v[1] < 0) {
        warning("a negative width or height (" + number(v[0]) + " x " + number(v[1]) +
                "); FreeType reads it as 0 and works the box out from the glyphs");
        return;
    }
    haveBox_ = true;
    boxWidth_ = v[0];
    boxHeight_ = v[1];
    boxLeft_ = v[2];
    boxBottom_ = v[3];
}

void BdfCheck::startProperties(string_view text)
{
    int64_t count = 0;
    section_ = Section::Properties;
    propertiesRead_ = 0;
    if (!numbers(text, "STARTPROPERTIES", &count, 1, "number (how many properties follow)"))
        return;
    if (count < 1) {
        error("STARTPROPERTIES " + number(count) + ": the X server wants at least one property (FONT_ASCENT and "
                                                   "FONT_DESCENT)");
        return;
    }
    propertiesDeclared_ = count;
}

void BdfCheck::endProperties()
{
    headerLines_[5] = lineNumber_;
    headerStep_ = std::max(headerStep_, 5);
    section_ = headerLines_[6] != 0 ? Section::Glyphs : Section::Header;
    if (propertiesDeclared_ >= 0 && propertiesDeclared_ != propertiesRead_) {
        const size_t line = lineNumber_;
        lineNumber_ = headerLines_[4];
        context("STARTPROPERTIES");
        error("says " + plural(propertiesDeclared_, "property", "properties") + "; " +
              number(propertiesRead_) + " follow (up to line " + std::to_string(line) +
              "); the X server refuses the font");
        lineNumber_ = line;
    }
}

void BdfCheck::property(string_view text)
{
    if (isKeyword(text, "ENDPROPERTIES")) {
        context("ENDPROPERTIES");
        endProperties();
        return;
    }
    if (isKeyword(text, "CHARS") || isKeyword(text, "STARTCHAR") || isKeyword(text, "ENDFONT")) {
        context("ENDPROPERTIES");
        error("no ENDPROPERTIES before this line; FreeType and the X server read the rest as properties");
        endProperties();
        header(text);
        return;
    }
    ++propertiesRead_;
    if (isBlank(text[0])) {
        context("property");
        warning("the property opens with a blank; FreeType takes an empty name and loses it");
        text = trimLeft(text);
    }
    if (isKeyword(text, "_XFREE86_GLYPH_RANGES"))
        return;  // FreeType passes over it; the X server keeps it as it is
    Words words(text);
    string_view name;
    words.next(name);
    context(name);
    const string_view rest = words.rest();

    // A value the X server refuses is still kept as FreeType reads it: as text, without quotes.
    Property value;
    value.present = true;
    value.line = lineNumber_;
    if (rest.empty()) {
        error("no value; the X server refuses a property without one");
        value.isText = true;
    } else if (rest[0] == '"') {
        // A quoted string, a quote inside it doubled.
        value.isText = true;
        size_t i = 1;
        for (; i < rest.size(); ++i) {
            if (rest[i] == '"') {
                if (i + 1 < rest.size() && rest[i + 1] == '"')
                    ++i;
                else
                    break;
            }
        }
        if (i >= rest.size())
            error("the quoted value has no closing quote; the X server refuses the font");
        const string_view inside = rest.substr(1, i - 1);
        value.text.reserve(inside.size());
        for (size_t k = 0; k < inside.size(); ++k) {
            value.text += inside[k];
            if (inside[k] == '"')
                ++k;
        }
        if (freeTypeReadsAsNumber(name)) {
            const bool xNeeds = name == "FONT_ASCENT" || name == "FONT_DESCENT";
            error("a quoted value: FreeType reads " + std::string(name) + " as a number and takes 0" +
                  (xNeeds ? "; the X server finds no " + std::string(name) + " and refuses the font"
                          : std::string()));
        }
        if (name == "SPACING" && value.text.empty())
            error("an empty SPACING; FreeType refuses the font");
    } else {
        string_view word;
        Words valueWords(rest);
        valueWords.next(word);
        string_view more;
        const Number result = parseInteger(word, value.value);
        if (valueWords.next(more)) {
            error("the value " + quote(rest, 24) + " is several words and not quoted; the X server refuses it");
            value.isText = true;
            value.text = std::string(rest);
        } else if (result == Number::NotNumber) {
            error("the value " + quote(word, 24) +
                  " is neither a quoted string nor a whole number; the X server refuses it");
            value.isText = true;
            value.text = std::string(word);
        } else if (result == Number::TooBig) {
            error("the value " + quote(word, 24) + " is too large for the 32 bits the X server reads");
            value.isText = true;
            value.text = std::string(word);
        } else {
            if (xlfdText(name))
                warning("a number where X11 has a string (\"" + shown(word, 16) + "\")");
            value.text = std::string(word);
        }
    }

    for (size_t p = 0; p < kPropCount; ++p) {
        if (name != kPropNames[p])
            continue;
        if (props_[p].present)
            warning("a second " + std::string(name) + " (the first is line " + std::to_string(props_[p].line) +
                    "); FreeType takes this one, the X server the first");
        else
            props_[p] = std::move(value);
        break;
    }
}

void BdfCheck::charsLine(string_view text)
{
    section_ = Section::Glyphs;
    int64_t count = 0;
    if (!numbers(text, "CHARS", &count, 1, "number (how many glyphs follow)"))
        return;
    if (count < 1) {
        error("CHARS " + number(count) + ": the X server refuses a font without glyphs");
        return;
    }
    if (count >= kUnicodeEnd)
        error("CHARS " + number(count) + ": FreeType refuses more than 1114111 glyphs");
    charsDeclared_ = count;
}

void BdfCheck::glyphLine(string_view text)
{
    if (isKeyword(text, "STARTCHAR")) {
        if (glyph_.open) {
            glyphContext();
            glyphOrder_.add(
                report_, [&] { return here(); },
                [&] {
                    return std::string("no ENDCHAR before the next STARTCHAR; FreeType and the X server refuse the "
                                       "font");
                });
            endGlyph(false);
        }
        startGlyph(text);
        return;
    }
    if (isKeyword(text, "ENDFONT")) {
        if (glyph_.open) {
            glyphContext();
            error("no ENDCHAR before ENDFONT; FreeType and the X server refuse the font");
            endGlyph(false);
        }
        endFont();
        return;
    }
    if (!glyph_.open) {
        for (const string_view keyword : {"FONT", "SIZE", "FONTBOUNDINGBOX", "STARTPROPERTIES", "CHARS"}) {
            if (isKeyword(text, keyword)) {
                header(text);
                if (section_ == Section::Header)
                    section_ = Section::Glyphs;
                return;
            }
        }
        Words words(text);
        string_view keyword;
        words.next(keyword);
        context(keyword);
        unknownGlyphLines_.add(
            report_, [&] { return here(); },
            [&] {
                return quote(keyword, 24) + " where STARTCHAR or ENDFONT belongs; FreeType and the X server refuse it";
            });
        return;
    }
    glyphContext();
    if (isKeyword(text, "ENDCHAR")) {
        endGlyph(true);
        return;
    }
    static constexpr string_view kFields[] = {"", "ENCODING", "SWIDTH", "DWIDTH", "BBX", "BITMAP"};
    // Every glyph has these lines: their first letter picks the keyword to compare.
    int first = kEncoding, last = kBitmap;
    switch (text[0]) {
    case 'E': first = last = kEncoding; break;
    case 'S': first = last = kSwidth; break;
    case 'D': first = last = kDwidth; break;
    case 'B': first = kBbx; break;
    default: first = last + 1; break;
    }
    for (int step = first; step <= last; ++step) {
        if (isKeyword(text, kFields[step])) {
            glyphField(step, kFields[step], text);
            return;
        }
    }
    // Hexadecimal lines past the rows BBX asks for.
    if (glyph_.inBitmap) {
        const string_view row = trimRight(text);
        bool hex = true;
        for (const char c : row)
            hex = hex && hexDigit(c) >= 0;
        if (hex) {
            ++glyph_.extraRows;
            return;
        }
    }
    Words words(text);
    string_view keyword;
    words.next(keyword);
    if (keyword == "ATTRIBUTES" || keyword == "SWIDTH1" || keyword == "DWIDTH1" || keyword == "VVECTOR") {
        const bool xTakes = keyword == "ATTRIBUTES";
        unknownGlyphLines_.add(
            report_, [&] { return glyphWhere(); },
            [&] {
                return std::string(keyword) +
                       (xTakes ? ": FreeType refuses the font" : ": FreeType and the X server refuse the font");
            });
        return;
    }
    unknownGlyphLines_.add(
        report_, [&] { return glyphWhere(); },
        [&] { return "unknown keyword " + quote(keyword, 24) + " in a glyph; FreeType and the X server refuse it"; });
}

void BdfCheck::startGlyph(string_view text)
{
    glyph_ = Glyph{};
    glyph_.open = true;
    Words words(text.substr(9));
    string_view name;
    if (words.next(name))
        glyph_.name = name;
    glyphContext();
    if (name.empty())
        glyphValues_.add(
            report_, [&] { return here(); },
            [&] { return std::string("STARTCHAR gives no name; FreeType and the X server refuse the font"); });
}

void BdfCheck::glyphField(int step, string_view keyword, string_view text)
{
    Glyph& g = glyph_;
    if (step != g.step + 1 && !g.orderReported)
        glyphFieldOrder(step, keyword);
    g.step = std::max(g.step, step);

    switch (step) {
    case kEncoding:
        encodingLine(text);
        break;
    case kSwidth: {
        int64_t v[2];
        if (!glyphNumbers(keyword, text, v, 2, "numbers (x and y)"))
            break;
        g.haveSwidth = true;
        g.swidth = v[0];
        g.swidthLine = lineNumber_;
        if (v[1] != 0)
            badGlyphValue("SWIDTH y " + number(v[1]) + ": the X server refuses any but 0");
        break;
    }
    case kDwidth:
        dwidthLine(keyword, text);
        break;
    case kBbx:
        bbxLine(keyword, text);
        break;
    case kBitmap:
        if (g.inBitmap) {
            badGlyphValue("a second BITMAP; FreeType and the X server refuse the font");
            break;
        }
        g.inBitmap = true;
        g.bitmapLine = lineNumber_;
        // A glyph with no pixels has no rows: FreeType refuses any line there.
        g.rowsExpected = g.haveBbx && g.width > 0 ? g.height : 0;
        if (g.rowsExpected > 0) {
            g.rowDigits = static_cast<size_t>((g.width * bitsPerPixel_ + 7) / 8 * 2);
            const int64_t spare = static_cast<int64_t>(g.rowDigits) * 4 - g.width * bitsPerPixel_;
            g.spareMask = static_cast<uint8_t>((1 << spare) - 1);
        }
        break;
    default:
        break;
    }
}

void BdfCheck::glyphFieldOrder(int step, string_view keyword)
{
    Glyph& g = glyph_;
    g.orderReported = true;
    glyphOrder_.add(
        report_, [&] { return glyphWhere(); },
        [&] {
            std::string what;
            if (step > g.step + 1) {
                what = "no " + std::string(kGlyphStepNames[g.step + 1]) + " before " + std::string(keyword);
                if (g.step + 1 == kEncoding || (step == kBitmap && !g.haveBbx))
                    what += "; FreeType and the X server refuse the font";
                else
                    what += "; the X server refuses the font";
            } else {
                what = std::string(keyword) + " out of order; the X server refuses the font";
            }
            return what + " (it reads STARTCHAR, ENCODING, SWIDTH, DWIDTH, BBX, BITMAP, in this order)";
        });
}

void BdfCheck::badGlyphValue(const std::string& message)
{
    glyphValues_.add(report_, [&] { return glyphWhere(); }, [&] { return message; });
}

bool BdfCheck::glyphNumbers(string_view keyword, string_view text, int64_t* values, size_t count, const char* what)
{
    Words words(text.substr(keyword.size()));
    for (size_t i = 0; i < count; ++i) {
        string_view word;
        if (!words.next(word)) {
            badGlyphValue(std::string(keyword) + " needs " + std::to_string(count) + " " + what + "; it has " +
                          std::to_string(i));
            return false;
        }
        const Number result = parseInteger(word, values[i]);
        if (result != Number::Ok) {
            badGlyphValue(quote(word, 16) + " in " + std::string(keyword) + " is not a " +
                          (result == Number::TooBig ? "32-bit" : "whole") + " number");
            return false;
        }
    }
    return true;
}

void BdfCheck::dwidthLine(string_view keyword, string_view text)
{
    Glyph& g = glyph_;
    int64_t v[2];
    if (!glyphNumbers(keyword, text, v, 2, "numbers (x and y)"))
        return;
    g.haveDwidth = true;
    g.dwidth = v[0];
    if (v[1] != 0)
        badGlyphValue("DWIDTH y " + number(v[1]) + ": the X server refuses any but 0");
    if (v[0] < INT16_MIN || v[0] > INT16_MAX)
        badGlyphValue("DWIDTH " + number(v[0]) + ": the X server refuses an advance outside -32768 to 32767");
    else if (v[0] < 0)
        negativeAdvances_.add(
            report_, [&] { return glyphWhere(); },
            [&] { return "DWIDTH " + number(v[0]) + ": FreeType reads a negative advance as 0"; });
}

void BdfCheck::bbxLine(string_view keyword, string_view text)
{
    Glyph& g = glyph_;
    int64_t v[4];
    if (!glyphNumbers(keyword, text, v, 4, "numbers (width, height, x and y offset)"))
        return;
    if (v[0] < 0 || v[1] < 0) {
        badGlyphValue("BBX " + number(v[0]) + " x " + number(v[1]) + ": the X server refuses a negative size");
        return;
    }
    if (v[2] < INT16_MIN || v[2] > INT16_MAX || v[3] < INT16_MIN || v[3] > INT16_MAX ||
        v[0] > INT16_MAX - v[2] || v[1] > INT16_MAX - v[3]) {
        badGlyphValue("BBX " + number(v[0]) + " " + number(v[1]) + " " + number(v[2]) + " " + number(v[3]) +
                      ": the X server refuses edges outside -32768 to 32767");
        return;
    }
    const int64_t rowBytes = (v[0] * bitsPerPixel_ + 7) / 8;
    // Only very large sizes come here, which the X server reads; a warning, so they are written.
    if (rowBytes * v[1] > kFreeTypeBitmapLimit && largeGlyphs_++ == 0) {
        firstLargeWhere_ = glyphWhere();
        firstLargeText_ = "BBX " + number(v[0]) + " x " + number(v[1]) + " takes " + number(rowBytes * v[1]) + " bytes";
    }
    g.haveBbx = true;
    g.width = v[0];
    g.height = v[1];
    g.left = v[2];
    g.bottom = v[3];
    g.bbxLine = lineNumber_;
}

void BdfCheck::encodingLine(string_view text)
{
    auto bad = [&](const std::string& message) {
        glyphValues_.add(report_, [&] { return glyphWhere(); }, [&] { return message; });
    };
    Words words(text.substr(8));
    string_view first, second;
    if (!words.next(first)) {
        bad("ENCODING gives no number; FreeType and the X server refuse the font");
        return;
    }
    int64_t code = 0, other = -1;
    if (parseInteger(first, code) != Number::Ok) {
        bad(quote(first, 16) + " in ENCODING is not a whole number; the X server refuses the font");
        return;
    }
    const bool two = words.next(second);
    if (two && parseInteger(second, other) != Number::Ok) {
        bad(quote(second, 16) + " in ENCODING is not a whole number; the X server refuses the font");
        return;
    }
    if (code < -1 || (two && other < -1)) {
        bad("ENCODING " + number(code < -1 ? code : other) +
            ": the X server refuses a value under -1 (FreeType leaves the glyph unencoded)");
        return;
    }
    // "-1 n": unencoded in the standard encoding, n in the font's own; both readers take n.
    if (code == -1 && two)
        code = other;
    if (code < 0)
        return;
    if (code > 0xFFFF) {
        if (highEncodings_++ == 0) {
            firstHighWhere_ = glyphWhere();
            firstHighEncoding_ = code;
        }
        if (code >= kUnicodeEnd) {
            ++beyondUnicode_;
            return;
        }
    }
    const auto slot = static_cast<size_t>(code);
    if (slot / 64 >= encoded_.size())  // grown as codes come: a code page's font needs 32 bytes
        encoded_.resize(std::max(slot / 64 + 1, encoded_.size() * 2), 0);
    uint64_t& word = encoded_[slot / 64];
    const uint64_t bit = uint64_t{1} << (slot % 64);
    if (word & bit)
        duplicates_.add(
            report_, [&] { return glyphWhere(); },
            [&] {
                return "encoding " + number(code) +
                       " again: an earlier glyph has it; the X server keeps the last of them, FreeType either";
            });
    word |= bit;
}

void BdfCheck::bitmapRow(string_view text)
{
    Glyph& g = glyph_;
    glyphContext();
    if (text[0] == 'C' && startsWith(text, "COMMENT")) {
        if (!g.commentInRows) {
            g.commentInRows = true;
            badRows_.add(
                report_, [&] { return here(); },
                [&] {
                    return std::string("a COMMENT among the bitmap rows: FreeType 2.14 and later read it as a row");
                });
        }
        return;
    }
    ++g.rows;
    const string_view row = trimRight(text);
    const int64_t digits = (g.width * bitsPerPixel_ + 7) / 8 * 2;
    size_t badAt = row.size();
    for (size_t i = 0; i < row.size(); ++i) {
        if (hexDigit(row[i]) < 0) {
            badAt = i;
            break;
        }
    }
    if (badAt != row.size()) {
        if (!g.rowProblem) {
            g.rowProblem = true;
            badRows_.add(
                report_, [&] { return here(); },
                [&] {
                    return "row " + std::to_string(g.rows) + " has " + quote(row.substr(badAt, 1)) + " at column " +
                           std::to_string(badAt + 1) + ", not a hexadecimal digit; the readers misread the row";
                });
        }
        return;
    }
    const auto length = static_cast<int64_t>(row.size());
    if (length < digits || (length & 1)) {
        if (!g.rowProblem) {
            g.rowProblem = true;
            badRows_.add(
                report_, [&] { return here(); },
                [&] {
                    return "row " + std::to_string(g.rows) + " has " + plural(length, "hex digit", "hex digits") +
                           "; BBX width " + number(g.width) + " takes " + number(digits) +
                           (length < digits ? " (the readers fill the rest blank)" : "");
                });
        }
        return;
    }
    if (length > digits) {
        bool ink = false;
        for (size_t i = static_cast<size_t>(digits); i < row.size(); ++i)
            ink = ink || row[i] != '0';
        if (ink) {
            if (!g.rowProblem) {
                g.rowProblem = true;
                badRows_.add(
                    report_, [&] { return here(); },
                    [&] {
                        return "row " + std::to_string(g.rows) + " has " + plural(length, "hex digit", "hex digits") +
                               ", BBX width " + number(g.width) + " takes " + number(digits) +
                               ", and the rest holds ink; the readers drop it";
                    });
            }
        } else if (!g.padded) {
            g.padded = true;
            paddedRows_.add(
                report_, [&] { return here(); },
                [&] {
                    return "row " + std::to_string(g.rows) + " has " + plural(length, "hex digit", "hex digits") +
                           "; BBX width " + number(g.width) + " takes " + number(digits) +
                           " (the readers drop the blank rest)";
                });
        }
    }
    // Bits of the last byte past the width: the X server clears them, FreeType keeps them.
    const int64_t spare = digits * 4 - g.width * bitsPerPixel_;
    if (digits > 0 && spare > 0 && !g.trailingInk) {
        const auto at = static_cast<size_t>(digits - 2);
        const int last = hexDigit(row[at]) << 4 | hexDigit(row[at + 1]);
        if (last & ((1 << spare) - 1)) {
            g.trailingInk = true;
            trailingInk_.add(
                report_, [&] { return here(); },
                [&] {
                    return "row " + std::to_string(g.rows) + " has ink past the BBX width of " + number(g.width) +
                           "; the X server and FreeType before 2.14 clear it, FreeType 2.14 and later keep it";
                });
        }
    }
}

void BdfCheck::endGlyph(bool endchar)
{
    Glyph& g = glyph_;
    ++glyphs_;
    glyphContext();
    if (endchar && g.step < kBitmap && !g.orderReported) {
        glyphOrder_.add(
            report_, [&] { return here(); },
            [&] {
                return "ENDCHAR before " + std::string(kGlyphStepNames[g.step + 1]) +
                       "; the X server refuses the font (it reads STARTCHAR, ENCODING, SWIDTH, DWIDTH, BBX, BITMAP, "
                       "in this order)";
            });
    }
    if (g.inBitmap) {
        const int64_t rows = g.rows + g.extraRows;
        if (g.haveBbx && rows != g.rowsExpected) {
            rowCounts_.add(
                report_, [&] { return lineAt(g.bitmapLine, "glyph " + quote(g.name)); },
                [&] {
                    if (g.rowsExpected == 0)
                        return plural(rows, "row follows", "rows follow") + " BITMAP, but BBX " + number(g.width) +
                               " x " + number(g.height) + " has no pixels and takes none; FreeType 2.14 and later "
                               "refuse them";
                    return plural(rows, "row follows", "rows follow") + " BITMAP; BBX height says " +
                           number(g.height) + "; the X server refuses the font" +
                           (rows < g.height ? " and FreeType 2.14 and later read the lines after as rows"
                                            : " (FreeType drops the extra rows)");
                });
        }
    }

    // What the advances and boxes say of the font as a whole.
    const int64_t advance = g.haveDwidth ? g.dwidth : g.haveBbx ? g.width : 0;
    const int64_t magnitude = advance < 0 ? -advance : advance;
    advanceSum_ += magnitude;
    minAdvance_ = std::min(minAdvance_, magnitude);
    maxAdvance_ = std::max(maxAdvance_, magnitude);

    if (g.haveSwidth && g.haveDwidth && haveSize_) {
        // SWIDTH is the advance in thousandths of the point size; one pixel either way is rounding and
        // hinting.
        const double implied = static_cast<double>(g.swidth) * static_cast<double>(pointDeci_) *
                               static_cast<double>(resolutionX_) / 720000.0;
        if (std::fabs(implied - static_cast<double>(g.dwidth)) > 1.0)
            swidths_.add(
                report_, [&] { return lineAt(g.swidthLine, "glyph " + quote(g.name)); },
                [&] {
                    return "SWIDTH " + number(g.swidth) + " is " + pixels(implied) + " pixels at " +
                           pixels(static_cast<double>(pointDeci_) / 10) + " pt and " + number(resolutionX_) +
                           " dpi; DWIDTH says " + number(g.dwidth);
                });
    }

    if (g.haveBbx && g.width > 0 && g.height > 0) {
        const int64_t right = g.left + g.width;
        const int64_t top = g.bottom + g.height;
        if (!anyInk_) {
            inkLeft_ = g.left;
            inkRight_ = right;
            inkBottom_ = g.bottom;
            inkTop_ = top;
            anyInk_ = true;
        } else {
            inkLeft_ = std::min(inkLeft_, g.left);
            inkRight_ = std::max(inkRight_, right);
            inkBottom_ = std::min(inkBottom_, g.bottom);
            inkTop_ = std::max(inkTop_, top);
        }
        if (haveBox_ && (g.left < boxLeft_ || right > boxLeft_ + boxWidth_ || g.bottom < boxBottom_ ||
                         top > boxBottom_ + boxHeight_)) {
            if (outsideBox_++ == 0) {
                firstOutsideLine_ = g.bbxLine;
                firstOutsideName_ = shown(g.name);
            }
        }
        const Property& spacing = prop(kSpacing);
        if (spacing.present && equalsIgnoringCase(spacing.text, "C") && g.haveDwidth &&
            prop(kFontAscent).present && prop(kFontDescent).present &&
            (g.left < 0 || right > g.dwidth || top > prop(kFontAscent).value ||
             -g.bottom > prop(kFontDescent).value)) {
            outsideCells_.add(
                report_, [&] { return lineAt(g.bbxLine, "glyph " + quote(g.name)); },
                [&] {
                    return "BBX " + number(g.width) + " " + number(g.height) + " " + number(g.left) + " " +
                           number(g.bottom) + " reaches out of its cell (advance " + number(g.dwidth) +
                           ", FONT_ASCENT " + number(prop(kFontAscent).value) + ", FONT_DESCENT " +
                           number(prop(kFontDescent).value) + "), which SPACING \"C\" promises it does not";
                });
        }
    }
    glyph_ = Glyph{};
    context("");
}

void BdfCheck::endFont()
{
    endFontSeen_ = true;
    section_ = Section::Done;
}

void BdfCheck::finish()
{
    context("end of file");
    if (section_ == Section::Start) {
        report_.error(byteAt(0), "the file holds no STARTFONT line");
        return;
    }
    checkEnding();
    report_.glyphs = glyphs_;
    checkHeaderLines();
    reportFontTallies();
    checkSizes();
    checkAverageWidth();
    checkSpacing();
    checkFontName();
    describeFont();
}

void BdfCheck::checkEnding()
{
    if (glyph_.open) {
        glyphContext();
        report_.error(lineAt(lineNumber_, "end of file"),
                      "the file ends inside glyph " + quote(glyph_.name) +
                          " (no ENDCHAR); FreeType and the X server refuse the font");
        endGlyph(false);
    }
    if (section_ == Section::Properties) {
        report_.error(lineAt(lineNumber_, "end of file"),
                      "the file ends inside the properties (no ENDPROPERTIES); FreeType and the X server refuse it");
    } else if (section_ == Section::Header) {
        report_.error(lineAt(lineNumber_, "end of file"),
                      "the file ends in the header (no CHARS and no glyphs); FreeType and the X server refuse it");
    } else if (!endFontSeen_) {
        report_.error(lineAt(lineNumber_, "end of file"),
                      "the file ends without ENDFONT; FreeType and the X server refuse it");
    }
}

void BdfCheck::checkHeaderLines()
{
    static constexpr const char* kNeeded[] = {
        nullptr,
        "no FONT line; FreeType and the X server refuse the font",
        "no SIZE line; FreeType and the X server refuse the font",
        "no FONTBOUNDINGBOX line; FreeType and the X server refuse the font",
        "no STARTPROPERTIES; the X server refuses a font without properties (it needs FONT_ASCENT and "
        "FONT_DESCENT)",
    };
    for (size_t step = 1; step <= 4; ++step)
        if (headerLines_[step] == 0 && (section_ == Section::Glyphs || section_ == Section::Done))
            report_.error(lineAt(headerLines_[6] ? headerLines_[6] : lineNumber_, "header"), kNeeded[step]);

    if (charsDeclared_ >= 0 && static_cast<uint64_t>(charsDeclared_) != glyphs_)
        report_.error(lineAt(headerLines_[6], "CHARS"),
                      "says " + plural(charsDeclared_, "glyph", "glyphs") + "; " + std::to_string(glyphs_) +
                          " follow; the X server refuses the font");

    if (headerLines_[4] != 0) {
        for (const Prop p : {kFontAscent, kFontDescent}) {
            if (!prop(p).present)
                report_.error(lineAt(headerLines_[5] ? headerLines_[5] : headerLines_[4], "ENDPROPERTIES"),
                              "no " + std::string(kPropNames[p]) +
                                  " property; the X server and bdftopcf refuse the font (FreeType takes it from "
                                  "FONTBOUNDINGBOX)");
        }
    }
    for (size_t p = 0; p < kPropCount; ++p) {
        if (props_[p].present && isNumericProp(p) && props_[p].isText && p != kFontAscent && p != kFontDescent) {
            // Reported where it was read; its text is no number to compare.
            props_[p].present = false;
        }
    }
}

void BdfCheck::reportFontTallies()
{
    if (outsideBox_ > 0) {
        const int64_t left = std::min(inkLeft_, boxLeft_);
        const int64_t bottom = std::min(inkBottom_, boxBottom_);
        const int64_t right = std::max(inkRight_, boxLeft_ + boxWidth_);
        const int64_t top = std::max(inkTop_, boxBottom_ + boxHeight_);
        report_.warning(lineAt(headerLines_[3], "FONTBOUNDINGBOX"),
                        number(boxWidth_) + " " + number(boxHeight_) + " " + number(boxLeft_) + " " +
                            number(boxBottom_) + " does not hold " +
                            plural(static_cast<int64_t>(outsideBox_), "glyph", "glyphs") + " (the first '" +
                            firstOutsideName_ + "', line " + std::to_string(firstOutsideLine_) +
                            "); a box holding them all is " + number(right - left) + " " + number(top - bottom) + " " +
                            number(left) + " " + number(bottom));
    }
    if (largeGlyphs_ > 0)
        report_.warning(firstLargeWhere_, firstLargeText_ + (largeGlyphs_ > 1 ? " (and " + std::to_string(largeGlyphs_ - 1) + " more glyphs over 65535 bytes)" : "") +
                                             "; FreeType refuses a font with a glyph over 65535 bytes, the X server reads it");
    if (highEncodings_ > 0) {
        std::string text = plural(static_cast<int64_t>(highEncodings_), "glyph has an encoding",
                                  "glyphs have encodings") +
                           " above 65535 (the first " + number(firstHighEncoding_) +
                           "); the X server and bdftopcf leave them out";
        if (beyondUnicode_ > 0)
            text += ", and FreeType leaves the " + std::to_string(beyondUnicode_) + " past U+10FFFF unencoded";
        report_.warning(firstHighWhere_, text);
    }

    for (Tally* t : {&longLines_, &cutLines_, &cutValues_, &blankOpenings_, &glyphOrder_, &rowCounts_, &badRows_,
                     &glyphValues_, &unknownGlyphLines_, &trailingInk_, &paddedRows_, &duplicates_, &swidths_,
                     &negativeAdvances_, &outsideCells_})
        t->flush(report_);

    if (prop(kDefaultChar).present) {
        const int64_t code = prop(kDefaultChar).value;
        const bool has = code >= 0 && static_cast<size_t>(code) / 64 < encoded_.size() &&
                         (encoded_[static_cast<size_t>(code) / 64] >> (static_cast<size_t>(code) % 64) & 1);
        if (!has)
            report_.warning(lineAt(prop(kDefaultChar).line, "DEFAULT_CHAR"),
                            number(code) + " is no glyph's encoding, so it gives no glyph for missing characters");
    }
}

void BdfCheck::checkSizes()
{
    if (!haveSize_)
        return;
    const std::string size = "SIZE " + pixels(static_cast<double>(pointDeci_) / 10) + " " + number(resolutionX_) +
                             " " + number(resolutionY_);
    const std::string sizeAt = " (line " + std::to_string(headerLines_[2]) + ")";
    const Property& point = prop(kPointSize);
    if (point.present && std::llabs(point.value - pointDeci_) >= 10)
        report_.warning(lineAt(point.line, "POINT_SIZE"),
                        number(point.value) + " (tenths of a point) disagrees with " + size + sizeAt);
    const Property& x = prop(kResolutionX);
    if (x.present && x.value != resolutionX_)
        report_.warning(lineAt(x.line, "RESOLUTION_X"),
                        number(x.value) + " disagrees with " + size + sizeAt);
    const Property& y = prop(kResolutionY);
    if (y.present && y.value != resolutionY_)
        report_.warning(lineAt(y.line, "RESOLUTION_Y"),
                        number(y.value) + " disagrees with " + size + sizeAt);
    const Property& pixel = prop(kPixelSize);
    if (pixel.present) {
        // Pixels to the em at the size and resolution: points are 1/72 inch to most, 1/72.27 to X11.
        const double deci = point.present ? static_cast<double>(point.value) : static_cast<double>(pointDeci_);
        const double yRes = y.present ? static_cast<double>(y.value) : static_cast<double>(resolutionY_);
        const double at72 = deci * yRes / 720.0;
        const double at7227 = deci * yRes / 722.7;
        const auto px = static_cast<double>(pixel.value);
        if (std::fabs(px - at72) > 1.0 && std::fabs(px - at7227) > 1.0)
            report_.warning(lineAt(pixel.line, "PIXEL_SIZE"),
                            number(pixel.value) + " pixels, but " + pixels(deci / 10) + " pt at " + pixels(yRes) +
                                " dpi is " + pixels(at72) + " pixels to the em");
    }
}

void BdfCheck::checkAverageWidth()
{
    const Property& average = prop(kAverageWidth);
    if (!average.present || glyphs_ == 0)
        return;
    // XLFD: the mean of the glyphs' absolute advances in tenths of a pixel. Any rounding of the mean
    // is right; past a tenth either way it is a different figure.
    const auto count = static_cast<int64_t>(glyphs_);
    const int64_t tenths = advanceSum_ * 10;
    const int64_t declared = average.value < 0 ? -average.value : average.value;
    if (std::llabs(declared * count - tenths) <= count)
        return;
    const int64_t computed = (tenths + count / 2) / count;
    report_.warning(lineAt(average.line, "AVERAGE_WIDTH"),
                    "says " + number(average.value) + "; the " + plural(count, "glyph's", "glyphs'") +
                        " advances average " + pixels(static_cast<double>(tenths) / 10.0 / static_cast<double>(count)) +
                        " pixels, so " + number(computed) + " in tenths of a pixel");
}

void BdfCheck::checkSpacing()
{
    const Property& spacing = prop(kSpacing);
    if (!spacing.present || glyphs_ < 2)
        return;
    const bool fixed = minAdvance_ == maxAdvance_;
    const std::string where = lineAt(spacing.line, "SPACING");
    if ((equalsIgnoringCase(spacing.text, "M") || equalsIgnoringCase(spacing.text, "C")) && !fixed)
        report_.warning(where, "\"" + shown(spacing.text, 4) +
                                   "\" says every glyph has the same advance; they run from " + number(minAdvance_) +
                                   " to " + number(maxAdvance_) + " pixels");
    else if (equalsIgnoringCase(spacing.text, "P") && fixed)
        report_.warning(where, "\"P\", but every glyph advances " + number(minAdvance_) +
                                   " pixels; \"M\" (or \"C\") lets fontconfig and the X server find it as monospaced");
}

void BdfCheck::checkFontName()
{
    if (fontName_.empty())
        return;
    const std::string where = lineAt(headerLines_[1], "FONT");
    // -FOUNDRY-FAMILY-WEIGHT-SLANT-SETWIDTH-STYLE-PIXELS-POINTS-RESX-RESY-SPACING-AVERAGE-REGISTRY-ENCODING
    std::array<string_view, kXlfdFields> fields{};
    size_t count = 0;
    bool xlfd = fontName_[0] == '-';
    if (xlfd) {
        size_t start = 1;
        while (count < kXlfdFields + 1) {
            const size_t dash = fontName_.find('-', start);
            const string_view field =
                fontName_.substr(start, dash == string_view::npos ? string_view::npos : dash - start);
            if (count < kXlfdFields)
                fields[count] = field;
            ++count;
            if (dash == string_view::npos)
                break;
            start = dash + 1;
        }
        xlfd = count == kXlfdFields;
    }
    if (!xlfd) {
        report_.warning(where, quote(fontName_, 60) +
                                   " is not an XLFD name (14 fields, -FOUNDRY-FAMILY-WEIGHT-...-REGISTRY-ENCODING); "
                                   "mkfontdir lists the font under it, and X clients asking by pattern miss it");
        if (!prop(kFamilyName).present)
            report_.warning(where, "no FAMILY_NAME property either; FreeType gives the face no family name and "
                                   "fontconfig names it after the file");
        return;
    }
    if (!prop(kFamilyName).present)
        report_.warning(where, "no FAMILY_NAME property; FreeType gives the face no family name and fontconfig "
                               "names it after the file");
    // The name's fields should say what the properties say.
    std::string differences;
    for (size_t i = 0; i < kXlfdFields; ++i) {
        const Property& p = props_[i];
        if (!p.present)
            continue;
        const string_view field = fields[i];
        bool same = false;
        if (p.isText) {
            same = equalsIgnoringCase(field, p.text);
        } else {
            int64_t v = 0;
            // AVERAGE_WIDTH may carry '~' for a right-to-left font's negative width.
            const bool rightToLeft = i == kAverageWidth && !field.empty() && field[0] == '~';
            const string_view digits = rightToLeft ? field.substr(1) : field;
            same = parseInteger(digits, v) == Number::Ok &&
                   (rightToLeft ? -v == p.value : v == p.value);
            if (!same && (i == kPixelSize || i == kPointSize) && !field.empty() && field[0] == '[')
                same = true;  // a matrix, which says more than the property
        }
        if (!same) {
            if (!differences.empty())
                differences += ", ";
            differences += std::string(kPropNames[i]) + " " + quote(field, 24) + " (the property " +
                           (p.isText ? "\"" + shown(p.text, 24) + "\"" : number(p.value)) + ")";
        }
    }
    if (!differences.empty())
        report_.warning(where, "the name disagrees with the properties: " + differences);
}

void BdfCheck::describeFont()
{
    std::string name;
    if (prop(kFamilyName).present && !prop(kFamilyName).text.empty()) {
        name = shown(prop(kFamilyName).text, 60);
    } else if (!fontName_.empty()) {
        // The family field of an XLFD name, or the whole name.
        if (fontName_[0] == '-') {
            const size_t a = fontName_.find('-', 1);
            const size_t b = a == string_view::npos ? a : fontName_.find('-', a + 1);
            name = b == string_view::npos ? shown(fontName_, 60) : shown(fontName_.substr(a + 1, b - a - 1), 60);
        } else {
            name = shown(fontName_, 60);
        }
    }
    if (name.empty())
        name = "(no name)";
    const Property& weight = prop(kWeightName);
    if (weight.present && !weight.text.empty()) {
        static constexpr string_view kPlain[] = {"Regular", "Normal", "Medium", "Book", "Roman"};
        bool plain = false;
        for (const string_view w : kPlain)
            plain = plain || equalsIgnoringCase(weight.text, w);
        if (!plain)
            name += " " + shown(weight.text, 24);
    }
    const Property& slant = prop(kSlant);
    if (slant.present) {
        static constexpr std::pair<string_view, string_view> kSlants[] = {
            {"I", "Italic"},           {"O", "Oblique"},    {"RI", "Reverse Italic"},
            {"RO", "Reverse Oblique"}, {"OT", "Other slant"}};
        for (const auto& [code, words] : kSlants)
            if (equalsIgnoringCase(slant.text, code))
                name += " " + std::string(words);
    }
    const Property& point = prop(kPointSize);
    const int64_t deci = point.present ? point.value : pointDeci_;
    const int64_t resX = prop(kResolutionX).present ? prop(kResolutionX).value : resolutionX_;
    const int64_t resY = prop(kResolutionY).present ? prop(kResolutionY).value : resolutionY_;
    std::string line = name;
    if (deci > 0)
        line += " " + pixels(static_cast<double>(deci) / 10) + " pt";
    if (resX > 0 || resY > 0)
        line += " (" + number(resX) + " x " + number(resY) + " dpi)";
    if (prop(kPixelSize).present)
        line += ", " + plural(prop(kPixelSize).value, "pixel", "pixels") + " high";
    report_.fonts.push_back(line);
}

}  // namespace

void checkBdf(std::span<const uint8_t> bytes, CheckReport& report, const std::function<void(size_t)>& passed)
{
    report.format = "BDF";
    BdfCheck check(bytes, report);
    check.run(passed);
}

}  // namespace qf

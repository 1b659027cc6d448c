#include "formats/BdfWriter.h"

#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "formats/UnicodeGlyphs.h"
#include "formats/XlfdProperties.h"
#include "render/GlyphRasteriser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>
#include <climits>
#include <cstring>
#include <vector>

namespace qf {

namespace {

// The file's text, grown by hand so that no allocation ever exceeds what a writer may take (a
// string left to grow by itself may double its block past that).
class BoundedText {
public:
    // Lines end in CR LF, as the code page files always have, or in LF alone: X11's mkfontdir
    // takes a CR into the font's name, which then matches no pattern.
    explicit BoundedText(OutputSink& out, bool crlf = true) : out_(out), crlf_(crlf) { out_.clear(); }

    bool ok() const { return !out_.overflowed(); }
    bool crlf() const { return crlf_; }

    void append(const char* data, size_t size) { out_.append(data, size); }

    // Lengthens the text by size characters and gives where they go, for the caller to write every
    // one; null past the cap.
    char* extend(size_t size) { return reinterpret_cast<char*>(out_.extendUnfilled(size)); }

private:
    OutputSink& out_;
    bool crlf_;
};

// One line, built without printf and ended with CR LF: the glyphs' lines are nearly all of a BDF's
// text, and formatting them through printf cost more than drawing the glyphs.
class Line {
public:
    Line& text(std::string_view s)
    {
        const size_t n = std::min(s.size(), sizeof buffer_ - 2 - size_);
        std::memcpy(buffer_ + size_, s.data(), n);
        size_ += n;
        return *this;
    }
    Line& number(long long value)
    {
        const auto r = std::to_chars(buffer_ + size_, buffer_ + sizeof buffer_ - 2, value);
        size_ = static_cast<size_t>(r.ptr - buffer_);
        return *this;
    }
    // At least four upper-case hexadecimal digits, as printf's %.4X.
    Line& hex4(unsigned value)
    {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, value, 16);
        const size_t n = static_cast<size_t>(r.ptr - digits);
        for (size_t i = n; i < 4; ++i)
            text("0");
        for (size_t i = 0; i < n; ++i)
            digits[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
        return text(std::string_view(digits, n));
    }
    void into(BoundedText& out)
    {
        if (out.crlf())
            buffer_[size_++] = '\r';
        buffer_[size_++] = '\n';
        out.append(buffer_, size_);
    }

private:
    char buffer_[256];
    size_t size_ = 0;
};

bool keptInName(unsigned char c) { return c >= 0x21 && c <= 0x7F; }

std::string filtered(const char* s)
{
    std::string out;
    if (s)
        for (; *s; ++s)
            if (keptInName(static_cast<unsigned char>(*s)))
                out += *s;
    return out;
}

// "00" to "FF", two characters for each byte value.
struct HexPairs {
    char text[512];
    constexpr HexPairs() : text()
    {
        constexpr char digits[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            text[2 * b] = digits[b >> 4];
            text[2 * b + 1] = digits[b & 0x0F];
        }
    }
};
constexpr HexPairs kHex;

}  // namespace

std::string BdfWriter::fontName(const char* name, const char* faceName)
{
    std::string result = filtered(name);
    if (result.empty())
        result = filtered(faceName);
    if (result.empty())
        result = kFallbackName;
    return result;
}

WriteProblem BdfWriter::write(gdi::DeviceContext& dc, const WriteRequest& request, OutputSink& out) const
{
    return realiseAndPack(dc, request, out, [&dc](GlyphSource& glyphs, const WriteRequest& r, OutputSink& o) {
        if (r.unicode())
            return packUnicode(glyphs, r, o);
        // The character set the font was realised with decides how its bytes were drawn.
        return pack(glyphs, gdi::byteCharacters(glyphs.metrics().tmCharSet, dc.oemCodePage()), r, o);
    });
}

namespace {

// A BDF property line: text values quoted, a quote inside doubled.
void propertyLine(const FontProperty& p, BoundedText& text)
{
    Line line;
    line.text(p.name).text(" ");
    if (!p.isText) {
        line.number(p.value).into(text);
        return;
    }
    std::string quoted = "\"";
    for (const char c : p.text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    line.text(quoted + "\"").into(text);
}

// SIZE, FONTBOUNDINGBOX (width, height, left, bottom) and the lines from STARTPROPERTIES to CHARS.
void headerLines(BoundedText& text, const WriteRequest& request, const int32_t (&box)[4],
                 const std::vector<FontProperty>& properties, long long chars)
{
    Line().text("SIZE ").number(request.pointSize).text(" ").number(request.resolutionX).text(" ")
        .number(request.resolutionY).into(text);
    Line().text("FONTBOUNDINGBOX ").number(box[0]).text(" ").number(box[1]).text(" ").number(box[2]).text(" ")
        .number(box[3]).into(text);
    Line().text("STARTPROPERTIES ").number(static_cast<long long>(properties.size())).into(text);
    for (const FontProperty& p : properties)
        propertyLine(p, text);
    Line().text("ENDPROPERTIES").into(text);
    Line().text("CHARS ").number(chars).into(text);
}

// A glyph's SWIDTH (its advance in thousandths of the size at its resolution: divisor is the
// point size times the horizontal resolution), DWIDTH, BBX and BITMAP lines.
void metricLines(BoundedText& text, int64_t swidthDivisor, int32_t advance, int width, int height, int left,
                 int bottom)
{
    Line()
        .text("SWIDTH ")
        .number(swidthDivisor > 0 ? static_cast<long long>(int64_t{advance} * 72000 / swidthDivisor) : 0LL)
        .text(" 0")
        .into(text);
    Line().text("DWIDTH ").number(advance).text(" 0").into(text);
    Line().text("BBX ").number(width).text(" ").number(height).text(" ").number(left).text(" ").number(bottom)
        .into(text);
    Line().text("BITMAP").into(text);
}

// One row of a glyph's bitmap in hexadecimal. False past the cap.
bool hexRow(BoundedText& text, const uint8_t* row, size_t bytes)
{
    const size_t ending = text.crlf() ? 2 : 1;
    char* line = text.extend(bytes * 2 + ending);
    if (!line)
        return false;
    for (size_t k = 0; k < bytes; ++k)
        std::memcpy(line + 2 * k, kHex.text + 2 * row[k], 2);
    if (text.crlf())
        line[2 * bytes] = '\r';
    line[2 * bytes + ending - 1] = '\n';
    return true;
}

}  // namespace

WriteProblem BdfWriter::packUnicode(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out)
{
    out.clear();
    UnicodeGlyphs drawn;
    // The pixels are held whole; their text, more than two characters for every byte of them,
    // streams (a whole repertoire at a large size passes what memory should hold).
    if (WriteProblem problem = drawUnicodeGlyphs(glyphs, request, kMaxAllocation, drawn))
        return problem;
    const gdi::TEXTMETRIC& tm = drawn.metrics;
    const std::vector<FontProperty> properties = xlfdProperties(tm, request, drawn.facts);

    BoundedText text(out, false);
    out.streamUpTo(kMaxStreamedFile);
    Line().text("STARTFONT 2.1").into(text);
    Line().text("FONT ").text(xlfdName(properties)).into(text);
    const int32_t box[4] = {drawn.boxRight - drawn.boxLeft, drawn.boxTop - drawn.boxBottom, drawn.boxLeft,
                            drawn.boxBottom};
    headerLines(text, request, box, properties, static_cast<long long>(drawn.glyphs.size()));

    const int64_t swidthDivisor = static_cast<int64_t>(request.pointSize) * request.resolutionX;
    for (size_t i = 0; i < drawn.glyphs.size() && text.ok(); ++i) {
        const UnicodeGlyph& g = drawn.glyphs[i];
        Line name;
        name.text(g.code <= 0xFFFF ? "STARTCHAR uni" : "STARTCHAR u").hex4(g.code).into(text);
        Line().text("ENCODING ").number(g.code).into(text);
        metricLines(text, swidthDivisor, g.advance, g.width, g.height, g.width ? g.left : 0, g.width ? g.bottom : 0);
        const size_t bpr = static_cast<size_t>(g.rowBytes());
        for (int32_t r = 0; r < g.height; ++r) {
            if (!hexRow(text, drawn.bits.data() + g.offset + static_cast<size_t>(r) * bpr, bpr))
                break;
        }
        Line().text("ENDCHAR").into(text);
    }
    Line().text("ENDFONT").into(text);
    if (!text.ok()) {
        const uint64_t cap = out.cap();  // the streamed cap; clearing puts back the held one
        out.clear();
        return Refusal(request)("the BDF text would exceed " + std::to_string(cap >> 20) + " MiB");
    }
    return {};
}

WriteProblem BdfWriter::pack(GlyphSource& glyphs, const gdi::ByteMap& characters, const WriteRequest& request,
                             OutputSink& out)
{
    out.clear();
    const gdi::TEXTMETRIC& tm = glyphs.metrics();
    const Refusal refuse(request);
    const int32_t pointSize = request.pointSize;
    const int32_t resolutionX = request.resolutionX;
    const int32_t resolutionY = request.resolutionY;
    if (tm.tmHeight < 1 || tm.tmMaxCharWidth < 0)
        return refuse("the realised font has no usable cell (height " + std::to_string(tm.tmHeight) +
                      ", widest character " + std::to_string(tm.tmMaxCharWidth) + ")");

    const int64_t scratchWidth = ink::marginScratchWidth(tm);
    if (scratchWidth > INT32_MAX)
        return refuse("a scratch bitmap " + std::to_string(scratchWidth) + " pixels wide is too wide");
    if (const qf::Status prepared = glyphs.prepare(static_cast<int>(scratchWidth)); !prepared)
        return refuse(prepared.failure().reason());

    const int first = tm.tmFirstChar;
    const int last = tm.tmLastChar;
    const int count = last >= first ? last - first + 1 : 0;
    const int height = tm.tmHeight;

    BoundedText text(out);
    Line().text("STARTFONT 2.1").into(text);
    Line().text("FONT ").text(fontName(request.name.c_str(), request.font.lfFaceName)).into(text);
    // X11's bdftopcf needs the ascent and descent, and readers map glyphs by character only when
    // the registry says the encodings are Unicode values.
    const std::vector<FontProperty> properties = {
        {"FONT_ASCENT", false, {}, tm.tmAscent},
        {"FONT_DESCENT", false, {}, tm.tmHeight - tm.tmAscent},
        {"POINT_SIZE", false, {}, static_cast<int64_t>(pointSize) * 10},
        {"PIXEL_SIZE", false, {}, tm.tmHeight - tm.tmInternalLeading},
        {"RESOLUTION_X", false, {}, resolutionX},
        {"RESOLUTION_Y", false, {}, resolutionY},
        {"CHARSET_REGISTRY", true, "ISO10646", 0},
        {"CHARSET_ENCODING", true, "1", 0},
    };
    const int32_t fontBox[4] = {tm.tmMaxCharWidth, tm.tmHeight, 0, tm.tmAscent - tm.tmHeight};
    headerLines(text, request, fontBox, properties, count);

    const int64_t swidthDivisor = static_cast<int64_t>(pointSize) * resolutionX;
    std::vector<bool> taken(0x10000, false);  // characters an earlier code took
    std::vector<uint8_t> columns;
    std::vector<uint8_t> cropped;

    for (int i = 0; i < count && text.ok(); ++i) {
        const auto code = static_cast<uint8_t>(first + i);
        const RenderedGlyph glyph = glyphs.render(code, kMargin);
        const ink::RowLayout layout(glyph);

        // Rows: blank when no byte of the whole row holds ink. Columns: 32 left of the origin, the
        // advance, and 32 right of it, within the bitmap.
        const ink::InkBox box = ink::findMarginInkBox(glyph, layout, height, columns);

        const char32_t u = characters[code];
        bool encoded = u != gdi::kUnmapped && u < taken.size() && !taken[u];
        if (encoded)
            taken[u] = true;
        if (u == gdi::kUnmapped)
            Line().text("STARTCHAR uniFFFD.").hex4(code).into(text);  // no character: named by its byte code
        else
            Line().text("STARTCHAR uni").hex4(u).text(".").hex4(u).into(text);
        Line().text("ENCODING ").number(encoded ? static_cast<long long>(u) : -1LL).into(text);
        if (box.empty()) {
            metricLines(text, swidthDivisor, glyph.cx, 0, 0, 0, 0);
        } else {
            metricLines(text, swidthDivisor, glyph.cx, box.width(), box.height(), box.left - kMargin,
                        tm.tmAscent - box.bottom - 1);
            const int bpr = (box.width() + 7) / 8;
            cropped.resize(static_cast<size_t>(bpr));
            for (int r = box.top; r <= box.bottom; ++r) {
                ink::cropRow(glyph, layout, r, box.left, bpr, cropped.data());
                if (!hexRow(text, cropped.data(), static_cast<size_t>(bpr)))
                    break;
            }
        }
        Line().text("ENDCHAR").into(text);
    }
    glyphs.finish();
    Line().text("ENDFONT").into(text);
    if (!text.ok()) {
        out.clear();
        return refuse("the BDF text would exceed " + std::to_string(out.cap() >> 20) + " MiB");
    }
    return {};
}

}  // namespace qf

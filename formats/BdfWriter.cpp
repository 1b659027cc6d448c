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

    // Lengthens the text by size characters and gives where they go; null past the cap.
    char* extend(size_t size) { return reinterpret_cast<char*>(out_.extend(size)); }

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
    Line().text("SIZE ").number(request.pointSize).text(" ").number(request.resolutionX).text(" ")
        .number(request.resolutionY).into(text);
    Line()
        .text("FONTBOUNDINGBOX ")
        .number(drawn.boxRight - drawn.boxLeft)
        .text(" ")
        .number(drawn.boxTop - drawn.boxBottom)
        .text(" ")
        .number(drawn.boxLeft)
        .text(" ")
        .number(drawn.boxBottom)
        .into(text);
    Line().text("STARTPROPERTIES ").number(static_cast<long long>(properties.size())).into(text);
    for (const FontProperty& p : properties)
        propertyLine(p, text);
    Line().text("ENDPROPERTIES").into(text);
    Line().text("CHARS ").number(static_cast<long long>(drawn.glyphs.size())).into(text);

    const int64_t swidthDivisor = static_cast<int64_t>(request.pointSize) * request.resolutionX;
    for (size_t i = 0; i < drawn.glyphs.size() && text.ok(); ++i) {
        const UnicodeGlyph& g = drawn.glyphs[i];
        Line name;
        name.text(g.code <= 0xFFFF ? "STARTCHAR uni" : "STARTCHAR u").hex4(g.code).into(text);
        Line().text("ENCODING ").number(g.code).into(text);
        Line()
            .text("SWIDTH ")
            .number(swidthDivisor > 0 ? static_cast<long long>(int64_t{g.advance} * 72000 / swidthDivisor) : 0LL)
            .text(" 0")
            .into(text);
        Line().text("DWIDTH ").number(g.advance).text(" 0").into(text);
        Line()
            .text("BBX ")
            .number(g.width)
            .text(" ")
            .number(g.height)
            .text(" ")
            .number(g.width ? g.left : 0)
            .text(" ")
            .number(g.width ? g.bottom : 0)
            .into(text);
        Line().text("BITMAP").into(text);
        const size_t bpr = static_cast<size_t>(g.rowBytes());
        for (int32_t r = 0; r < g.height; ++r) {
            char* line = text.extend(bpr * 2 + 1);
            if (!line)
                break;
            const uint8_t* row = drawn.bits.data() + g.offset + static_cast<size_t>(r) * bpr;
            for (size_t k = 0; k < bpr; ++k)
                std::memcpy(line + 2 * k, kHex.text + 2 * row[k], 2);
            line[2 * bpr] = '\n';
        }
        Line().text("ENDCHAR").into(text);
    }
    Line().text("ENDFONT").into(text);
    if (!text.ok()) {
        out.clear();
        return Refusal(request)("the BDF text would exceed " + std::to_string(out.cap() >> 20) + " MiB");
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
    std::string why;
    if (!glyphs.prepare(static_cast<int>(scratchWidth), &why))
        return refuse(why);

    const int first = tm.tmFirstChar;
    const int last = tm.tmLastChar;
    const int count = last >= first ? last - first + 1 : 0;
    const int height = tm.tmHeight;

    BoundedText text(out);
    Line().text("STARTFONT 2.1").into(text);
    Line().text("FONT ").text(fontName(request.name.c_str(), request.font.lfFaceName)).into(text);
    Line().text("SIZE ").number(pointSize).text(" ").number(resolutionX).text(" ").number(resolutionY).into(text);
    Line()
        .text("FONTBOUNDINGBOX ")
        .number(tm.tmMaxCharWidth)
        .text(" ")
        .number(tm.tmHeight)
        .text(" 0 ")
        .number(tm.tmAscent - tm.tmHeight)
        .into(text);
    // X11's bdftopcf needs the ascent and descent, and readers map glyphs by character only when
    // the registry says the encodings are Unicode values.
    Line().text("STARTPROPERTIES 8").into(text);
    Line().text("FONT_ASCENT ").number(tm.tmAscent).into(text);
    Line().text("FONT_DESCENT ").number(tm.tmHeight - tm.tmAscent).into(text);
    Line().text("POINT_SIZE ").number(static_cast<long long>(pointSize) * 10).into(text);
    Line().text("PIXEL_SIZE ").number(tm.tmHeight - tm.tmInternalLeading).into(text);
    Line().text("RESOLUTION_X ").number(resolutionX).into(text);
    Line().text("RESOLUTION_Y ").number(resolutionY).into(text);
    Line().text("CHARSET_REGISTRY \"ISO10646\"").into(text);
    Line().text("CHARSET_ENCODING \"1\"").into(text);
    Line().text("ENDPROPERTIES").into(text);
    Line().text("CHARS ").number(count).into(text);

    const int64_t swidthDivisor = static_cast<int64_t>(pointSize) * resolutionX;
    std::vector<bool> taken(0x10000, false);  // characters an earlier code took
    std::vector<uint8_t> columns;
    std::vector<uint8_t> cropped;

    for (int i = 0; i < count && text.ok(); ++i) {
        const auto code = static_cast<uint8_t>(first + i);
        const RenderedGlyph glyph = glyphs.render(code, kMargin);
        const int32_t cx = glyph.cx;
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
        Line()
            .text("SWIDTH ")
            .number(swidthDivisor > 0 ? static_cast<long long>(int64_t{cx} * 72000 / swidthDivisor) : 0LL)
            .text(" 0")
            .into(text);
        Line().text("DWIDTH ").number(cx).text(" 0").into(text);
        if (!box.empty())
            Line()
                .text("BBX ")
                .number(box.width())
                .text(" ")
                .number(box.height())
                .text(" ")
                .number(box.left - kMargin)
                .text(" ")
                .number(tm.tmAscent - box.bottom - 1)
                .into(text);
        else
            Line().text("BBX 0 0 0 0").into(text);
        Line().text("BITMAP").into(text);
        if (!box.empty()) {
            const int bpr = (box.width() + 7) / 8;
            cropped.resize(static_cast<size_t>(bpr));
            const size_t lineLength = static_cast<size_t>(bpr) * 2 + 2;
            for (int r = box.top; r <= box.bottom; ++r) {
                char* line = text.extend(lineLength);
                if (!line)
                    break;
                ink::cropRow(glyph, layout, r, box.left, bpr, cropped.data());
                for (int k = 0; k < bpr; ++k)
                    std::memcpy(line + 2 * k, kHex.text + 2 * cropped[k], 2);
                line[2 * bpr] = '\r';
                line[2 * bpr + 1] = '\n';
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

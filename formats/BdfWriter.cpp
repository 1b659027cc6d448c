#include "formats/BdfWriter.h"

#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "render/GlyphRasteriser.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qf {

namespace {

// The file's text, grown by hand so that no allocation ever exceeds what a writer may take (a
// string left to grow by itself may double its block past that).
class BoundedText {
public:
    explicit BoundedText(OutputSink& out) : out_(out) { out_.clear(); }

    bool ok() const { return !out_.overflowed(); }

    void append(const char* data, size_t size) { out_.append(data, size); }

    // Lengthens the text by size characters and gives where they go; null past the cap.
    char* extend(size_t size) { return reinterpret_cast<char*>(out_.extend(size)); }

    // One line, the CR LF added.
    void line(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[256];
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(buffer, sizeof buffer - 2, format, args);
        va_end(args);
        const size_t length = n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 3);
        buffer[length] = '\r';
        buffer[length + 1] = '\n';
        append(buffer, length + 2);
    }

private:
    OutputSink& out_;
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
        // The character set the font was realised with decides how its bytes were drawn.
        return pack(glyphs, gdi::byteCharacters(glyphs.metrics().tmCharSet, dc.oemCodePage()), r, o);
    });
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

    const int64_t scratchWidth = int64_t{4} * tm.tmMaxCharWidth + 2 * kMargin;
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
    text.line("STARTFONT 2.1");
    text.line("FONT %s", fontName(request.name.c_str(), request.font.lfFaceName).c_str());
    text.line("SIZE %d %d %d", pointSize, resolutionX, resolutionY);
    text.line("FONTBOUNDINGBOX %d %d 0 %d", tm.tmMaxCharWidth, tm.tmHeight, tm.tmAscent - tm.tmHeight);
    // X11's bdftopcf needs the ascent and descent, and readers map glyphs by character only when
    // the registry says the encodings are Unicode values.
    text.line("STARTPROPERTIES 8");
    text.line("FONT_ASCENT %d", tm.tmAscent);
    text.line("FONT_DESCENT %d", tm.tmHeight - tm.tmAscent);
    text.line("POINT_SIZE %lld", static_cast<long long>(pointSize) * 10);
    text.line("PIXEL_SIZE %d", tm.tmHeight - tm.tmInternalLeading);
    text.line("RESOLUTION_X %d", resolutionX);
    text.line("RESOLUTION_Y %d", resolutionY);
    text.line("CHARSET_REGISTRY \"ISO10646\"");
    text.line("CHARSET_ENCODING \"1\"");
    text.line("ENDPROPERTIES");
    text.line("CHARS %d", count);

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
            text.line("STARTCHAR uniFFFD.%.4X", code);  // no character: named by its byte code
        else
            text.line("STARTCHAR uni%.4X.%.4X", static_cast<unsigned>(u), static_cast<unsigned>(u));
        text.line("ENCODING %ld", encoded ? static_cast<long>(u) : -1L);
        text.line("SWIDTH %lld 0",
                  swidthDivisor > 0 ? static_cast<long long>(int64_t{cx} * 72000 / swidthDivisor) : 0LL);
        text.line("DWIDTH %d 0", cx);
        if (!box.empty())
            text.line("BBX %d %d %d %d", box.width(), box.height(), box.left - kMargin,
                      tm.tmAscent - box.bottom - 1);
        else
            text.line("BBX 0 0 0 0");
        text.line("BITMAP");
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
        text.line("ENDCHAR");
    }
    glyphs.finish();
    text.line("ENDFONT");
    if (!text.ok()) {
        out.clear();
        return refuse("the BDF text would exceed " + std::to_string(out.cap() >> 20) + " MiB");
    }
    return {};
}

}  // namespace qf

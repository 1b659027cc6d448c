#include "formats/PclSoftFontWriter.h"

#include "formats/ByteWriter.h"
#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "render/GlyphRasteriser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qf {

namespace {

constexpr char kFontHeaderCommand[] = "\x1b)s64W";
constexpr size_t kDescriptorSize = 64;
constexpr size_t kFontNameSize = 16;
static_assert(PclSoftFontWriter::kHeaderSize == sizeof kFontHeaderCommand - 1 + kDescriptorSize,
              "the font header is its command and its descriptor");
// Image offsets of the fields known only once every character has been rendered.
constexpr size_t kOffsetCellWidth = 6 + 8;
constexpr size_t kOffsetPitch = 6 + 16;

constexpr uint8_t kFormatLaserJet = 4;
constexpr uint8_t kClassBitmap = 1;

// A PCL command with one decimal parameter, such as ESC *c65E.
void command(OutputSink& out, const char* format, long value)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, format, value);
    out.append(text, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1)));
}

// Transposes an 8 x 8 bit block: byte r of the input (most significant first) is row r, bit 7 its
// column 0; byte i of the result holds column i, its bit 7 - r from row r.
uint64_t transpose8(uint64_t x)
{
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    return x ^ t ^ (t << 28);
}

// Turns the cropped rows 90 degrees counter-clockwise: output row j holds cropped column
// w - 1 - j, its bit m set when cropped row m has ink there. Works on 8 x 8 pixel blocks; the
// pixels right of the box in the cropped rows' last bytes are left out.
void rotate(const std::vector<uint8_t>& cropped, int w, int h, std::vector<uint8_t>& out)
{
    const int inBytes = (w + 7) / 8;
    const int outBytes = (h + 7) / 8;
    out.assign(static_cast<size_t>(w) * outBytes, 0);
    for (int m0 = 0; m0 < h; m0 += 8) {
        const int rows = std::min(8, h - m0);
        for (int k = 0; k < inBytes; ++k) {
            uint64_t block = 0;
            for (int r = 0; r < rows; ++r)
                block |= uint64_t{cropped[static_cast<size_t>(m0 + r) * inBytes + k]} << (56 - 8 * r);
            if (block == 0)
                continue;
            block = transpose8(block);
            const int columns = std::min(8, w - k * 8);
            for (int i = 0; i < columns; ++i)
                out[static_cast<size_t>(w - 1 - (k * 8 + i)) * outBytes + m0 / 8] =
                    static_cast<uint8_t>(block >> (56 - 8 * i));
        }
    }
}

}  // namespace

int PclSoftFontWriter::symbolSetValue(const char* id)
{
    if (!id)
        return 0;
    int value = 0;
    int weight = 32;
    for (size_t i = std::strlen(id); i-- > 0;) {
        const char c = id[i];
        if (c == ' ')
            break;
        if (c >= '0' && c <= '9') {
            value += (c - '0') * weight;
            weight *= 10;
        } else {
            value += static_cast<unsigned char>(c) - 64;
        }
    }
    return value;
}

WriteProblem PclSoftFontWriter::write(gdi::DeviceContext& dc, const WriteRequest& request,
                                      OutputSink& out) const
{
    return realiseAndPack(dc, request, out, [this](GlyphSource& glyphs, const WriteRequest& r, OutputSink& o) {
        return pack(glyphs, r, o, landscape_);
    });
}

namespace {

// The font header command and its descriptor; Cell Width and Pitch stay 0 until every character
// has been drawn. A failure, with the writer's reason, for a metric that does not fit its field.
qf::Status writeFontHeader(const gdi::TEXTMETRIC& tm, const WriteRequest& request, bool landscape,
                           uint8_t (&header)[PclSoftFontWriter::kHeaderSize])
{
    ByteWriter hw(header, sizeof header);
    const std::string fontName = std::string(request.name.c_str()).substr(0, kFontNameSize) + std::string(kFontNameSize, ' ');
    hw.bytes("font header command", kFontHeaderCommand, 6)
        .be16("Font Descriptor Size", kDescriptorSize)
        .u8("Header Format", 0)
        .u8("Font Type", 2)
        .u8("Style MSB", 0)
        .u8("Reserved", 0)
        .be16("Baseline Position", tm.tmAscent)
        .be16("Cell Width", 0)
        .be16("Cell Height", tm.tmHeight)
        .u8("Orientation", landscape ? 1 : 0)
        .u8("Spacing", 1)
        .be16("Symbol Set", request.pclSymbolSet())
        .be16("Pitch", 0)
        .be16("Height", int64_t{4} * (tm.tmHeight - tm.tmInternalLeading))  // the em, in quarter dots
        .be16("xHeight", 0)
        .s8("Width Type", 0)
        .u8("Style LSB", 0)
        .s8("Stroke Weight", 0)
        .u8("Typeface LSB", 0)
        .u8("Typeface MSB", 0)
        .u8("Serif Style", 0)
        .u8("Quality", 0)
        .s8("Placement", 0)
        .s8("Underline Distance", 0)
        .u8("Underline Height", 0)
        .be16("Text Height", 0)
        .be16("Text Width", 0)
        .be16("First Code", tm.tmFirstChar)
        .be16("Last Code", tm.tmLastChar)
        .u8("Pitch Extended", 0)
        .u8("Height Extended", 0)
        .be16("Cap Height", 0)
        .be32("Font Number", 0)
        .bytes("Font Name", fontName.data(), kFontNameSize);
    if (!hw.ok())
        return qf::Failure{hw.error()};
    if (hw.position() != sizeof header)
        return qf::Failure{"the font header came out at " + std::to_string(hw.position()) + " bytes"};
    return qf::Status();
}

// One character's download: its descriptor and raster, split into continuation blocks where it
// is long. A failure for an offset or size that does not fit its field.
qf::Status writeCharacter(OutputSink& out, int code, const RenderedGlyph& glyph, const ink::InkBox& box,
                          const gdi::TEXTMETRIC& tm, bool landscape, const std::vector<uint8_t>& raster)
{
    const int w = box.width();
    const int h = box.height();
    uint8_t descriptor[PclSoftFontWriter::kCharDescriptorSize];
    ByteWriter d(descriptor, sizeof descriptor);
    d.u8("Format", kFormatLaserJet)
        .u8("Continuation", 0)
        .u8("Descriptor Size", 14)
        .u8("Class", kClassBitmap)
        .u8("Orientation", landscape ? 1 : 0)
        .u8("Reserved", 0)
        .sbe16("Left Offset", landscape ? box.top - tm.tmAscent : box.left - ink::kMargin)
        .sbe16("Top Offset", landscape ? box.right - ink::kMargin : tm.tmAscent - box.top)
        .be16("Character Width", landscape ? h : w)
        .be16("Character Height", landscape ? w : h)
        .sbe16("Delta X", int64_t{4} * glyph.cx);
    if (!d.ok())
        return qf::Failure{"character " + std::to_string(code) + ": " + d.error()};

    // One download carries at most 32,767 bytes; the rest follows in continuation blocks, each at
    // least 4 bytes long (2 of header, 2 of raster).
    const size_t kMaxBlock = PclSoftFontWriter::kMaxBlock;
    const size_t total = raster.size();
    size_t chunk = std::min<size_t>(total, kMaxBlock - sizeof descriptor);
    if (total - chunk == 1)
        --chunk;
    command(out, "\x1b*c%ldE", code);
    command(out, "\x1b(s%ldW", static_cast<long>(sizeof descriptor + chunk));
    out.append(descriptor, sizeof descriptor);
    out.append(raster.data(), chunk);
    for (size_t pos = chunk; pos < total; pos += chunk) {
        chunk = std::min<size_t>(total - pos, kMaxBlock - 2);
        if (total - pos - chunk == 1)
            --chunk;
        const uint8_t continuation[2] = {kFormatLaserJet, 1};
        command(out, "\x1b(s%ldW", static_cast<long>(2 + chunk));
        out.append(continuation, sizeof continuation);
        out.append(raster.data() + pos, chunk);
    }
    return qf::Status();
}

}  // namespace

WriteProblem PclSoftFontWriter::pack(GlyphSource& glyphs, const WriteRequest& request, OutputSink& out,
                                     bool landscape)
{
    out.clear();
    const Refusal refuse(request);
    const gdi::TEXTMETRIC& tm = glyphs.metrics();
    if (tm.tmHeight < 1 || tm.tmMaxCharWidth < 1)
        return refuse("the realised font has no usable cell (height " + std::to_string(tm.tmHeight) +
                          ", widest character " + std::to_string(tm.tmMaxCharWidth) + ")");
    // Drawn into margins as for BDF, so ink left of the origin or right of the advance is kept:
    // a character's signed offsets place its ink box wherever it lies.
    const int64_t scratchWidth = ink::marginScratchWidth(tm);
    if (scratchWidth > INT32_MAX)
        return refuse("a scratch bitmap " + std::to_string(scratchWidth) + " pixels wide is too wide");

    uint8_t header[kHeaderSize] = {};
    if (const qf::Status written = writeFontHeader(tm, request, landscape, header); !written)
        return refuse(written.failure().reason());
    if (const qf::Status prepared = glyphs.prepare(static_cast<int>(scratchWidth)); !prepared)
        return refuse(prepared.failure().reason());
    out.append(header, sizeof header);

    const int height = tm.tmHeight;
    int32_t widest = 0;
    int32_t breakAdvance = -1;
    std::vector<uint8_t> columns;
    std::vector<uint8_t> cropped;
    std::vector<uint8_t> rotated;
    qf::Status written;
    for (int code = tm.tmFirstChar; code <= tm.tmLastChar && !out.overflowed() && written; ++code) {
        const RenderedGlyph glyph = glyphs.render(static_cast<uint8_t>(code), ink::kMargin);
        widest = std::max(widest, glyph.cx);
        if (code == tm.tmBreakChar)
            breakAdvance = glyph.cx;
        const ink::RowLayout layout(glyph);
        const ink::InkBox box = ink::findMarginInkBox(glyph, layout, height, columns);
        if (box.empty())
            continue;  // nothing a printer would show: not downloaded
        const int w = box.width();
        const int h = box.height();
        const int bpr = (w + 7) / 8;
        cropped.resize(static_cast<size_t>(h) * bpr);
        for (int r = 0; r < h; ++r)
            ink::cropRow(glyph, layout, box.top + r, box.left, bpr, cropped.data() + static_cast<size_t>(r) * bpr);
        if (landscape)
            rotate(cropped, w, h, rotated);
        written = writeCharacter(out, code, glyph, box, tm, landscape, landscape ? rotated : cropped);
    }
    glyphs.finish();
    if (!written || out.overflowed()) {
        out.clear();
        return refuse(!written ? written.failure().reason()
                               : "the soft font would exceed " + std::to_string(out.cap() >> 20) + " MiB");
    }

    // A printer advances over a code the font does not download (the space above all) by the
    // header's pitch, so it carries the break character's advance; the average width stands in
    // for a font without one.
    const int64_t pitch = breakAdvance > 0 ? breakAdvance : tm.tmAveCharWidth;
    ByteWriter patch(out.data(), out.size());
    patch.seek(kOffsetCellWidth).be16("Cell Width", widest);
    patch.seek(kOffsetPitch).be16("Pitch", 4 * pitch);
    if (!patch.ok()) {
        out.clear();
        return refuse(patch.error());
    }
    return {};
}

}  // namespace qf

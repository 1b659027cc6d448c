#include "ui/TargetBitmaps.h"

#include "formats/FntBuilder.h"
#include "formats/FontWriter.h"
#include "formats/InkScan.h"
#include "formats/WriterSupport.h"
#include "platform/DeviceContext.h"
#include "render/GlyphRasteriser.h"
#include "run/CodePageTable.h"
#include "run/GenerationRun.h"

#include <algorithm>
#include <cstdint>

namespace qf {

namespace {

// The stored bitmaps of one line are kept whole, so sizes far beyond what fits a screen are not
// shown rather than allowed to take memory by the hundred megabytes.
constexpr int64_t kMaxLineBytes = int64_t{64} << 20;

void StoreRows(TargetGlyph& glyph, const RenderedGlyph& drawn, const ink::RowLayout& layout, int firstColumn,
               int firstRow, int width, int height)
{
    glyph.width = width;
    glyph.height = height;
    const int bytesPerRow = (width + 7) / 8;
    glyph.bits.assign(static_cast<size_t>(bytesPerRow) * static_cast<size_t>(height), 0);
    for (int r = 0; r < height; ++r)
        ink::cropRow(drawn, layout, firstRow + r, firstColumn, bytesPerRow,
                     glyph.bits.data() + static_cast<size_t>(r) * bytesPerRow);
    // Columns past the width are not part of the bitmap.
    if (width % 8 != 0) {
        const auto mask = static_cast<uint8_t>(0xFF00 >> (width % 8));
        for (int r = 0; r < height; ++r)
            glyph.bits[static_cast<size_t>(r) * bytesPerRow + bytesPerRow - 1] &= mask;
    }
}

}  // namespace

bool TargetGlyph::inkAt(int x, int y) const
{
    const int col = x - left;
    const int row = y - top;
    if (col < 0 || row < 0 || col >= width || row >= height)
        return false;
    const size_t bytesPerRow = static_cast<size_t>((width + 7) / 8);
    return (bits[static_cast<size_t>(row) * bytesPerRow + static_cast<size_t>(col / 8)] & (0x80 >> (col % 8))) != 0;
}

TargetJudge::TargetJudge(const TargetRequest& request) : request_(request) {}

TargetJudge::~TargetJudge() = default;

std::string TargetJudge::refusal(int32_t size)
{
    if (!request_.format || request_.codePageRow < 0 || request_.codePageRow >= CodePageTable::rowCount())
        return {};
    const FormatInfo& format = formatInfo(*request_.format);
    if (!dc_) {
        // One device context for every size, as a run has; the characters resolved once, as a
        // run resolves them for each font.
        dc_ = std::make_unique<gdi::DeviceContext>();
        dc_->setResolution(request_.deviceDpiX, request_.deviceDpiY);
        CodePageTable::prepareDeviceContext(request_.codePageRow, *dc_);
        if (GenerationRun::holdsCodePage(format, request_.characters.has_value())) {
            repertoire_ = GenerationRun::codePageRepertoire(request_.codePageRow);
        } else {
            size_t beyond = 0;
            repertoire_ = std::make_shared<Repertoire>(GenerationRun::faceRepertoire(
                *dc_, request_.font, GenerationRun::unicodeSelection(request_.characters, format, request_.codePageRow),
                format, beyond));
        }
    }
    WriteRequest request;
    request.font = request_.font;
    request.pointSize = size;
    request.resolutionX = request_.resolutionX;
    request.resolutionY = request_.resolutionY;
    request.name = request_.name;
    request.repertoire = repertoire_;
    OutputSink file;
    const WriteProblem problem = writeSafely(writerFor(*request_.format), *dc_, request, file);
    if (problem.kind != WriteProblem::Kind::Refused)
        return {};
    return problem.failure.what;
}

namespace {

// The text by character, as the writers of Unicode files draw their repertoire (UnicodeGlyphs): a
// margin as wide as the widest character left of the origin, a cell's height of rows above and
// below it, each character's ink box kept wherever it lies. Characters the file will not hold
// are marked, not drawn.
void RenderUnicodeLine(TargetLine& line, const TargetRequest& request, const std::vector<char32_t>& held,
                       GlyphRasteriser& rasteriser, const std::function<bool()>& cancelled)
{
    const gdi::TEXTMETRIC& tm = rasteriser.metrics();
    const int64_t margin = std::max<int64_t>(ink::kMargin, tm.tmMaxCharWidth);
    const int64_t scratchWidth = 2 * margin + int64_t{4} * std::max<int64_t>(0, tm.tmMaxCharWidth);
    const int rowsAround = tm.tmHeight;
    const int64_t perGlyph = (scratchWidth + 7) / 8 * (int64_t{3} * tm.tmHeight);
    if (scratchWidth > INT32_MAX ||
        perGlyph * static_cast<int64_t>(std::max<size_t>(1, request.unicodeText.size())) > kMaxLineBytes) {
        line.error = "too large to show here (" + std::to_string(tm.tmHeight) + " pixels high)";
        return;
    }
    if (const qf::Status prepared = rasteriser.prepare(static_cast<int>(scratchWidth), rowsAround); !prepared) {
        line.error = prepared.failure().reason();
        return;
    }
    std::vector<uint8_t> columns;
    for (const char32_t c : request.unicodeText) {
        if (cancelled && cancelled())
            break;
        TargetGlyph glyph;
        glyph.code = c;
        if (!std::binary_search(held.begin(), held.end(), c)) {
            glyph.inFont = false;
            glyph.lacking = true;
            glyph.advance = line.averageWidth;
            line.glyphs.push_back(std::move(glyph));
            continue;
        }
        const RenderedGlyph drawn = rasteriser.renderCharacter(c, static_cast<int>(margin));
        glyph.advance = drawn.cx;
        const ink::RowLayout layout(drawn);
        const ink::InkBox box = ink::findInkBox(drawn, layout, columns);
        if (!box.empty()) {
            glyph.left = static_cast<int>(box.left - margin);
            glyph.top = box.top - rowsAround;
            StoreRows(glyph, drawn, layout, box.left, box.top, box.width(), box.height());
        }
        line.glyphs.push_back(std::move(glyph));
    }
    rasteriser.finish();
}

}  // namespace

std::vector<char32_t> HeldCharacters(const TargetRequest& request)
{
    std::vector<char32_t> held;
    if (!request.format || request.codePageRow < 0 || request.codePageRow >= CodePageTable::rowCount())
        return held;
    const FormatInfo& format = formatInfo(*request.format);
    gdi::DeviceContext dc;
    dc.setResolution(request.deviceDpiX, request.deviceDpiY);
    CodePageTable::prepareDeviceContext(request.codePageRow, dc);
    size_t beyond = 0;
    const Repertoire repertoire = GenerationRun::faceRepertoire(
        dc, request.font, GenerationRun::unicodeSelection(request.characters, format, request.codePageRow), format, beyond);
    std::u32string text = request.unicodeText;
    std::sort(text.begin(), text.end());
    text.erase(std::unique(text.begin(), text.end()), text.end());
    for (const char32_t c : text) {
        const auto at = std::lower_bound(repertoire.entries.begin(), repertoire.entries.end(), c,
                                         [](const Repertoire::Slot& slot, char32_t k) { return slot.character < k; });
        if (at != repertoire.entries.end() && at->character == c)
            held.push_back(c);
    }
    return held;
}

TargetLine RenderTargetLine(const TargetRequest& request, int32_t size, const std::function<bool()>& cancelled)
{
    TargetLine line;
    line.size = size;
    if (request.codePageRow < 0 || request.codePageRow >= CodePageTable::rowCount()) {
        line.error = "no code page is chosen";
        return line;
    }

    // The run's device context: its resolution decides the point font, the row its OEM code page.
    gdi::DeviceContext dc;
    dc.setResolution(request.deviceDpiX, request.deviceDpiY);
    CodePageTable::prepareDeviceContext(request.codePageRow, dc);

    GlyphRasteriser rasteriser(dc);
    if (const Status realised = rasteriser.realise(request.font, size, request.resolutionX, request.resolutionY);
        !realised) {
        line.error = realised.failure().reason();
        return line;
    }
    const gdi::TEXTMETRIC& tm = rasteriser.metrics();
    line.height = tm.tmHeight;
    line.ascent = tm.tmAscent;
    line.averageWidth = std::max<int>(1, tm.tmAveCharWidth);
    if (tm.tmHeight < 1) {
        line.error = "the realised font has no height";
        return line;
    }
    if (request.unicode) {
        RenderUnicodeLine(line, request, request.held ? *request.held : HeldCharacters(request), rasteriser, cancelled);
        return line;
    }

    const bool cell = request.storage == GlyphStorage::Cell;
    // The writers' own scratch widths: whatever a cell-storing format draws beyond the advance is
    // not stored, and an ink box may reach into the margins.
    const int64_t scratchWidth = cell ? FntBuilder::scratchWidth(tm) : ink::marginScratchWidth(tm);
    const int64_t perGlyph = (scratchWidth + 7) / 8 * tm.tmHeight;
    if (scratchWidth > INT32_MAX || perGlyph * static_cast<int64_t>(std::max<size_t>(1, request.text.size())) >
                                        kMaxLineBytes) {
        line.error = "too large to show here (" + std::to_string(tm.tmHeight) + " pixels high)";
        return line;
    }
    if (const qf::Status prepared = rasteriser.prepare(static_cast<int>(scratchWidth)); !prepared) {
        line.error = prepared.failure().reason();
        return line;
    }

    std::vector<uint8_t> columns;
    for (const char byte : request.text) {
        if (cancelled && cancelled())
            break;
        TargetGlyph glyph;
        glyph.code = static_cast<uint8_t>(byte);
        if (glyph.code < tm.tmFirstChar || glyph.code > tm.tmLastChar) {
            glyph.inFont = false;
            glyph.advance = line.averageWidth;
            line.glyphs.push_back(std::move(glyph));
            continue;
        }
        // Drawn as the writers draw it: at the scratch's left edge for a whole cell, after a margin
        // for an ink box, so ink left of the origin is kept.
        const RenderedGlyph drawn = rasteriser.render(static_cast<uint8_t>(glyph.code), cell ? 0 : ink::kMargin);
        glyph.advance = drawn.cx;
        const ink::RowLayout layout(drawn);
        if (cell) {
            glyph.left = 0;
            glyph.top = 0;
            StoreRows(glyph, drawn, layout, 0, 0, std::clamp(drawn.cx, 0, drawn.width), drawn.height);
        } else {
            const ink::InkBox box = ink::findMarginInkBox(drawn, layout, tm.tmHeight, columns);
            if (!box.empty()) {
                glyph.left = box.left - ink::kMargin;
                glyph.top = box.top;
                StoreRows(glyph, drawn, layout, box.left, box.top, box.width(), box.height());
            }
        }
        line.glyphs.push_back(std::move(glyph));
    }
    rasteriser.finish();
    return line;
}

}  // namespace qf

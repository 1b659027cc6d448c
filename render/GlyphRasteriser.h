// Realises a font at a point size and target resolution, then draws, reads back and measures its
// characters one at a time on a monochrome scratch bitmap. Every writer packs from these images.
#pragma once

#include "platform/DeviceContext.h"
#include "platform/Failure.h"
#include "platform/gdi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf {

// One character as drawn: its advance width and the scratch rows (top row first, widthBytes per
// row, most significant bit leftmost, 1 = ink).
struct RenderedGlyph {
    int code = 0;  // the byte code, or the character, drawn
    int32_t cx = 0;
    const uint8_t* rows = nullptr;
    int widthBytes = 0;  // bytes per row (even)
    int width = 0;       // scratch width in pixels
    int height = 0;      // rows (tmHeight, and the rows asked for around the cell)
    // Where drawing the character may have put ink, columns [inkLeft, inkRight) of rows
    // [inkTop, inkBottom): every pixel outside is blank, so a reader may look only inside. A
    // source that does not know gives the whole scratch bitmap.
    int inkLeft = 0, inkTop = 0, inkRight = 0, inkBottom = 0;
    bool inkKnown = false;

    bool pixel(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height &&
               (rows[y * widthBytes + x / 8] & (0x80 >> (x % 8))) != 0;
    }
};

// What a writer packs from: the realised font's metrics and its characters. The rasteriser is the
// real one; tests feed writers synthetic glyphs through the same interface.
class GlyphSource {
public:
    virtual ~GlyphSource() = default;
    virtual const gdi::TEXTMETRIC& metrics() const = 0;
    // Prepares a scratch bitmap `width` pixels wide and tmHeight rows high, with rowsAround more
    // above and below the cell for glyphs whose ink leaves it (stacked accents, say): the cell's
    // top row is then row rowsAround. A failure when it cannot be had (a size that would need
    // more memory than we allow).
    virtual qf::Status prepare(int width, int rowsAround = 0) = 0;
    // Clears the scratch bitmap, draws `code` with the cell's left edge at column originX, reads it
    // back and measures it. The result's rows stay valid until the next call.
    virtual RenderedGlyph render(uint8_t code, int originX) = 0;
    // The same for a character (a Unicode code point); the byte that stands for a character
    // gives the same glyph. The result's code is the character.
    virtual RenderedGlyph renderCharacter(char32_t character, int originX) = 0;
    // Puts back the bitmap the device context had before prepare().
    virtual void finish() = 0;
};

class GlyphRasteriser final : public GlyphSource {
public:
    explicit GlyphRasteriser(gdi::DeviceContext& dc);
    ~GlyphRasteriser() override;
    GlyphRasteriser(const GlyphRasteriser&) = delete;
    GlyphRasteriser& operator=(const GlyphRasteriser&) = delete;

    // Creates the point font and the rendering font and leaves the rendering font selected. A
    // failure for a size or resolution we cannot realise, or a font the platform could not load
    // (its reason as the cause, its file as the file); the face's name (UTF-8) is the failure's font.
    qf::Status realise(const gdi::LOGFONT& font, int32_t pointSize, int32_t resolutionX, int32_t resolutionY);

    const gdi::TEXTMETRIC& metrics() const override { return metrics_; }
    qf::Status prepare(int width, int rowsAround = 0) override;
    RenderedGlyph render(uint8_t code, int originX) override;
    RenderedGlyph renderCharacter(char32_t character, int originX) override;
    void finish() override;

    // A failure once the font's file changed on disk after realise(), saying how (its cause): the
    // glyphs drawn since may come from a file cut short, and are not to be written.
    qf::Status checkFontFile() const;

    // What realise() computed, for those who want to know how the font came about.
    const gdi::LOGFONT& renderingLogFont() const { return renderingLogFont_; }
    const gdi::TEXTMETRIC& pointMetrics() const { return pointMetrics_; }
    int32_t pointFontHeight() const { return pointFontHeight_; }
    const gdi::BITMAP& scratchBitmap() const { return bitmapInfo_; }

    // Largest point size and resolution accepted at all; within them, memory limits decide.
    static constexpr int32_t kMaxPointSize = 4000;
    static constexpr int32_t kMaxResolution = 65535;
    // Whether a target resolution can be made at all: every format stores it in 16 bits, and
    // the scales divide by it.
    static constexpr bool resolutionInRange(int64_t x, int64_t y)
    {
        return x >= 1 && y >= 1 && x <= kMaxResolution && y <= kMaxResolution;
    }

private:
    // render's work: draw(x) draws the glyph at column x and measure(size) gives its advance.
    template <class Draw, class Measure>
    RenderedGlyph renderWith(int code, int originX, Draw&& draw, Measure&& measure);

    gdi::DeviceContext& dc_;
    std::shared_ptr<gdi::Font> pointFont_;
    std::shared_ptr<gdi::Font> renderingFont_;
    std::shared_ptr<gdi::Bitmap> scratch_;
    std::shared_ptr<gdi::Bitmap> previousBitmap_;
    bool bitmapSelected_ = false;
    gdi::LOGFONT renderingLogFont_{};
    gdi::TEXTMETRIC pointMetrics_{};
    gdi::TEXTMETRIC metrics_{};
    gdi::BITMAP bitmapInfo_{};
    int32_t pointFontHeight_ = 0;
    gdi::RECT dirty_{};        // what drawing the last glyph changed, in scratch pixels
    bool clearAll_ = true;     // the next render clears the whole scratch bitmap
    int rowsAround_ = 0;       // rows of the scratch bitmap above the cell
    gdi::UINT boundsBefore_ = gdi::DCB_DISABLE;
    int bkModeBefore_ = gdi::OPAQUE;
};

// The rendering font's height and width from the point font's metrics, with the arithmetic order
// that matters for the result: quotient first (double), then the product, then truncation.
int32_t renderingHeight(int32_t ascent, int32_t resolutionY, int32_t dpiY);
int32_t renderingWidth(int32_t aveCharWidth, int32_t resolutionX, int32_t resolutionY, int32_t dpiX,
                       int32_t dpiY);

}  // namespace qf

// A synthetic GlyphSource for the writer tests and benchmarks: metrics you set, and per character
// code an advance width and ink drawn from text rows ('#' or 'X' is ink, anything else blank). It draws like the
// rasteriser: into a scratch bitmap of the width the writer asks for, rows padded to 16 bits, the
// glyph's left edge at the drawing origin plus its own offset, ink outside the bitmap lost.
#pragma once

#include "formats/FontWriter.h"
#include "render/GlyphRasteriser.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qf::test {

// What a writer is asked for: the font named `name` at this size and resolution.
inline WriteRequest requestFor(const std::string& name, int points = 12, int resX = 96, int resY = 96,
                               int symbolSet = 309, const std::string& face = "")
{
    WriteRequest r;
    r.name = name;
    r.pointSize = points;
    r.resolutionX = resX;
    r.resolutionY = resY;
    if (symbolSet != Repertoire{}.pclSymbolSet) {
        auto repertoire = std::make_shared<Repertoire>();
        repertoire->pclSymbolSet = symbolSet;
        r.repertoire = std::move(repertoire);
    }
    std::snprintf(r.font.lfFaceName, sizeof r.font.lfFaceName, "%s", face.c_str());
    return r;
}

class TestGlyphSource : public GlyphSource {
public:
    struct Glyph {
        int32_t advance = 0;
        std::vector<std::string> rows;  // row 0 is the cell's top row
        int left = 0;                   // column of the rows' first character, from the origin
    };

    TestGlyphSource() = default;
    explicit TestGlyphSource(const gdi::TEXTMETRIC& tm) : tm_(tm) {}

    // A text face's usual metrics, for tests that care about only some of them.
    static gdi::TEXTMETRIC metricsFor(int first, int last, int height, int aveWidth, int maxWidth)
    {
        gdi::TEXTMETRIC tm;
        tm.tmHeight = height;
        tm.tmAscent = height * 4 / 5;
        tm.tmDescent = height - tm.tmAscent;
        tm.tmAveCharWidth = aveWidth;
        tm.tmMaxCharWidth = maxWidth;
        tm.tmWeight = 400;
        tm.tmFirstChar = static_cast<gdi::BYTE>(first);
        tm.tmLastChar = static_cast<gdi::BYTE>(last);
        tm.tmDefaultChar = static_cast<gdi::BYTE>(first);
        tm.tmBreakChar = static_cast<gdi::BYTE>(first);
        tm.tmPitchAndFamily = gdi::TMPF_FIXED_PITCH | gdi::TMPF_TRUETYPE | gdi::FF_SWISS;
        return tm;
    }

    gdi::TEXTMETRIC& tm() { return tm_; }
    const gdi::TEXTMETRIC& metrics() const override { return tm_; }

    // Codes without a glyph of their own are blank and this wide.
    void setDefaultAdvance(int32_t advance) { defaultAdvance_ = advance; }
    void setGlyph(int code, int32_t advance, std::vector<std::string> rows = {}, int left = 0)
    {
        glyphs_[code & 0xFF] = Glyph{advance, std::move(rows), left};
    }
    // The glyph drawn for a character (renderCharacter); characters without one are blank.
    void setCharacter(char32_t c, int32_t advance, std::vector<std::string> rows = {}, int left = 0)
    {
        characters_[c] = Glyph{advance, std::move(rows), left};
    }
    // Sets the row padding past the bitmap's last column to ink, to show that nobody reads it.
    void setInkInPadding(bool on) { inkInPadding_ = on; }
    // Makes prepare() refuse with this reason.
    void refusePrepare(std::string why) { refusal_ = std::move(why); }

    qf::Status prepare(int width, int rowsAround = 0) override
    {
        rowsAround_ = rowsAround;
        ++prepareCalls;
        if (!refusal_.empty() || width <= 0 || tm_.tmHeight <= 0)
            return qf::Failure{refusal_.empty() ? "no scratch bitmap" : refusal_};
        width_ = width;
        widthBytes_ = (width + 15) / 16 * 2;
        scratch_.assign(static_cast<size_t>(widthBytes_) * height(), 0);
        preparedWidth = width;
        prepared_ = true;
        return qf::Status();
    }

    RenderedGlyph render(uint8_t code, int originX) override
    {
        renderedCodes.push_back(code);
        return draw(code, glyphs_, originX);
    }
    RenderedGlyph renderCharacter(char32_t c, int originX) override
    {
        renderedCodes.push_back(static_cast<int>(c));
        return draw(static_cast<int>(c), characters_, originX);
    }

    void finish() override
    {
        if (prepared_)
            ++finishCalls;
        prepared_ = false;
    }

    // What the writer asked for.
    int prepareCalls = 0;
    int finishCalls = 0;
    int preparedWidth = 0;
    std::vector<int> renderedCodes;

private:
    RenderedGlyph draw(int code, const std::map<int, Glyph>& glyphs, int originX)
    {
        RenderedGlyph out;
        out.code = code;
        out.widthBytes = widthBytes_;
        out.width = width_;
        out.height = height();
        if (!prepared_)
            return out;
        std::memset(scratch_.data(), 0, scratch_.size());
        const auto it = glyphs.find(code);
        out.cx = it == glyphs.end() ? defaultAdvance_ : it->second.advance;
        if (it != glyphs.end()) {
            const Glyph& g = it->second;
            for (int y = 0; y < tm_.tmHeight && y < static_cast<int>(g.rows.size()); ++y)
                for (int i = 0; i < static_cast<int>(g.rows[y].size()); ++i)
                    if (g.rows[y][i] == '#' || g.rows[y][i] == 'X')
                        setPixel(originX + g.left + i, y + rowsAround_);
        }
        if (inkInPadding_)
            for (int y = 0; y < height(); ++y)
                for (int x = width_; x < widthBytes_ * 8; ++x)
                    scratch_[static_cast<size_t>(y) * widthBytes_ + x / 8] |= uint8_t(0x80 >> (x % 8));
        out.rows = scratch_.data();
        return out;
    }

    void setPixel(int x, int y)
    {
        if (x < 0 || x >= width_ || y < 0 || y >= height())
            return;  // clipped, as ink outside the bitmap is
        scratch_[static_cast<size_t>(y) * widthBytes_ + x / 8] |= uint8_t(0x80 >> (x % 8));
    }

    gdi::TEXTMETRIC tm_;
    std::map<int, Glyph> glyphs_;
    std::map<int, Glyph> characters_;
    int32_t defaultAdvance_ = 0;
    bool inkInPadding_ = false;
    int rowsAround_ = 0;
    int height() const { return tm_.tmHeight + 2 * rowsAround_; }
    std::string refusal_;
    bool prepared_ = false;
    int width_ = 0;
    int widthBytes_ = 0;
    std::vector<uint8_t> scratch_;
};

}  // namespace qf::test

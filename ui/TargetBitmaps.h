// The characters of a sample text as a generated font stores them: the font realised at a size and
// resolution on a device context of its own, as a run realises it, and each character drawn by the
// glyph rasteriser and cut to what the format keeps, as the writers do. No Qt: the window makes
// these off its own thread.
#pragma once

#include "formats/Format.h"
#include "platform/gdi.h"
#include "run/CharacterSet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

struct Repertoire;

// What to make: the text in one font at each size.
struct TargetRequest {
    gdi::LOGFONT font{};    // lfCharSet already the code page's, as a run sets it
    int codePageRow = 0;    // row of CodePageTable
    std::string text;       // the bytes the font draws, one character each
    // A format whose files hold Unicode characters draws the text by character, not through the
    // code page: unicodeText, each character of it the file holds drawn as its writer draws it.
    bool unicode = false;
    std::u32string unicodeText;
    std::optional<CharacterSelection> characters;  // the chosen ones; none: the format's default
    // Those of unicodeText's characters the file holds, ascending (HeldCharacters); null: found
    // for each line anew.
    std::shared_ptr<const std::vector<char32_t>> held;
    std::vector<int32_t> sizes;
    int32_t resolutionX = 96;
    int32_t resolutionY = 96;
    GlyphStorage storage = GlyphStorage::Cell;
    int deviceDpiX = 96;    // the run's device context
    int deviceDpiY = 96;
    // The format the files are made in, whose writer judges each size as in a run; none: sizes
    // are not judged.
    std::optional<OutputFormat> format;
    std::string name;       // the entry's name, stored in the files (cp1252 bytes)
};

// One character as stored: its advance and its stored pixels, placed in its cell.
struct TargetGlyph {
    uint32_t code = 0;     // the byte, or for a Unicode file the character
    bool inFont = true;    // false: outside the font's first to last character, so not in the file
    // A character a Unicode file does not hold (the face lacks it, or the characters chosen leave
    // it out): no reader draws it from the file, so the view marks it rather than show a stand-in.
    bool lacking = false;
    int32_t advance = 0;
    int left = 0;          // the stored bitmap's first column, counted from the cell's origin
    int top = 0;           // its first row, counted from the cell's top
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits;  // rows of (width + 7) / 8 bytes, most significant bit leftmost

    // Whether the stored bitmap holds ink at (x, y) of the cell: x from the origin, y from the top.
    bool inkAt(int x, int y) const;
};

struct TargetLine {
    int32_t size = 0;
    std::string error;     // why this size cannot be shown; empty when it can
    int height = 0;        // the cell's height (tmHeight)
    int ascent = 0;        // rows from the cell's top to the baseline
    int averageWidth = 0;  // tmAveCharWidth, the width shown for characters the font lacks
    std::vector<TargetGlyph> glyphs;  // one per byte of the text (per character for a Unicode file)
};

// Whether a run makes the request's file at a size: its writer makes the file on a device context
// like the run's and it is read back as the run reads it, so a size is refused exactly when, and
// for what, the run refuses it. What the writer draws is the whole font, not just the text, so it
// costs as much as the run's work for that size.
class TargetJudge {
public:
    explicit TargetJudge(const TargetRequest& request);
    ~TargetJudge();
    TargetJudge(const TargetJudge&) = delete;
    TargetJudge& operator=(const TargetJudge&) = delete;

    // Why the run makes no file of the size, in the writer's words after the font's name, size
    // and resolution; empty when it makes one.
    std::string refusal(int32_t size);

private:
    const TargetRequest& request_;
    std::unique_ptr<gdi::DeviceContext> dc_;
    std::shared_ptr<const Repertoire> repertoire_;
};

// The characters of a Unicode request's text that its file holds, ascending: those of the
// repertoire the run resolves for the font (the face's, narrowed to the characters chosen).
std::vector<char32_t> HeldCharacters(const TargetRequest& request);

// The text at one size of the request. `cancelled` is asked between characters; once it says
// yes the line comes back unfinished.
TargetLine RenderTargetLine(const TargetRequest& request, int32_t size,
                            const std::function<bool()>& cancelled = {});

}  // namespace qf

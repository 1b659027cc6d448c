// Fonts, monochrome bitmaps and the memory device context: the GDI objects the rasteriser and the
// preview draw with, over FreeType. Objects are shared_ptr-owned so a device context can keep the
// font or bitmap it has selected alive after its creator lets go, as GDI keeps a selected object.
//
// Threads: each thread that draws makes its own device context and realises its own fonts. A font
// realised on a thread draws with that thread's FreeType face (faces are never shared between
// threads), so threads rendering the sizes of one font side by side do not wait for each other.
// A device context, a font and a bitmap are not to be used by two threads at once; handing one
// over to another thread between uses is safe. What they all read is safe from any thread: the
// catalogue (FontCatalog), the code page tables and fontconfig's configuration never change once
// made (font files are added to the catalogue before any font is realised), and a font file's
// bytes in memory are shared read-only.
#pragma once

#include "platform/Bitmap.h"
#include "platform/Font.h"
#include "platform/gdi.h"

#include <memory>
#include <string>
#include <vector>

namespace gdi {

// A memory device context compatible with the screen (CreateCompatibleDC(NULL)): 96 dpi unless
// told otherwise, a 1 x 1 monochrome bitmap and a default font selected until others are.
class DeviceContext {
public:
    DeviceContext();
    ~DeviceContext();
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;

    void setResolution(int dpiX, int dpiY);
    int getDeviceCaps(int index) const;  // LOGPIXELSX, LOGPIXELSY

    // The OEM code page through which OEM_CHARSET fonts map byte codes (437 by default).
    void setOemCodePage(unsigned codePage);
    unsigned oemCodePage() const;

    // SelectObject: makes the object current and returns the one it replaces. A null argument
    // changes nothing and returns null, as a failed SelectObject does.
    std::shared_ptr<Font> selectObject(std::shared_ptr<Font> font);
    std::shared_ptr<Bitmap> selectObject(std::shared_ptr<Bitmap> bitmap);
    const std::shared_ptr<Font>& currentFont() const;
    const std::shared_ptr<Bitmap>& currentBitmap() const;

    bool getTextMetrics(TEXTMETRIC* tm) const;
    // SetBkMode: OPAQUE (the default) fills the text's cell with the background colour before
    // drawing; TRANSPARENT leaves it. Returns the previous mode, 0 for an unknown one.
    int setBkMode(int mode);
    COLORREF setBkColor(COLORREF colour);
    COLORREF setTextColor(COLORREF colour);
    void setViewportOrg(int x, int y);

    // PatBlt on the selected bitmap (BLACKNESS clears to 0 bits, WHITENESS sets 1 bits).
    bool patBlt(int x, int y, int width, int height, DWORD rop);
    // TextOutA with the default alignment: the cell's top-left at (x, y), the baseline tmAscent
    // rows below, each byte drawn at the pen position and advanced by its width. In OPAQUE mode
    // the cell's background is filled with the background colour. Ink outside the bitmap is clipped.
    bool textOut(int x, int y, const char* text, int count);
    // SetBoundsRect / GetBoundsRect: while accumulation is enabled (DCB_ENABLE), every drawing call
    // adds the pixels it may have changed, clipped to the bitmap, to the bounding rectangle, so a
    // caller can clear exactly what was drawn on. DCB_RESET empties it, DCB_ACCUMULATE with a
    // rectangle adds that. Rectangles are logical (the viewport origin taken off); an empty one is
    // all zeros. Both return the state before the call: DCB_ENABLE or DCB_DISABLE, with DCB_SET
    // when the rectangle held anything and DCB_RESET when it did not.
    UINT setBoundsRect(const RECT* rect, UINT flags);
    UINT getBoundsRect(RECT* rect, UINT flags);
    // How many characters textOut has drawn so far that put pixels on the bitmap (ink clipped
    // away does not count): a font whose characters never do is broken or blank.
    uint64_t inkedCharacters() const;
    // GetTextExtentPointA: sum of the advances (whole pixels) and tmHeight.
    bool getTextExtentPoint(const char* text, int count, SIZE* size) const;
    // GetGlyphIndicesW over the selected font: each character's glyph index in its face, 0xFFFF
    // for one the face lacks when flags has GGI_MARK_NONEXISTING_GLYPHS (0 otherwise). Returns
    // the count converted, or GDI_ERROR without a font.
    DWORD getGlyphIndices(const char32_t* text, int count, WORD* indices, DWORD flags) const;

    // TextOutW and GetTextExtentPoint32W with whole characters (any code point to U+10FFFF, not
    // UTF-16 units): each character drawn with the glyph the face maps it to through its Unicode
    // character map (a symbol face's through its symbol map), the missing-glyph box for one it
    // lacks. A character gives the same pixels and advance as the byte that stands for it.
    bool textOutW(int x, int y, const char32_t* text, int count);
    bool getTextExtentPointW(const char32_t* text, int count, SIZE* size) const;
    // Every character the selected font's face maps to a glyph, ascending (GetFontUnicodeRanges,
    // character by character). Empty without a font or for a face with no Unicode map.
    std::vector<char32_t> mappedCharacters() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace gdi

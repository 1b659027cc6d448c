// What a realised font is inside: the face it draws from, its metrics, and its glyphs by byte and by
// character, loaded on first use. DeviceContext draws with it; only platform/*.cpp include this
// header.
#pragma once

#include "platform/FaceFiles.h"
#include "platform/FaceInfo.h"
#include "platform/FaceMetrics.h"
#include "platform/Font.h"
#include "platform/Prefault.h"
#include "platform/gdi.h"

#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace gdi {

inline constexpr LONG clampLong(int64_t v)
{
    return static_cast<LONG>(std::clamp<int64_t>(v, std::numeric_limits<LONG>::min(),
                                                 std::numeric_limits<LONG>::max()));
}

// FreeType's own pixel box for a monochrome rendering of an outline (what FT_Render_Glyph would
// allocate): rounded so that a pixel is inside when its centre is, widened to one pixel when it
// collapses. Drawing clipped to this box gives exactly FreeType's pixels.
struct PixelBox {
    int64_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// A glyph's outline copied out of the face's glyph slot, in storage that is reused once the
// glyph lets it go: a size's rendering copies every character's outline, and allocating and
// freeing four blocks for each cost more than the copying.
struct OutlineCopy {
    std::vector<FT_Vector> points;
    std::vector<std::remove_pointer_t<decltype(FT_Outline::tags)>> tags;
    std::vector<std::remove_pointer_t<decltype(FT_Outline::contours)>> contours;
    FT_Outline outline{};

    void assign(const FT_Outline& from)
    {
        const auto nPoints = static_cast<size_t>(from.n_points);
        const auto nContours = static_cast<size_t>(from.n_contours);
        points.assign(from.points, from.points + nPoints);
        tags.assign(from.tags, from.tags + nPoints);
        contours.assign(from.contours, from.contours + nContours);
        outline = from;
        outline.points = points.data();
        outline.tags = tags.data();
        outline.contours = contours.data();
        outline.flags = from.flags & ~FT_OUTLINE_OWNER;  // FreeType must never free our storage
    }
};

// Values by a key that is mostly small and dense (glyph indices, Unicode characters), in pages of
// 256 made as they are first used; a key from `limit` on, which no face gives, goes to a map. A
// font drawn by the tens of thousands of glyphs (a CJK repertoire) took a hash map node for each
// and rehashed as it grew: pages take a fraction of the memory, every fresh page of which costs a
// fault, and no hashing. Values never move once made.
template <class T>
class PagedTable {
public:
    explicit PagedTable(uint32_t limit) : limit_(limit) {}

    // The value at key, value-initialised when it is new (the flag).
    std::pair<T&, bool> tryEmplace(uint32_t key)
    {
        if (key >= limit_) {
            auto [it, inserted] = beyond_.try_emplace(key);
            return {it->second, inserted};
        }
        const size_t page = key >> kBits;
        if (page >= pages_.size())
            pages_.resize(page + 1);
        if (!pages_[page]) {
            // Its memory asked for at once: a page of glyphs spans several of the system's.
            void* raw = ::operator new(sizeof(Page));
            qf::prefault(raw, sizeof(Page), 0);
            pages_[page].reset(new (raw) Page{});
        }
        Page& p = *pages_[page];
        const size_t slot = key & (kSize - 1);
        const bool inserted = !p.made[slot];
        p.made[slot] = true;
        return {p.values[slot], inserted};
    }
    // The value at key, null when none was made.
    T* find(uint32_t key)
    {
        if (key >= limit_) {
            const auto it = beyond_.find(key);
            return it == beyond_.end() ? nullptr : &it->second;
        }
        const size_t page = key >> kBits;
        if (page >= pages_.size() || !pages_[page] || !pages_[page]->made[key & (kSize - 1)])
            return nullptr;
        return &pages_[page]->values[key & (kSize - 1)];
    }

private:
    static constexpr unsigned kBits = 8;
    static constexpr size_t kSize = size_t{1} << kBits;
    struct Page {
        std::array<T, kSize> values{};
        std::bitset<kSize> made;
    };
    uint32_t limit_;
    std::vector<std::unique_ptr<Page>> pages_;
    std::unordered_map<uint32_t, T> beyond_;
};

struct Font::Impl {
    struct Glyph {
        FT_UInt index = 0;
        int32_t advance = 0;        // whole pixels
        bool outlined = false;      // there is an outline to draw
        std::unique_ptr<OutlineCopy> image;  // the hinted (and synthesised) outline while it is kept
        PixelBox box;               // FreeType's pixel box, relative to the pen on the baseline
    };
    // Outlines kept for drawing again, oldest first. Advances and boxes are kept for every glyph;
    // the outlines of the last few only, as a size's rendering draws each glyph once and a
    // preview's text has few distinct characters: memory stays flat at any size.
    static constexpr size_t kKeptOutlines = 64;
    std::deque<FT_UInt> keptOutlines;
    std::unique_ptr<OutlineCopy> spareOutline;  // the storage of the last outline let go

    LOGFONT lf{};
    FaceInfo face;
    std::shared_ptr<ft::SharedFace> shared;
    ft::DesignMetrics design;
    int64_t ppem = 0;
    int64_t xppem = 0;  // horizontal pixels per em: ppem, stretched by lfWidth
    bool fromVdmx = false;  // ascent and descent come from the face's VDMX table
    ft::VdmxEntry vdmx;
    bool fakeBold = false;
    bool fakeItalic = false;
    TEXTMETRIC tm{};
    bool drawable = false;
    ft::SizePtr size;

    PagedTable<Glyph> glyphs{0x10000};  // an sfnt's glyph indices are 16-bit
    std::array<FT_UInt, 256> byteIndices{};  // glyph index of each byte in the mapped code page
    std::array<Glyph*, 256> byteGlyphs{};    // loaded on first use
    PagedTable<Glyph*> characterGlyphs{0x110000};  // drawn by character, on first use
    unsigned mappedCodePage = 0;
    unsigned mappedOemCodePage = 0;  // the device context's OEM page the mapping was made under
    bool mapped = false;

    ~Impl()
    {
        if (size && shared) {
            auto lock = shared->lock();
            size.reset();
        }
    }

    void computeMetrics();
    Glyph& glyphFor(uint8_t byte, unsigned oemCodePage);
    Glyph& glyphForCharacter(char32_t c);
    Glyph& load(FT_UInt index);
    // The glyph's outline, loaded again if it was let go; null when there is nothing to draw.
    FT_Outline* outline(Glyph& glyph);
    void loadOutline(Glyph& glyph);
    void mapBytes(unsigned codePage, unsigned oemCodePage);
};

}  // namespace gdi

#include "tests/FreeTypeReader.h"

namespace qf::test {

namespace {

std::string failure(const char* what, FT_Error error)
{
    const char* text = FT_Error_String(error);
    return std::string(what) + " failed: " + (text ? text : "FreeType error " + std::to_string(error));
}

}  // namespace

ReadFont readWinFont(const uint8_t* data, size_t size, long faceIndex)
{
    ReadFont font;
    FT_Library rawLibrary = nullptr;
    if (FT_Error e = FT_Init_FreeType(&rawLibrary)) {
        font.error = failure("FT_Init_FreeType", e);
        return font;
    }
    FtLibraryOwner library(rawLibrary);

    FT_Face rawFace = nullptr;
    if (FT_Error e = FT_New_Memory_Face(library.get(), data, static_cast<FT_Long>(size), faceIndex,
                                        &rawFace)) {
        font.error = failure("FT_New_Memory_Face", e);
        return font;
    }
    FtFaceOwner face(rawFace);
    font.numFaces = face->num_faces;
    font.numGlyphs = face->num_glyphs;
    font.familyName = face->family_name ? face->family_name : "";
    if (FT_Error e = FT_Get_WinFNT_Header(face.get(), &font.header)) {
        font.error = failure("FT_Get_WinFNT_Header", e);
        return font;
    }
    if (face->num_fixed_sizes < 1) {
        font.error = "the face has no bitmap strike";
        return font;
    }
    if (FT_Error e = FT_Select_Size(face.get(), 0)) {
        font.error = failure("FT_Select_Size", e);
        return font;
    }
    if (face->num_charmaps < 1) {
        font.error = "the face has no character map";
        return font;
    }
    if (FT_Error e = FT_Set_Charmap(face.get(), face->charmaps[0])) {
        font.error = failure("FT_Set_Charmap", e);
        return font;
    }

    for (int code = font.header.first_char; code <= font.header.last_char; ++code) {
        ReadGlyph glyph;
        const FT_UInt index = FT_Get_Char_Index(face.get(), static_cast<FT_ULong>(code));
        if (index == 0) {
            font.error = "no glyph for code " + std::to_string(code);
            return font;
        }
        // The metrics first: they come also for a character of width 0, which has no bitmap.
        if (FT_Error e = FT_Load_Glyph(face.get(), index, FT_LOAD_BITMAP_METRICS_ONLY)) {
            font.error = failure(("metrics of code " + std::to_string(code)).c_str(), e);
            return font;
        }
        glyph.advance = static_cast<int>(face->glyph->metrics.horiAdvance >> 6);
        if (glyph.advance > 0) {
            if (FT_Error e = FT_Load_Glyph(face.get(), index, FT_LOAD_DEFAULT)) {
                font.error = failure(("bitmap of code " + std::to_string(code)).c_str(), e);
                return font;
            }
            const FT_Bitmap& bitmap = face->glyph->bitmap;
            glyph.hasBitmap = true;
            glyph.width = static_cast<int>(bitmap.width);
            glyph.rows = static_cast<int>(bitmap.rows);
            glyph.pitch = bitmap.pitch;
            glyph.bits.assign(bitmap.buffer, bitmap.buffer + static_cast<size_t>(glyph.pitch) * glyph.rows);
        }
        font.glyphs.push_back(std::move(glyph));
    }
    return font;
}

}  // namespace qf::test

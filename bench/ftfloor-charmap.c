/* The floor for converting a face's whole Unicode repertoire: FreeType's own monochrome rendering of
   every character its Unicode charmap maps, at each size, with nothing written (one thread).
   Usage: ftfloor-charmap FONTFILE FACEINDEX DPI SIZE...
   Build: cc -O2 -o ftfloor-charmap ftfloor-charmap.c $(pkg-config --cflags --libs freetype2) */
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char **argv) {
    FT_Library lib; FT_Face face;
    if (argc < 5 || FT_Init_FreeType(&lib) || FT_New_Face(lib, argv[1], atol(argv[2]), &face)) return 2;
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE)) return 2;
    int dpi = atoi(argv[3]); unsigned long ink = 0, chars = 0;
    for (int a = 4; a < argc; a++) {
        FT_Set_Char_Size(face, 0, atoi(argv[a]) * 64, dpi, dpi);
        FT_UInt index;
        for (FT_ULong c = FT_Get_First_Char(face, &index); index != 0; c = FT_Get_Next_Char(face, c, &index)) {
            if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO)) continue;
            ink += face->glyph->bitmap.rows * (unsigned)face->glyph->bitmap.pitch;
            chars++;
        }
    }
    printf("%lu characters, %lu bytes of ink\n", chars, ink);
    return 0;
}

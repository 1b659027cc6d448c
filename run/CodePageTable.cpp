#include "run/CodePageTable.h"

#include "formats/PclSoftFontWriter.h"
#include "platform/CodePages.h"
#include "platform/gdi.h"
#include "run/FontList.h"

#include <algorithm>
#include <vector>

namespace qf {

namespace {

// Rows whose page has a standard PCL symbol set carry it, so a job selecting fonts by symbol set
// finds ours; the rest declare the nearest set a printer has.
constexpr CodePageRow kRows[CodePageTable::kRowCount] = {
    {1252, " 9U", "Windows Latin 1 (US, Western Europe)"},
    {1250, " 9E", "Windows Eastern European"},
    {1251, " 9R", "Windows Cyrillic"},
    {1253, " 9G", "Windows Greek"},
    {1254, " 5T", "Windows Turkish"},
    {1255, " 9U", "Windows Hebrew"},
    {1256, " 9V", "Windows Arabic"},
    {1257, "19L", "Windows Baltic"},
    {437, "10U", "MS-DOS United States"},
    {850, "12U", "MS-DOS Multilingual (Latin I)"},
    {866, " 3R", "MS-DOS Russian (former USSR)"},
    {737, " 8G", "Greek (formerly 437G)"},
    {862, " 8H", "Hebrew"},
    {864, " 8V", "Arabic"},
    {775, " 8U", "Baltic"},
    {874, " 8U", "Thai"},
    {852, "17U", "MS-DOS Slavic (Latin II)"},
    {860, " 8U", "MS-DOS Portuguese"},
    {861, " 8U", "MS-DOS Icelandic"},
    {863, " 8U", "MS-DOS Canadian-French"},
    {865, " 8U", "MS-DOS Nordic"},
    {855, " 0R", "IBM Cyrillic (primarily Russian)"},
    {869, " 8G", "IBM Modern Greek"},
    {857, " 9T", "IBM Turkish"},
    {708, " 8V", "Arabic (ASMO 708)"},
    {709, " 8V", "Arabic (ASMO 449+, BCON V4)"},
    {710, " 8V", "Arabic (Transparent Arabic)"},
    {720, " 8V", "Arabic (Transparent ASMO)"},
};

}  // namespace

const CodePageRow& CodePageTable::row(int index)
{
    // An index out of range is a caller's fault; answer with the first row rather than read
    // past the table.
    if (index < 0 || index >= kRowCount)
        index = 0;
    return kRows[index];
}

int CodePageTable::charsetOfRow(int index)
{
    gdi::CHARSETINFO info;
    if (gdi::TranslateCharsetInfo(static_cast<gdi::DWORD>(row(index).codePage), &info,
                                  gdi::TCI_SRCCODEPAGE))
        return static_cast<int>(info.ciCharset);
    // The MS-DOS and other OEM pages have no character set of their own: fonts for them are
    // realised with OEM_CHARSET, and the device context's OEM code page selects the page.
    return gdi::OEM_CHARSET;
}

namespace {

bool coversLetters(const gdi::LOGFONT& logFont, unsigned codePage)
{
    const std::vector<char32_t> letters = gdi::codePageLetters(codePage);
    gdi::DeviceContext dc;
    const std::shared_ptr<gdi::Font> font = gdi::Font::createFontIndirect(logFont);
    if (letters.empty() || !font)
        return false;
    dc.selectObject(font);
    std::vector<gdi::WORD> indices(letters.size());
    if (dc.getGlyphIndices(letters.data(), static_cast<int>(letters.size()), indices.data(),
                           gdi::GGI_MARK_NONEXISTING_GLYPHS) == gdi::GDI_ERROR)
        return false;
    return std::find(indices.begin(), indices.end(), gdi::WORD{0xFFFF}) == indices.end();
}

}  // namespace

bool CodePageTable::fontSupportsRow(const FontListEntry& entry, int index)
{
    const int charset = charsetOfRow(index);
    if (charset != gdi::OEM_CHARSET)
        return std::find(entry.charsets.begin(), entry.charsets.end(), charset) != entry.charsets.end();
    const unsigned codePage = static_cast<unsigned>(row(index).codePage);
    const int bit = gdi::codePageSignatureBit(codePage);
    const bool statesPages = entry.codePageRanges[0] != 0 || entry.codePageRanges[1] != 0;
    if (statesPages && bit >= 0)
        return ((entry.codePageRanges[bit / 32] >> (bit % 32)) & 1) != 0;
    return coversLetters(entry.logFont, codePage);
}

int CodePageTable::pclSymbolSetValue(int index)
{
    return PclSoftFontWriter::symbolSetValue(row(index).pclSymbolSet);
}

int CodePageTable::rowOfCodePage(int codePage)
{
    for (int i = 0; i < kRowCount; ++i)
        if (kRows[i].codePage == codePage)
            return i;
    return -1;
}

int CodePageTable::prepareDeviceContext(int index, gdi::DeviceContext& dc)
{
    const int charset = charsetOfRow(index);
    if (charset == gdi::OEM_CHARSET)
        dc.setOemCodePage(static_cast<unsigned>(row(index).codePage));
    return charset;
}

}  // namespace qf

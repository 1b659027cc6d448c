// The 28 code pages a run can be made for, in the order the code page list shows them. A choice
// is always carried as its row index.
#pragma once

#include "platform/DeviceContext.h"

namespace qf {

struct FontListEntry;

struct CodePageRow {
    int codePage;              // Windows code page number
    const char* pclSymbolSet;  // a PCL symbol set identifier, blank-padded to 3, e.g. " 9U", "19L"
    const char* description;   // the text of the code page list
};

class CodePageTable {
public:
    static constexpr int kRowCount = 28;
    static int rowCount() { return kRowCount; }
    // index must be 0 .. 27.
    static const CodePageRow& row(int index);
    // The character set of a row as TranslateCharsetInfo gives it for the row's code page; the
    // MS-DOS and other OEM pages, which it cannot translate, give OEM_CHARSET (255): fonts made for
    // them map byte codes through the device context's OEM code page, set to the row's page.
    static int charsetOfRow(int index);
    // The value a PCL soft font made for the row declares as its symbol set (309 for " 9U").
    static int pclSymbolSetValue(int index);
    // The row of a code page number, or -1.
    static int rowOfCodePage(int codePage);
    // What a run does before it renders for a row: returns charsetOfRow(index) and, for the OEM
    // rows, makes the row's code page the device context's OEM code page, so that byte codes of
    // fonts realised with OEM_CHARSET map through the chosen page.
    static int prepareDeviceContext(int index, gdi::DeviceContext& dc);
    // The code page test: whether an entry's face is made for a row. For a row with a character
    // set of its own, when the entry lists that set. The OEM rows all share OEM_CHARSET, so for
    // them the face's code page ranges decide, and for a face that states none, or a page that
    // has no bit there, whether the face has every letter of the page.
    static bool fontSupportsRow(const FontListEntry& entry, int index);
};

}  // namespace qf

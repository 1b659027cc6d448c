// The installed font styles as the program lists them: one FontListEntry per style, built from
// the platform's font enumeration.
#pragma once

#include "platform/gdi.h"

namespace gdi {
class DeviceContext;
}

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

struct FontListEntry {
    static constexpr size_t kMaxName = 63;

    std::string name;                // full name of the style, at most 63 bytes; user-editable
    std::string fullName;            // the full name as enumerated, whatever the user renames
    gdi::LOGFONT logFont{};          // the enumeration's LOGFONT with the size/pitch fields cleared
    std::vector<int32_t> charsets;   // character sets reported for the style, in report order
    gdi::DWORD codePageRanges[2] = {};  // the code pages the face states it was made for (fsCsb)
    int32_t selected = 0;            // 1 while checked for generation
};

// State shared by the two enumeration callbacks while the list is built.
struct FontEnumContext {
    std::vector<FontListEntry>* fonts = nullptr;
    gdi::DeviceContext* hdc = nullptr;
    bool extended = true;
    char lastFullName[gdi::LF_FULLFACESIZE] = {};
    char lastStyle[gdi::LF_FACESIZE] = {};
    int32_t lastCharset = -1;
    int32_t currentIndex = -1;
};

// Enumerates the installed fonts on a memory device context into fonts (emptied first). Extended
// enumeration is used when osMajorVersion is 4 or more, the older call otherwise.
void BuildFontList(std::vector<FontListEntry>& fonts, gdi::DWORD osMajorVersion);

// Whether an entry is the style enumeration reported with this record: the list made it from the
// same record, so family, full name, weight and italic are the same bytes (whatever it is named now).
bool IsEntryOf(const FontListEntry& entry, const gdi::ENUMLOGFONTEX& record);

// The entry BuildFontList makes for the style enumeration reports with this record, found among
// its family's styles alone (the font list of a large system is not read again for one face); none
// when enumeration does not list the style.
std::optional<FontListEntry> ListedEntry(const gdi::ENUMLOGFONTEX& record, gdi::DWORD osMajorVersion);

// The enumeration callbacks, exposed so tests can drive them with reports of their own.
int EnumFamilyProc(const gdi::ENUMLOGFONTEX* elf, const gdi::TEXTMETRIC* metrics,
                   gdi::DWORD fontType, gdi::LPARAM lParam);
int EnumStyleProc(const gdi::ENUMLOGFONTEX* elf, const gdi::TEXTMETRIC* metrics,
                  gdi::DWORD fontType, gdi::LPARAM lParam);

}  // namespace qf

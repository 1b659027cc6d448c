#include "formats/XlfdProperties.h"

#include <cstring>

namespace qf {

namespace {

// A field of an XLFD name holds printable ASCII without its separators and wildcards.
std::string field(const char* text, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && text[i]; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E)
            continue;
        out += c == '-' || c == '?' || c == '*' || c == ',' || c == '"' ? ' ' : static_cast<char>(c);
    }
    return out;
}

const char* weightName(int weight)
{
    if (weight <= 150)
        return "Thin";
    if (weight <= 250)
        return "ExtraLight";
    if (weight <= 350)
        return "Light";
    if (weight <= 450)
        return "Regular";
    if (weight <= 550)
        return "Medium";
    if (weight <= 650)
        return "SemiBold";
    if (weight <= 750)
        return "Bold";
    if (weight <= 850)
        return "ExtraBold";
    return "Black";
}

FontProperty text(const char* name, std::string value) { return {name, true, std::move(value), 0}; }
FontProperty number(const char* name, int64_t value) { return {name, false, {}, value}; }

}  // namespace

std::vector<FontProperty> xlfdProperties(const gdi::TEXTMETRIC& tm, const WriteRequest& request,
                                         const GlyphFacts& facts)
{
    const Repertoire fallback;
    const Repertoire& repertoire = request.repertoire ? *request.repertoire : fallback;
    std::string family = field(request.font.lfFaceName, sizeof request.font.lfFaceName);
    if (family.empty())
        family = field(request.name.c_str(), request.name.size());
    return {
        text("FOUNDRY", "misc"),
        text("FAMILY_NAME", family),
        text("WEIGHT_NAME", weightName(tm.tmWeight)),
        text("SLANT", tm.tmItalic ? "I" : "R"),
        text("SETWIDTH_NAME", "Normal"),
        text("ADD_STYLE_NAME", ""),
        number("PIXEL_SIZE", tm.tmHeight - tm.tmInternalLeading),
        number("POINT_SIZE", int64_t{request.pointSize} * 10),
        number("RESOLUTION_X", request.resolutionX),
        number("RESOLUTION_Y", request.resolutionY),
        text("SPACING", facts.withinCells ? "C" : facts.monospaced ? "M" : "P"),
        number("AVERAGE_WIDTH", facts.averageWidth),
        text("CHARSET_REGISTRY", repertoire.registry),
        text("CHARSET_ENCODING", repertoire.encoding),
        number("FONT_ASCENT", tm.tmAscent),
        number("FONT_DESCENT", tm.tmHeight - tm.tmAscent),
        number("DEFAULT_CHAR", repertoire.defaultCharacter),
        text("FACE_NAME", field(request.name.c_str(), request.name.size())),
    };
}

std::string xlfdName(const std::vector<FontProperty>& properties)
{
    std::string name;
    for (size_t i = 0; i < properties.size() && i < 14; ++i)
        name += "-" + (properties[i].isText ? properties[i].text : std::to_string(properties[i].value));
    return name;
}

}  // namespace qf

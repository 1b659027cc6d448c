#include "tests/PclDecoder.h"

#include <cstring>

namespace qf::test {

namespace {

int be16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
int sbe16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(be16(p))); }

// Reads "ESC <prefix> <decimal> <terminator>" at pos; returns the number, or -1.
long readCommand(const uint8_t* data, size_t size, size_t& pos, const char* prefix, char terminator)
{
    const size_t n = std::strlen(prefix);
    if (pos + 1 + n > size || data[pos] != 0x1B || std::memcmp(data + pos + 1, prefix, n) != 0)
        return -1;
    size_t p = pos + 1 + n;
    long value = 0;
    size_t digits = 0;
    while (p < size && data[p] >= '0' && data[p] <= '9' && digits < 9) {
        value = value * 10 + (data[p] - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || p >= size || data[p] != terminator)
        return -1;
    pos = p + 1;
    return value;
}

}  // namespace

bool PclCharacter::storedPixel(int x, int y) const
{
    const int bpr = (width + 7) / 8;
    if (x < 0 || y < 0 || x >= width || y >= height)
        return false;
    const size_t at = static_cast<size_t>(y) * bpr + x / 8;
    return at < raster.size() && (raster[at] & (0x80 >> (x % 8))) != 0;
}

bool PclCharacter::uprightPixel(int x, int y) const
{
    if (!orientation)
        return storedPixel(x, y);
    // Landscape row j holds upright column (rows - 1 - j); its bit m is upright row m.
    return storedPixel(y, height - 1 - x);
}

PclFont decodePcl(const uint8_t* data, size_t size)
{
    PclFont font;
    size_t pos = 0;
    if (readCommand(data, size, pos, ")s", 'W') != 64 || pos != 6 || size < 70) {
        font.error = "no font header command \\e)s64W at offset 0";
        return font;
    }
    const uint8_t* d = data + 6;
    font.descriptor.assign(d, d + 64);
    font.descriptorSize = be16(d);
    font.headerFormat = d[2];
    font.fontType = d[3];
    font.baseline = be16(d + 6);
    font.cellWidth = be16(d + 8);
    font.cellHeight = be16(d + 10);
    font.orientation = d[12];
    font.spacing = d[13];
    font.symbolSet = be16(d + 14);
    font.pitch = be16(d + 16);
    font.height = be16(d + 18);
    font.firstCode = be16(d + 36);
    font.lastCode = be16(d + 38);
    font.name.assign(reinterpret_cast<const char*>(d + 48), 16);
    pos = 70;

    PclCharacter* current = nullptr;
    while (pos < size) {
        size_t start = pos;
        const long code = readCommand(data, size, pos, "*c", 'E');
        if (code >= 0) {
            PclCharacter c;
            c.code = static_cast<int>(code);
            c.codeCommand.assign(reinterpret_cast<const char*>(data + start), pos - start);
            if (font.characters.count(c.code)) {
                font.error = "code " + std::to_string(code) + " downloaded twice";
                return font;
            }
            font.order.push_back(c.code);
            current = &(font.characters[c.code] = c);
            // The download must follow at once.
            start = pos;
            const long count = readCommand(data, size, pos, "(s", 'W');
            if (count < 16 || pos + static_cast<size_t>(count) > size) {
                font.error = "code " + std::to_string(code) + ": no character download after it";
                return font;
            }
            const uint8_t* p = data + pos;
            current->blockCounts.push_back(static_cast<int>(count));
            current->format = p[0];
            current->continuation = p[1];
            current->descriptorSize = p[2];
            current->charClass = p[3];
            current->orientation = p[4];
            current->leftOffset = sbe16(p + 6);
            current->topOffset = sbe16(p + 8);
            current->width = be16(p + 10);
            current->height = be16(p + 12);
            current->deltaX = sbe16(p + 14);
            current->raster.assign(p + 16, p + count);
            pos += static_cast<size_t>(count);
            continue;
        }
        const long count = readCommand(data, size, pos, "(s", 'W');
        if (count < 0 || !current) {
            font.error = "unexpected bytes at offset " + std::to_string(start);
            return font;
        }
        if (count < 4 || pos + static_cast<size_t>(count) > size || data[pos] != 4 || data[pos + 1] != 1) {
            font.error = "bad continuation block at offset " + std::to_string(start);
            return font;
        }
        current->blockCounts.push_back(static_cast<int>(count));
        current->raster.insert(current->raster.end(), data + pos + 2, data + pos + count);
        pos += static_cast<size_t>(count);
    }
    return font;
}

}  // namespace qf::test

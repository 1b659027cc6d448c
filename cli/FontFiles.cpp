#include "cli/FontFiles.h"

#include <algorithm>
#include <sys/stat.h>

namespace qf::cli {

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::optional<FontFile> fontFileArgument(const std::string& argument)
{
    if (exists(argument))
        return FontFile{argument, argument};
    const size_t colon = argument.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == argument.size() ||
        argument.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return std::nullopt;
    FontFile file{argument, argument.substr(0, colon)};
    if (!exists(file.path))
        return std::nullopt;
    // Past the faces any file can hold (FreeType counts them in 16 bits), the number itself
    // no longer matters: the file has no such face.
    std::string digits = argument.substr(colon + 1);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    file.faceIndex = digits.size() > 6 ? 0x10000 : std::stoi(digits);
    return file;
}

void addFontFile(FontFile& file)
{
    qf::Result<std::vector<gdi::AddedFace>> added = gdi::AddFontResourcePrivate(file.path, file.faceIndex);
    if (added)
        file.faces = std::move(*added);
    else
        file.error = added.failure().reason();
}

}  // namespace qf::cli

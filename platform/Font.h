// Fonts realised from the catalogue's faces (CreateFontIndirect and friends), shared_ptr-owned so
// a device context can keep the font it has selected alive after its creator lets go, as GDI keeps
// a selected object. What a font is inside is platform/FontImpl.h; threads as DeviceContext.h says.
#pragma once

#include "platform/Failure.h"
#include "platform/gdi.h"

#include <memory>
#include <string>

namespace gdi {

class DeviceContext;

// A realised logical font (what an HFONT stands for): a face of the catalogue matched to the
// LOGFONT, scaled to its height and width. The byte-code mapping is chosen by lfCharSet; for
// OEM_CHARSET it is the device context's OEM code page at the time of drawing.
class Font {
public:
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // CreateFontIndirectA. Returns null when no face at all can be realised (no fonts installed), or
    // when the face's file cannot be read or no longer holds the face the list read from it;
    // lastFailure() then says which.
    static std::shared_ptr<Font> createFontIndirect(const LOGFONT& lf);
    // CFont::CreatePointFontIndirect: lfHeight in tenths of a point; the em height becomes
    // -trunc(LOGPIXELSY of dc x lfHeight / 720) pixels.
    static std::shared_ptr<Font> createPointFontIndirect(const LOGFONT& lf, const DeviceContext& dc);

    // Keeps the file of the face that lf is realised from as it is now, while the returned hold
    // lives: every font realised meanwhile for that face, on any thread, draws from this version
    // even if the file is replaced, so the sizes of one font never mix two versions of its file.
    // Null when the file cannot be read or no longer holds the face; lastFailure() says which.
    static std::shared_ptr<const void> holdFile(const LOGFONT& lf);

    // Why the last of the calls above on this thread gave null, as GetLastError would tell, but in
    // parts: what (the file gone, unreadable, too large, changed to hold another face), the file,
    // the font asked for (UTF-8) and the system's reason under it.
    static const qf::Failure& lastFailure();

    const LOGFONT& logFont() const;
    // The face realised for the logical font (after substitution), e.g. for diagnostics.
    std::string faceName() const;
    // A failure once the face's file changed on disk after the font was realised, with how as its
    // cause ("it was cut short from …"): what the font drew since may come from a file cut short.
    qf::Status checkFile() const;

    struct Impl;
    Impl& impl() const { return *impl_; }

private:
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The face name a logical font asks for, in UTF-8 (the record holds its cp1252 bytes).
std::string faceNameUtf8(const LOGFONT& lf);

}  // namespace gdi

// Temporary stand-ins so everything links while the platform layer is written. Each function here
// is deleted when its real implementation lands.
#include "platform/CodePages.h"
#include "platform/DeviceContext.h"
#include "platform/FontCatalog.h"
#include "platform/FontEnumeration.h"
#include "platform/gdi.h"

namespace gdi {

DWORD OsMajorVersion() { return 6; }
void SetOsMajorVersionOverride(DWORD) {}

struct Font::Impl {
    LOGFONT lf;
};
Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;
std::shared_ptr<Font> Font::createFontIndirect(const LOGFONT&) { return nullptr; }
std::shared_ptr<Font> Font::createPointFontIndirect(const LOGFONT&, const DeviceContext&) { return nullptr; }
const LOGFONT& Font::logFont() const { return impl_->lf; }
std::string Font::faceName() const { return {}; }

Bitmap::Bitmap(int width, int height)
    : width_(width), height_(height), widthBytes_((width + 15) / 16 * 2),
      bits_(new uint8_t[static_cast<size_t>(widthBytes_) * height]())
{
}
std::shared_ptr<Bitmap> Bitmap::create(int width, int height, size_t maxBytes)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    if (static_cast<uint64_t>((width + 15) / 16 * 2) * static_cast<uint64_t>(height) > maxBytes)
        return nullptr;
    return std::shared_ptr<Bitmap>(new Bitmap(width, height));
}
BITMAP Bitmap::getObject() const
{
    BITMAP bm;
    bm.bmWidth = width_;
    bm.bmHeight = height_;
    bm.bmWidthBytes = widthBytes_;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 1;
    return bm;
}
size_t Bitmap::getBitmapBits(size_t, uint8_t*) const { return 0; }

struct DeviceContext::Impl {
    int dpiX = 96, dpiY = 96;
    unsigned oem = 437;
    std::shared_ptr<Font> font;
    std::shared_ptr<Bitmap> bitmap;
};
DeviceContext::DeviceContext() : impl_(std::make_unique<Impl>()) {}
DeviceContext::~DeviceContext() = default;
void DeviceContext::setResolution(int x, int y) { impl_->dpiX = x; impl_->dpiY = y; }
int DeviceContext::getDeviceCaps(int index) const { return index == LOGPIXELSX ? impl_->dpiX : impl_->dpiY; }
void DeviceContext::setOemCodePage(unsigned cp) { impl_->oem = cp; }
unsigned DeviceContext::oemCodePage() const { return impl_->oem; }
std::shared_ptr<Font> DeviceContext::selectObject(std::shared_ptr<Font> f)
{
    if (!f)
        return nullptr;
    std::swap(f, impl_->font);
    return f;
}
std::shared_ptr<Bitmap> DeviceContext::selectObject(std::shared_ptr<Bitmap> b)
{
    if (!b)
        return nullptr;
    std::swap(b, impl_->bitmap);
    return b;
}
const std::shared_ptr<Font>& DeviceContext::currentFont() const { return impl_->font; }
const std::shared_ptr<Bitmap>& DeviceContext::currentBitmap() const { return impl_->bitmap; }
bool DeviceContext::getTextMetrics(TEXTMETRIC*) const { return false; }
COLORREF DeviceContext::setBkColor(COLORREF) { return 0; }
COLORREF DeviceContext::setTextColor(COLORREF) { return 0; }
void DeviceContext::setViewportOrg(int, int) {}
bool DeviceContext::patBlt(int, int, int, int, DWORD) { return false; }
bool DeviceContext::textOut(int, int, const char*, int) { return false; }
bool DeviceContext::getTextExtentPoint(const char*, int, SIZE*) const { return false; }

int EnumFontFamiliesExA(DeviceContext&, const LOGFONT*, FONTENUMPROCA, LPARAM, DWORD) { return 1; }
int EnumFontFamiliesA(DeviceContext&, const char*, FONTENUMPROCA, LPARAM) { return 1; }

FontCatalog::FontCatalog(std::vector<FaceInfo> faces) : faces_(std::move(faces)) {}
const FontCatalog& FontCatalog::instance()
{
    static FontCatalog catalog({});
    return catalog;
}
const FaceInfo* FontCatalog::match(const std::string&, int, bool) const { return nullptr; }


}  // namespace gdi

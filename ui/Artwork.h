// The program's images, drawn here rather than shipped as files: the banner across the top of the
// main dialog (bitmap 351), the application icon (128) and the warning icon of the prompt (131).
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

class QWidget;

namespace qf {

// Nominal size of the banner bitmap.
inline constexpr QSize kBannerSize{703, 64};

// The banner drawn to fill `size` (its own proportions are kept by the dialog template).
QImage BannerImage(QSize size = kBannerSize);
// A control standing on the banner shows its keyboard focus by a ring in the banner's light accent
// around it: the style's own focus frame is a thin blue that the banner's dark sky swallows.
void ShowFocusOnBanner(QWidget* control);
// A bitmap resource at a size, for a display with this device pixel ratio. Only the banner exists.
QPixmap ResourceBitmap(int resource, QSize size, qreal devicePixelRatio = 1.0);

// The application icon, square, `size` pixels.
QImage ApplicationIconImage(int size);
// The application icon as SVG, for desktops that scale it themselves.
QByteArray ApplicationIconSvg();
// The warning icon: 32 x 32 in the 16 colours of the standard VGA palette.
QImage WarningIconImage();
// An icon resource (128 or 131) as a pixmap of `size` pixels.
QPixmap ResourceIconPixmap(int resource, int size);
// The application icon at the sizes window managers ask for.
QIcon ApplicationIcon();

}  // namespace qf

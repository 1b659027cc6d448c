#include "ui/Artwork.h"

#include "res/DialogTemplates.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QEvent>
#include <QWidget>
#include <QPolygon>

#include <algorithm>
#include <array>

namespace qf {

namespace {

const QColor kAccent(0xf4, 0xb9, 0x42);

// A "Q" as a bitmap font would hold it, the program's emblem.
constexpr std::array<const char*, 10> kEmblem = {
    ".######.",
    "##....##",
    "##....##",
    "##....##",
    "##....##",
    "##.##.##",
    "##..####",
    "##...##.",
    ".#####.#",
    "........",
};

void DrawEmblem(QPainter& p, QPointF origin, qreal cell, const QColor& ink, const QColor& grid)
{
    const int rows = static_cast<int>(kEmblem.size());
    const int cols = 8;
    p.setPen(Qt::NoPen);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const QRectF box(origin.x() + x * cell, origin.y() + y * cell, cell, cell);
            if (kEmblem[static_cast<size_t>(y)][x] == '#')
                p.fillRect(box.adjusted(0.5, 0.5, -0.5, -0.5), ink);
            else if (grid.isValid())
                p.fillRect(box.adjusted(cell / 2 - 0.5, cell / 2 - 0.5, -cell / 2 + 0.5, -cell / 2 + 0.5), grid);
        }
    }
}

QFont PixelFont(int pixelSize, bool bold)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace

QImage BannerImage(QSize size)
{
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // Everything is laid out on the nominal 703 x 64 canvas, scaled evenly to fit the requested
    // size: a banner wider than that (a wider window) gets more sky and raster to its right, not
    // stretched letters.
    const qreal scale = std::min(image.width() / qreal(kBannerSize.width()),
                                 image.height() / qreal(kBannerSize.height()));
    const qreal width = image.width() / scale;
    const qreal height = image.height() / scale;
    p.scale(scale, scale);

    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0.0, QColor(0x14, 0x22, 0x3d));
    sky.setColorAt(0.6, QColor(0x1d, 0x45, 0x6e));
    sky.setColorAt(1.0, QColor(0x2b, 0x63, 0x8c));
    p.fillRect(QRectF(0, 0, width, height), sky);

    // A faint pixel raster fading out to the right, the program's subject.
    for (int x = 0; x < width; x += 6) {
        for (int y = 2; y < height; y += 6) {
            const int alpha = 10 + static_cast<int>(x * 30 / width);
            p.fillRect(QRectF(x, y, 2, 2), QColor(255, 255, 255, alpha));
        }
    }
    p.translate(0, (height - kBannerSize.height()) / 2);

    DrawEmblem(p, QPointF(30, 13), 5.0, kAccent, QColor(255, 255, 255, 60));

    p.setPen(QColor(0x9f, 0xc7, 0xe8));
    p.setFont(PixelFont(11, true));
    p.drawText(QPointF(88, 22), QStringLiteral("V O S K A"));
    p.setPen(Qt::white);
    p.setFont(PixelFont(27, true));
    p.drawText(QPointF(86, 47), QStringLiteral("Quenfold"));
    p.setPen(QColor(0xc9, 0xd6, 0xe3));
    p.setFont(PixelFont(11, false));
    p.drawText(QPointF(236, 47), QStringLiteral("outline fonts in, bitmap fonts out"));
    p.end();
    return image;
}

namespace {

// A ring in the banner's accent around a control on the banner while it has the keyboard focus.
// It lies between the banner and the control and follows the control wherever layout moves it.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* control) : QWidget(control->parentWidget()), control_(control)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        control->installEventFilter(this);
        hide();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == control_) {
            switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::FocusOut:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                follow();
                break;
            default:
                break;
            }
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kAccent, kWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0), 4, 4);
    }

private:
    static constexpr int kWidth = 2;
    static constexpr int kMargin = 3;

    void follow()
    {
        setGeometry(control_->geometry().adjusted(-kMargin, -kMargin, kMargin, kMargin));
        stackUnder(control_);
        setVisible(control_->isVisible() && control_->hasFocus());
    }

    QWidget* control_;
};

}  // namespace

void ShowFocusOnBanner(QWidget* control)
{
    if (control && control->parentWidget())
        new FocusRing(control);
}

QPixmap ResourceBitmap(int resource, QSize size, qreal devicePixelRatio)
{
    if (resource != res::IDB_BANNER || size.isEmpty())
        return {};
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap = QPixmap::fromImage(BannerImage((QSizeF(size) * ratio).toSize()));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QImage ApplicationIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.save();
    p.scale(size / 32.0, size / 32.0);
    QLinearGradient fill(0, 0, 32, 32);
    fill.setColorAt(0.0, QColor(0x2b, 0x63, 0x8c));
    fill.setColorAt(1.0, QColor(0x14, 0x22, 0x3d));
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.fillPath(tile, fill);
    p.setPen(QPen(QColor(0x0c, 0x16, 0x29), 1));
    p.drawPath(tile);
    p.restore();

    // The emblem is a bitmap glyph, so it is drawn on whole pixels of the icon: scaled with the
    // tile, a 16-pixel icon smeared its 1.25-pixel cells into a grey blot. Small cells are drawn
    // solid; from 3 pixels up a gap between them shows the raster.
    const int inkedRows = static_cast<int>(kEmblem.size()) - 1;  // the last row is the baseline's gap
    const int pixel = std::max(1, (size * 5 + 32) / 64);  // 16: 1, 24: 2, 32: 3, 48: 4, 64: 5
    const int width = 8 * pixel;
    const int height = inkedRows * pixel;
    const int left = (size - width) / 2;
    const int top = (size - height) / 2;
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor ink = kAccent;
    const int gap = pixel >= 3 ? 1 : 0;
    for (int y = 0; y < inkedRows; ++y) {
        for (int x = 0; x < 8; ++x) {
            if (kEmblem[static_cast<size_t>(y)][x] == '#')
                p.fillRect(QRect(left + x * pixel, top + y * pixel, pixel - gap, pixel - gap), ink);
        }
    }
    p.end();
    return image;
}

QByteArray ApplicationIconSvg()
{
    // The drawing of ApplicationIconImage, shape for shape, on its 32 x 32 canvas.
    QByteArray svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
        "  <defs>\n"
        "    <linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"32\" y2=\"32\" gradientUnits=\"userSpaceOnUse\">\n"
        "      <stop offset=\"0\" stop-color=\"#2b638c\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#14223d\"/>\n"
        "    </linearGradient>\n"
        "  </defs>\n"
        "  <rect x=\"1\" y=\"1\" width=\"30\" height=\"30\" rx=\"6\" ry=\"6\" fill=\"url(#tile)\" "
        "stroke=\"#0c1629\" stroke-width=\"1\"/>\n"
        "  <g fill=\"#f4b942\">\n";
    const qreal cell = 2.5;
    for (size_t y = 0; y < kEmblem.size(); ++y) {
        for (int x = 0; x < 8; ++x) {
            if (kEmblem[y][x] != '#')
                continue;
            svg += QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%3\"/>\n")
                       .arg(6 + x * cell + 0.5)
                       .arg(5 + static_cast<qreal>(y) * cell + 0.5)
                       .arg(cell - 1)
                       .toUtf8();
        }
    }
    svg += "  </g>\n</svg>\n";
    return svg;
}

QImage WarningIconImage()
{
    // Drawn without smoothing in colours of the 16-colour palette only.
    const QColor black(0, 0, 0), yellow(255, 255, 0), grey(128, 128, 128);
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPolygon shadow({QPoint(17, 3), QPoint(31, 30), QPoint(3, 30)});
    p.setPen(Qt::NoPen);
    p.setBrush(grey);
    p.drawPolygon(shadow);
    const QPolygon triangle({QPoint(15, 1), QPoint(29, 28), QPoint(1, 28)});
    p.setPen(black);
    p.setBrush(yellow);
    p.drawPolygon(triangle);
    p.fillRect(QRect(14, 9, 3, 12), black);
    p.fillRect(QRect(14, 23, 3, 3), black);
    p.end();
    return image;
}

QPixmap ResourceIconPixmap(int resource, int size)
{
    if (resource == res::IDI_WARNING) {
        const QImage icon = WarningIconImage();
        return QPixmap::fromImage(size == icon.width() ? icon : icon.scaled(size, size));
    }
    if (resource == res::IDR_MAINFRAME)
        return QPixmap::fromImage(ApplicationIconImage(size));
    return {};
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(size)));
    return icon;
}

}  // namespace qf

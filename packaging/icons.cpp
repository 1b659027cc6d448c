// Writes the application icon for the desktop's icon theme: PNG files at the sizes given and the
// SVG, under <folder>/<size>x<size>/apps/ and <folder>/scalable/apps/, as share/icons/hicolor
// lays them out. The images are the ones the window itself shows, drawn by ui/Artwork.
#include "ui/Artwork.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !qf::ApplicationIconImage(size).save(dir + QStringLiteral("/quenfold.png"))) {
            std::fprintf(stderr, "%s: cannot write %s/quenfold.png\n", argv[0], qPrintable(dir));
            return 1;
        }
    }
    const QString scalable = folder + QStringLiteral("/scalable/apps");
    QFile svg(scalable + QStringLiteral("/quenfold.svg"));
    if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        svg.write(qf::ApplicationIconSvg()) < 0 || !svg.flush()) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}

// The preview: the preview text in the font list's current font, one line per requested size,
// drawn through our font engine at the screen's resolution.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

class MainDialog;

// The screen's resolution in dots per inch (Qt's logical dpi of the primary screen), which the
// window's device contexts use.
int ScreenDpiX();
int ScreenDpiY();
// Gives a device context the screen's resolution.
void UseScreenResolution(gdi::DeviceContext& dc);

// Text typed in the window as the bytes a font with this character set draws, through the
// character set's code page (the device context's OEM page for OEM_CHARSET). Characters the code
// page lacks become "?".
std::string EncodeForCharset(const QString& text, int charset, unsigned oemCodePage);

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPane(QWidget* parent = nullptr);

    void setDialog(MainDialog* dialog) { dialog_ = dialog; }

    // One drawn line: the size, its top and the cell height it advanced by.
    struct Line {
        int32_t size = 0;
        int top = 0;
        int height = 0;
    };
    // Draws the pane's whole content into `canvas` (the pane's size) and says which lines it
    // drew. Painting does exactly this; like painting, it leaves the entry's lfHeight at ten times
    // the last size drawn and its lfCharSet at the code page's character set.
    std::vector<Line> render(QImage& canvas);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MainDialog* dialog_ = nullptr;
};

}  // namespace qf

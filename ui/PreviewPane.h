// The preview: a text in one font, one line per size, drawn through our font engine at the
// screen's resolution. The pane is handed all it draws and knows nothing of the dialog.
#pragma once

#include "platform/gdi.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

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

// What the pane draws. The owner hands a new one whenever the text, the current font, the code page
// or the sizes change; the pane keeps its own copy, so painting reads and changes nothing else.
struct PreviewContent {
    std::optional<gdi::LOGFONT> font;  // the current entry's font; none without a current entry
    int codePageRow = -1;              // row of CodePageTable; nothing is drawn outside the table
    QString text;
    std::vector<int32_t> sizes;  // ascending, one line each
    QString problem;             // why these sizes cannot be made, shown above the lines; or empty
    // For a format whose files hold Unicode characters the text is drawn by character, not
    // through the code page, and those the files will not hold are marked as hollow boxes.
    bool unicode = false;
    std::u32string lacking;      // ascending

    bool operator==(const PreviewContent& other) const;
};

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPane(QWidget* parent = nullptr);

    // Repaints when the content differs from what the pane shows.
    void setContent(PreviewContent content);
    const PreviewContent& content() const { return content_; }

    // One drawn line: the size, its top and the cell height it advanced by.
    struct Line {
        int32_t size = 0;
        int top = 0;
        int height = 0;
    };
    // Draws the pane's whole content into `canvas` (the pane's size times the canvas's device pixel
    // ratio) and says which lines it drew, in the canvas's pixels. Painting does exactly this, at
    // the screen's ratio: the text is drawn for the screen's resolution times the ratio. The font
    // is realised in the code page's character set (unless it asks for DEFAULT_CHARSET) at each
    // size, on a copy. A Unicode text marks its lacking characters with boxes in the error colour.
    std::vector<Line> render(QImage& canvas) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PreviewContent content_;
};

}  // namespace qf

// The target view: the sample text as the chosen format will store it, one line per requested size,
// each pixel of the generated font magnified by a whole factor over a faint pixel grid, with every
// character's cell and the baseline drawn. The bitmaps come from the rasteriser exactly as a run
// draws them (TargetBitmaps), made on a thread of the view's own so that large sizes never hold up
// typing; lines appear as they are done. The view is handed all it shows and knows nothing of the
// dialog.
#pragma once

#include "platform/gdi.h"
#include "ui/TargetBitmaps.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qf {

// What the view shows. The owner hands a new one whenever an input changes; the view keeps its own
// copy.
struct TargetContent {
    std::optional<gdi::LOGFONT> font;  // the current entry's font; none without a current entry
    int codePageRow = -1;              // row of CodePageTable
    QString text;
    std::vector<int32_t> sizes;        // ascending, one line each
    int32_t resolutionX = 96;          // what the files are made for (300 for the PCL formats)
    int32_t resolutionY = 96;
    GlyphStorage storage = GlyphStorage::Cell;

    bool operator==(const TargetContent& other) const;
};

class TargetView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TargetView(QWidget* parent = nullptr);
    ~TargetView() override;

    // Starts making the new content's lines unless it is what the view shows already.
    void setContent(TargetContent content);
    // Stops making lines and returns once the view's thread draws no more, so that the fonts it
    // draws with may change (fonts added or taken back); the next content handed is made anew,
    // even when it is the same.
    void stopMaking();
    const TargetContent& content() const { return content_; }

    // True once every line of the current content has arrived.
    bool isComplete() const;
    // The lines in size order; a line not made yet has size 0.
    const std::vector<TargetLine>& lines() const { return lines_; }
    // Device pixels per pixel of the generated font.
    int magnification() const { return magnification_; }

    // Where pixel (x, y) of a character's cell lies in the viewport, in device pixels: x counted
    // from the cell's origin, y from its top. Empty for a line or character that is not there.
    QRect pixelRect(int line, int glyph, int x, int y) const;
    // Draws what the viewport shows into `canvas`, which has the viewport's size in device pixels.
    // Painting does exactly this.
    void render(QImage& canvas) const;

    // The request a line is made from: the content with its text in the font's character set, as
    // the run would draw it on a device context of this resolution.
    static TargetRequest MakeRequest(const TargetContent& content, int deviceDpiX, int deviceDpiY);

signals:
    // Every line of the content handed last has been made and shown, `milliseconds` after it was
    // handed over.
    void completed(qint64 milliseconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Placed {
        int top = 0;     // device pixels from the content's top: the line's caption row
        int cellTop = 0; // where the cells start
        int left = 0;    // the first cell's origin, device pixels from the content's left
        std::vector<int> origins;  // each character's origin, in font pixels from `left`
    };

    void startMaking();
    void lineMade(uint64_t generation, size_t index, TargetLine line);
    // Chooses the magnification, places the lines and sets the scroll bars' ranges.
    void relayout();
    int chooseMagnification() const;
    qreal ratio() const;

    TargetContent content_;
    bool handed_ = false;  // content_ has been handed over (and is not just the empty default)
    std::vector<TargetLine> lines_;
    std::vector<bool> made_;
    std::vector<Placed> placed_;
    int magnification_ = 2;
    int zoom_ = 0;  // a magnification the user chose with Ctrl and the wheel; 0 lets the view choose
    int contentWidth_ = 0;   // device pixels
    int contentHeight_ = 0;

    std::shared_ptr<std::atomic<uint64_t>> generation_;
    QElapsedTimer sinceHanded_;
    QThreadPool pool_;
};

}  // namespace qf

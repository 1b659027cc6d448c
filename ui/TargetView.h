// The target view: the sample text as the chosen format will store it, one line per requested size,
// each pixel of the generated font magnified by a whole factor over a faint pixel grid, with every
// character's cell and the baseline drawn. The bitmaps come from the rasteriser exactly as a run
// draws them (TargetBitmaps), made on a thread of the view's own so that large sizes never hold up
// typing; lines appear as they are done. On a second thread the format's writer makes each size's
// file as the run would, and a size the run would refuse is marked so, with the writer's reason.
// The view is handed all it shows and knows nothing of the dialog.
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
#include <map>
#include <memory>
#include <optional>
#include <string>
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
    // The format whose writer judges each size, as in a run; none: sizes are not judged.
    std::optional<OutputFormat> format;
    std::string name;                  // the entry's name, stored in the files (cp1252 bytes)
    // The Unicode characters chosen for a format that takes them, as typed (read as the batch
    // front end reads --chars); empty: the format's own, or the code page's.
    std::string characters;

    bool operator==(const TargetContent& other) const;
    // Whether a size is judged alike in both: the same font, characters, format and resolution.
    bool judgedAlike(const TargetContent& other) const;
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

    // True once every line of the current content has arrived, and every size has been judged.
    bool isComplete() const;
    // The lines in size order; a line not made yet has size 0.
    const std::vector<TargetLine>& lines() const { return lines_; }
    // Why the run makes no file of a line's size, in its writer's words: empty when it makes one,
    // none while that is not known yet.
    std::optional<std::string> refusal(size_t line) const;
    // A line's caption in full: its size, and why it is not shown or no file is made of it; and as
    // the view shows it, cut to the view's width (the whole of it is the caption's tooltip).
    QString caption(size_t line) const;
    QString shownCaption(size_t line) const;
    // Device pixels per pixel of the generated font.
    int magnification() const { return magnification_; }

    // Where pixel (x, y) of a character's cell lies in the viewport, in device pixels: x counted
    // from the cell's origin, y from its top. Empty for a line or character that is not there.
    QRect pixelRect(int line, int glyph, int x, int y) const;
    // Draws what the viewport shows into `canvas`, which has the viewport's size in device pixels.
    // Painting does exactly this.
    void render(QImage& canvas) const;

    // The request a line is made from: the content with its text in the font's character set, or
    // by character for a format whose files hold Unicode characters, as the run would draw it on
    // a device context of this resolution.
    static TargetRequest MakeRequest(const TargetContent& content, int deviceDpiX, int deviceDpiY);

signals:
    // Every line of the content handed last has been made and shown, `milliseconds` after it was
    // handed over.
    void completed(qint64 milliseconds);

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
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
        int overhang = 0;          // font pixels of ink left of the first origin
        int above = 0;             // font pixels of ink above the cells' top (stacked accents)
        int below = 0;             // and below their bottom
        int64_t right = 0;         // where the line's cells and ink end, font pixels from the first origin
    };

    void startMaking();
    void lineMade(uint64_t generation, size_t index, TargetLine line);
    void sizeJudged(uint64_t judgement, int32_t size, std::string refusal);
    void emitIfComplete();
    // Chooses the magnification, places the lines and sets the scroll bars' ranges.
    void relayout();
    int chooseMagnification() const;
    // The scroll bars' ranges for the content placed: whether each is needed follows from the
    // view's whole area and the content alone, never from the bars shown now.
    void updateScrollBars();
    qreal ratio() const;
    int margin() const;         // device pixels
    int captionHeight() const;  // device pixels
    // Where a caption is drawn in the viewport (the view's own units); -1 for the header.
    QRectF captionRect(int line) const;
    bool judging() const;

    TargetContent content_;
    bool handed_ = false;  // content_ has been handed over (and is not just the empty default)
    std::vector<TargetLine> lines_;
    std::vector<bool> made_;
    std::vector<Placed> placed_;
    // The sizes judged for content judged alike to `judged_`, each with its refusal (empty: made).
    std::map<int32_t, std::string> verdicts_;
    TargetContent judged_;
    int magnification_ = 2;
    int zoom_ = 0;  // a magnification the user chose with Ctrl and the wheel; 0 lets the view choose
    int contentWidth_ = 0;   // device pixels
    int contentHeight_ = 0;

    std::shared_ptr<std::atomic<uint64_t>> generation_;
    // Counts what is judged: a change of font, format or resolution, or sizes not being judged.
    std::shared_ptr<std::atomic<uint64_t>> judgeGeneration_;
    std::vector<int32_t> beingJudged_;  // the sizes the judging under way covers
    QElapsedTimer sinceHanded_;
    QThreadPool pool_;
    // Judging has a thread of its own: a writer, once started, finishes its size, and a new line
    // must not wait for it.
    QThreadPool judgePool_;
};

}  // namespace qf

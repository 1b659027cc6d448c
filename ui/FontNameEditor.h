// The in-place editor of a font list item's name: a line edit over the item, inside the list. It
// only edits: whoever owns the names hears of the result through `committed`.
#pragma once

#include <QLineEdit>

namespace qf {

class FontCheckList;

class FontNameEditor : public QLineEdit {
    Q_OBJECT
public:
    // Longest name an entry holds.
    static constexpr int kMaxName = 63;

    explicit FontNameEditor(FontCheckList* list);

    // What the editor says when it refuses a character: past the 63rd, or one the name cannot hold.
    static const QString& refusal();

    // Opens the editor over list position `item` with `text`.
    void open(int item, const QRect& rect, const QString& text);
    // The list position being edited, or last edited.
    int item() const { return item_; }
    // Closes without committing, for good: the owner of the names is going away, and the focus
    // leaving the editor as the window is torn down must not reach it.
    void detach();

signals:
    // The editor was left (Enter, Esc or the focus going elsewhere) and is hidden: the text it
    // holds for list position `item`. Once per opening; the focus goes back to the list after it.
    void committed(int item, const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Hides the editor and commits the text, once per opening.
    void leave();

    FontCheckList* list_;
    int item_ = -1;
    bool open_ = false;
    bool detached_ = false;
};

}  // namespace qf

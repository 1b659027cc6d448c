// The in-place editor of a font list item's name: a line edit over the item, inside the list.
#pragma once

#include <QLineEdit>

namespace qf {

class FontCheckList;
class MainDialog;

class FontNameEditor : public QLineEdit {
    Q_OBJECT
public:
    // Longest name an entry holds.
    static constexpr int kMaxName = 63;

    FontNameEditor(FontCheckList* list, MainDialog* dialog);

    // Opens the editor over list position `item` with `text`.
    void open(int item, const QRect& rect, const QString& text);
    bool isOpen() const { return open_; }
    // Closes without committing and forgets the dialog, which is going away.
    void detach();

    QString m_text;   // the text being edited
    int m_item = -1;  // the list position being edited

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Hides the editor and commits the text, once per opening.
    void leave();

    FontCheckList* list_;
    MainDialog* dialog_;
    bool open_ = false;
};

}  // namespace qf

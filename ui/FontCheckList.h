// The font list: a sorted list whose items each carry a check box, an integer of item data (the
// index of the item's entry in the dialog's font array) and an optional note shown as a tooltip.
// Sorting happens only when an item is added; inserting at a position keeps the position. Local
// files dropped on the list are handed on by a signal; the list does not read them.
#pragma once

#include <QElapsedTimer>
#include <QListWidget>
#include <QStringList>
#include <QStyleOptionViewItem>

#include <functional>

namespace qf {

class FontCheckList : public QListWidget {
    Q_OBJECT
public:
    explicit FontCheckList(QWidget* parent = nullptr);

    // Adds an item at its sorted place and returns that position.
    int addString(const QString& text);
    // Inserts an item at a position (-1 or past the end appends) without sorting; returns it.
    int insertString(int position, const QString& text);
    void deleteString(int position);
    void resetContent();

    int itemData(int position) const;
    void setItemData(int position, int data);
    bool check(int position) const;
    void setCheck(int position, bool checked);
    // The current item's position, or -1.
    int currentPosition() const;
    void setCurrentPosition(int position);
    // A note about an item, shown as its tooltip (under its name when the name is cut short).
    QString itemToolTip(int position) const;
    void setItemToolTip(int position, const QString& text);
    // An item's rectangle in the coordinates of the list's viewport.
    QRect itemRect(int position) const;
    // The check box of an item, in viewport coordinates.
    QRect checkBoxRect(int position) const;

    // Offered every key but the space bar before the list acts on it, with the current position.
    // Returning -2 means the key has been dealt with; any other answer lets the list handle it.
    using KeyToItemHandler = std::function<int(int key, int position)>;
    void setKeyToItemHandler(KeyToItemHandler handler) { keyToItem_ = std::move(handler); }

    // Type-to-find: letters typed in quick succession make the first item, from the current one
    // on, whose name begins with them current (the blank every item text starts with does not
    // count); one letter typed again steps on to the next name beginning with it.
    void keyboardSearch(const QString& search) override;
    // Whether an item's name is cut short with "…" at the list's present width.
    bool isElided(int position) const;

signals:
    // The user toggled an item's check box; the item is already the current item.
    void checkChanged();
    // The user double-clicked an item's text (not its check box).
    void textDoubleClicked();
    // Local files were dropped on the list: their paths, in the order dropped.
    void filesDropped(const QStringList& paths);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A name cut short shows whole as the item's tooltip, with its note.
    bool viewportEvent(QEvent* event) override;
    // Only drags that carry local files are taken; anything else is refused, as the items cannot
    // be moved by dragging.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // How the style draws an item: its rectangle, check box and text.
    QStyleOptionViewItem itemOption(const QListWidgetItem& entry) const;

    void toggle(int position);
    int checkBoxHit(const QPoint& viewportPos) const;

    KeyToItemHandler keyToItem_;
    // The check box last toggled by a press that has not been released yet.
    int pressedCheckBox_ = -1;
    QString typed_;             // what type-to-find has collected
    QElapsedTimer sinceTyped_;
};

}  // namespace qf

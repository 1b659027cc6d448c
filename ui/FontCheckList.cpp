#include "ui/FontCheckList.h"

#include <QApplication>
#include <QDropEvent>
#include <QHelpEvent>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolTip>
#include <QUrl>

namespace qf {

namespace {

// The list's alphabetical order: case does not count unless it is all that differs.
bool SortsBefore(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

// An item's name: its text without the blank the list puts before every name.
QString NameOf(const QListWidgetItem* item)
{
    QString text = item ? item->text() : QString();
    if (text.startsWith(u' '))
        text.remove(0, 1);
    return text;
}

// The local files a drag carries.
QStringList LocalFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

// Where the note of an item is kept.
constexpr int kNoteRole = Qt::UserRole + 1;

}  // namespace

FontCheckList::FontCheckList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    setSortingEnabled(false);  // sorted on adding only, as insertString must keep positions
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setDragDropMode(QAbstractItemView::DropOnly);
    // Drops arrive at the viewport, which hands them to the handlers below.
    viewport()->setAcceptDrops(true);
}

int FontCheckList::addString(const QString& text)
{
    // Equal texts go after the ones already there.
    int low = 0, high = count();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (SortsBefore(text, item(mid)->text()))
            high = mid;
        else
            low = mid + 1;
    }
    return insertString(low, text);
}

int FontCheckList::insertString(int position, const QString& text)
{
    if (position < 0 || position > count())
        position = count();
    auto* entry = new QListWidgetItem(text);
    // Not user-checkable: the list toggles check boxes itself so it can report each toggle once.
    entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    entry->setCheckState(Qt::Unchecked);
    entry->setData(Qt::UserRole, 0);
    insertItem(position, entry);
    return position;
}

void FontCheckList::deleteString(int position)
{
    delete takeItem(position);
}

void FontCheckList::resetContent()
{
    clear();
}

int FontCheckList::itemData(int position) const
{
    const QListWidgetItem* entry = item(position);
    return entry ? entry->data(Qt::UserRole).toInt() : -1;
}

void FontCheckList::setItemData(int position, int data)
{
    if (QListWidgetItem* entry = item(position))
        entry->setData(Qt::UserRole, data);
}

bool FontCheckList::check(int position) const
{
    const QListWidgetItem* entry = item(position);
    return entry && entry->checkState() == Qt::Checked;
}

void FontCheckList::setCheck(int position, bool checked)
{
    if (QListWidgetItem* entry = item(position))
        entry->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

int FontCheckList::currentPosition() const
{
    return currentRow();
}

void FontCheckList::setCurrentPosition(int position)
{
    setCurrentRow(position);
}

QString FontCheckList::itemToolTip(int position) const
{
    const QListWidgetItem* entry = item(position);
    return entry ? entry->data(kNoteRole).toString() : QString();
}

void FontCheckList::setItemToolTip(int position, const QString& text)
{
    if (QListWidgetItem* entry = item(position))
        entry->setData(kNoteRole, text);
}

QRect FontCheckList::itemRect(int position) const
{
    const QListWidgetItem* entry = item(position);
    return entry ? visualItemRect(entry) : QRect();
}

QStyleOptionViewItem FontCheckList::itemOption(const QListWidgetItem& entry) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualItemRect(&entry);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = entry.checkState();
    option.text = entry.text();
    return option;
}

QRect FontCheckList::checkBoxRect(int position) const
{
    const QListWidgetItem* entry = item(position);
    if (!entry)
        return {};
    const QStyleOptionViewItem option = itemOption(*entry);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

int FontCheckList::checkBoxHit(const QPoint& viewportPos) const
{
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid())
        return -1;
    const int position = index.row();
    const QRect box = checkBoxRect(position);
    const QRect row = itemRect(position);
    // The whole strip left of the text counts, not only the drawn box.
    const QRect hit(row.left(), row.top(), box.right() + 3 - row.left(), row.height());
    return hit.contains(viewportPos) ? position : -1;
}

void FontCheckList::toggle(int position)
{
    setCheck(position, !check(position));
}

void FontCheckList::mousePressEvent(QMouseEvent* event)
{
    const int position = event->button() == Qt::LeftButton ? checkBoxHit(event->position().toPoint()) : -1;
    if (position < 0) {
        QListWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    toggle(position);
    setCurrentPosition(position);
    pressedCheckBox_ = position;
    event->accept();
    emit checkChanged();
}

void FontCheckList::mouseReleaseEvent(QMouseEvent* event)
{
    pressedCheckBox_ = -1;
    QListWidget::mouseReleaseEvent(event);
}

void FontCheckList::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int position = event->button() == Qt::LeftButton ? checkBoxHit(event->position().toPoint()) : -1;
    if (position >= 0) {
        // A double click on a check box is a second toggle, not a double click. Qt delivers the
        // second press before the double click; that press has toggled already.
        if (pressedCheckBox_ != position) {
            toggle(position);
            setCurrentPosition(position);
            emit checkChanged();
        }
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit textDoubleClicked();
}

void FontCheckList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        // Within a name being typed ("DejaVu S"), a space is part of it, not a tick.
        if (!typed_.isEmpty() && sinceTyped_.isValid() && sinceTyped_.elapsed() <= QApplication::keyboardInputInterval()) {
            keyboardSearch(QStringLiteral(" "));
            event->accept();
            return;
        }
        const int position = currentPosition();
        if (position >= 0) {
            toggle(position);
            emit checkChanged();
        }
        event->accept();
        return;
    }
    if (keyToItem_ && keyToItem_(event->key(), currentPosition()) == -2) {
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void FontCheckList::keyboardSearch(const QString& search)
{
    if (search.isEmpty() || count() == 0)
        return;
    if (!sinceTyped_.isValid() || sinceTyped_.elapsed() > QApplication::keyboardInputInterval())
        typed_.clear();
    sinceTyped_.start();
    // The same letter again steps through the names that begin with it.
    const bool repeated = typed_.size() == 1 && search.compare(typed_, Qt::CaseInsensitive) == 0;
    if (!repeated)
        typed_ += search;
    const int current = std::max(0, currentPosition());
    const int start = repeated || typed_.size() == 1 ? current + 1 : current;
    for (int k = 0; k < count(); ++k) {
        const int position = (start + k) % count();
        if (NameOf(item(position)).startsWith(typed_, Qt::CaseInsensitive)) {
            setCurrentPosition(position);
            scrollToItem(item(position));
            return;
        }
    }
}

bool FontCheckList::isElided(int position) const
{
    const QListWidgetItem* entry = item(position);
    if (!entry)
        return false;
    const QStyleOptionViewItem option = itemOption(*entry);
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    // The view's own text margins, as its delegate leaves them.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int visible = std::min(text.right(), viewport()->width() - 1) - text.left() + 1 - 2 * margin;
    return QFontMetrics(font()).horizontalAdvance(entry->text()) > visible;
}

bool FontCheckList::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        QStringList tip;
        if (index.isValid() && isElided(index.row()))
            tip << NameOf(item(index.row()));
        if (index.isValid() && !itemToolTip(index.row()).isEmpty())
            tip << itemToolTip(index.row());
        if (!tip.isEmpty()) {
            QToolTip::showText(help->globalPos(), tip.join(u'\n'), viewport(), visualRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QListWidget::viewportEvent(event);
}

void FontCheckList::dragEnterEvent(QDragEnterEvent* event)
{
    // Entering is the first move: local files are taken, anything else is not.
    dragMoveEvent(event);
}

void FontCheckList::dragMoveEvent(QDragMoveEvent* event)
{
    if (LocalFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FontCheckList::dropEvent(QDropEvent* event)
{
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit filesDropped(paths);
}

}  // namespace qf

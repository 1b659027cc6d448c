#include "ui/FontNameEditor.h"

#include "res/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace qf {

FontNameEditor::FontNameEditor(FontCheckList* list) : QLineEdit(list->viewport()), list_(list)
{
    setObjectName(ControlObjectName(res::main_ids::kNameEditor));
    setProperty(kControlIdProperty, res::main_ids::kNameEditor);
    setGeometry(0, 0, 30, 30);
    setMaxLength(kMaxName);
    hide();
}

void FontNameEditor::open(int item, const QRect& rect, const QString& text)
{
    item_ = item;
    open_ = !detached_;
    setText(text);
    setGeometry(rect);
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

void FontNameEditor::detach()
{
    open_ = false;
    detached_ = true;
}

void FontNameEditor::leave()
{
    if (!open_)
        return;
    open_ = false;
    const bool hadFocus = hasFocus();
    hide();
    emit committed(item_, text());
    // Back to the list when the editor was left by a key; when the user clicked or tabbed
    // elsewhere the focus stays where it went.
    if (hadFocus || !window()->focusWidget() || window()->focusWidget() == this)
        list_->setFocus(Qt::OtherFocusReason);
}

void FontNameEditor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // Both keep what was typed; they must not reach the dialog's default or cancel button.
        event->accept();
        leave();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void FontNameEditor::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // The edit's own context menu takes the focus for a moment; that is not leaving.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    leave();
}

}  // namespace qf

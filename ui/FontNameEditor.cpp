#include "ui/FontNameEditor.h"

#include "app/MainDialog.h"
#include "res/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"

#include <QFocusEvent>
#include <QKeyEvent>

namespace qf {

FontNameEditor::FontNameEditor(FontCheckList* list, MainDialog* dialog)
    : QLineEdit(list->viewport()), list_(list), dialog_(dialog)
{
    setObjectName(ControlObjectName(res::main_ids::kNameEditor));
    setProperty(kControlIdProperty, res::main_ids::kNameEditor);
    setGeometry(0, 0, 30, 30);
    setMaxLength(kMaxName);
    hide();
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (open_)
            m_text = text;
    });
}

void FontNameEditor::open(int item, const QRect& rect, const QString& text)
{
    m_item = item;
    m_text = text;
    open_ = true;
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
    dialog_ = nullptr;
}

void FontNameEditor::leave()
{
    if (!open_ || !dialog_)
        return;
    open_ = false;
    const bool hadFocus = hasFocus();
    hide();
    dialog_->CommitRename();
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

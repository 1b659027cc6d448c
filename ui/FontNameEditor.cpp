#include "ui/FontNameEditor.h"

#include "res/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QToolTip>
#include <QValidator>

namespace qf {

namespace {

// A font's name is stored as Windows Western (cp1252) text, so typing or pasting a character it
// cannot hold is refused rather than turned into "?" behind the user's back.
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        for (const QChar c : input) {
            if (c != u'?' && EncodeForCharset(QString(c), gdi::ANSI_CHARSET, 437) == "?")
                return Invalid;
        }
        return Acceptable;
    }
};

}  // namespace

const QString& FontNameEditor::refusal()
{
    static const QString text = QStringLiteral(
        "A font name holds at most 63 characters, all of Windows Western (code page 1252).");
    return text;
}

FontNameEditor::FontNameEditor(FontCheckList* list) : QLineEdit(list->viewport()), list_(list)
{
    setObjectName(ControlObjectName(res::main_ids::kNameEditor));
    setProperty(kControlIdProperty, res::main_ids::kNameEditor);
    setGeometry(0, 0, 30, 30);
    setMaxLength(kMaxName);
    setValidator(new NameValidator(this));
    // Said where the typing is, as it is refused.
    connect(this, &QLineEdit::inputRejected, this, [this] {
        QToolTip::showText(mapToGlobal(QPoint(0, height())), refusal(), this);
    });
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

#include "ui/MessageBox.h"

#include <utility>

namespace qf {

namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

QString ApplicationTitle()
{
    return QStringLiteral("Quenfold");
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons, const QString& title,
                                           const QString& details)
{
    const MessageBoxRequest request{parent, title, text, icon, buttons, details};
    if (const MessageBoxHook& hook = Hook())
        return hook(request);
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace qf

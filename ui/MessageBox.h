// Message boxes of the window, with one hook so tests can answer them without a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace qf {

// The title of the program's own message boxes.
QString ApplicationTitle();

struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QString details;  // the long part, behind "Show Details..." in a scrolling area; or empty
};

using MessageBoxHook = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;

// Routes every message box to `hook` instead of showing it; an empty hook restores the real,
// modal box. Returns the hook that was set before.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal message box (or asks the hook) and returns the button chosen. `details`, however
// long, go into a scrolling area the user can open, so the box stays the size of `text`.
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           QMessageBox::Icon icon = QMessageBox::Warning,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                           const QString& title = ApplicationTitle(),
                                           const QString& details = {});

}  // namespace qf

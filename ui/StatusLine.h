// A line of text at the foot of a window with an optional link after it, such as what the last run
// wrote and where. A text too long for the line is cut with "…" at its end, so what it opens with
// (how many files) always shows, and is shown whole as the line's tooltip.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace qf {

class StatusLine : public QWidget {
    Q_OBJECT
public:
    explicit StatusLine(QWidget* parent = nullptr);

    // Shows `text`, and `linkText` as a link after it unless that is empty.
    void showMessage(const QString& text, const QString& linkText = {});
    void clear();

    QString text() const { return text_; }
    QString linkText() const { return linkText_; }
    // The label showing the text (cut to fit) and the link's label, hidden without a link.
    QLabel* messageLabel() const { return message_; }
    QLabel* linkLabel() const { return link_; }

signals:
    // The link was clicked or activated from the keyboard.
    void linkActivated();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void layoutParts();

    QLabel* message_ = nullptr;
    QLabel* link_ = nullptr;
    QString text_;
    QString linkText_;
};

}  // namespace qf

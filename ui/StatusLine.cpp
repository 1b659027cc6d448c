#include "ui/StatusLine.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

#include <algorithm>

namespace qf {

namespace {

// Room between the text and the link.
constexpr int kGap = 8;

}  // namespace

StatusLine::StatusLine(QWidget* parent) : QWidget(parent)
{
    message_ = new QLabel(this);
    message_->setTextFormat(Qt::PlainText);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    link_ = new QLabel(this);
    link_->setTextFormat(Qt::RichText);
    link_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Reachable with Tab and activated with Enter, as well as clicked.
    link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link_->setFocusPolicy(Qt::TabFocus);
    link_->hide();
    connect(link_, &QLabel::linkActivated, this, [this] { emit linkActivated(); });
}

void StatusLine::showMessage(const QString& text, const QString& linkText)
{
    text_ = text;
    linkText_ = linkText;
    link_->setText(linkText.isEmpty() ? QString()
                                      : QStringLiteral("<a href=\"link\">%1</a>").arg(linkText.toHtmlEscaped()));
    link_->setVisible(!linkText.isEmpty());
    layoutParts();
}

void StatusLine::clear()
{
    showMessage({});
}

void StatusLine::resizeEvent(QResizeEvent*)
{
    layoutParts();
}

void StatusLine::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        layoutParts();
    QWidget::changeEvent(event);
}

void StatusLine::layoutParts()
{
    const QFontMetrics metrics(font());
    const int linkWidth = linkText_.isEmpty() ? 0 : link_->sizeHint().width();
    const int room = std::max(0, width() - (linkWidth > 0 ? linkWidth + kGap : 0));
    const QString shown = metrics.elidedText(text_, Qt::ElideRight, room);
    message_->setText(shown);
    message_->setToolTip(shown == text_ ? QString() : text_);
    const int textWidth = std::min(room, metrics.horizontalAdvance(shown) + 2);
    message_->setGeometry(0, 0, textWidth, height());
    link_->setGeometry(textWidth + (textWidth > 0 ? kGap : 0), 0, linkWidth, height());
}

}  // namespace qf

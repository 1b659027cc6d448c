#include "ui/DialogBuilder.h"

#include "ui/Artwork.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace qf {

using res::ControlKind;

int DialogUnits::toPixelsX(int units) const
{
    return static_cast<int>(std::lround(units * baseX / 4.0));
}

int DialogUnits::toPixelsY(int units) const
{
    return static_cast<int>(std::lround(units * baseY / 8.0));
}

QRect DialogUnits::toPixels(int x, int y, int cx, int cy) const
{
    const int left = toPixelsX(x);
    const int top = toPixelsY(y);
    // Edges are converted, not sizes, so neighbouring controls keep their gaps.
    return QRect(left, top, std::max(1, toPixelsX(x + cx) - left), std::max(1, toPixelsY(y + cy) - top));
}

DialogUnits FontBaseUnits(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const double alphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = std::max(1.0, alphabet / 52.0);
    units.baseY = std::max(1.0, std::ceil(metrics.height()));
    return units;
}

QString ControlObjectName(int id)
{
    return QStringLiteral("ctl%1").arg(id);
}

QWidget* FindControl(const QWidget* dialog, int id)
{
    if (!dialog || id == res::kNoControlId)
        return nullptr;
    return dialog->findChild<QWidget*>(ControlObjectName(id));
}

int ControlIdOf(const QWidget* widget)
{
    if (!widget)
        return res::kNoControlId;
    const QVariant id = widget->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : res::kNoControlId;
}

QString TemplateText(const char* text)
{
    return QString::fromUtf8(text ? text : "");
}

namespace {

// The text a reader sees: mnemonic markers removed, "&&" kept as one "&".
QString VisibleText(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

bool HasMnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == u'&') {
            if (text[i + 1] != u'&')
                return true;
            ++i;
        }
    }
    return false;
}

}  // namespace

DialogBuilder::DialogBuilder(QDialog* dialog, const res::DialogTemplate& dialogTemplate)
    : dialog_(dialog), template_(dialogTemplate)
{
}

QWidget* DialogBuilder::control(int id) const
{
    return FindControl(dialog_, id);
}

namespace {

QComboBox* NewComboBox(const res::ControlTemplate& t, QWidget* parent, bool editable)
{
    auto* combo = new QComboBox(parent);
    combo->setEditable(editable);
    // Typed text is the choice itself, not a new item of the list.
    combo->setInsertPolicy(QComboBox::NoInsert);
    if (QLineEdit* edit = editable ? combo->lineEdit() : nullptr) {
        // The box holds the focus and hands its keys to the edit part, so Tab goes on to the next
        // control rather than into the box's own edit.
        const Qt::FocusPolicy policy = combo->focusPolicy();
        edit->setFocusPolicy(Qt::NoFocus);  // which passes on to the box, its focus proxy
        combo->setFocusPolicy(policy);
    }
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (int k = 0; k < t.itemCount; ++k)
        combo->addItem(TemplateText(t.items[k]));
    return combo;
}

// The widget of one template control, or null for a custom one its factory does not make.
QWidget* NewControl(const res::ControlTemplate& t, QWidget* parent, const ControlFactory& custom)
{
    const QString text = TemplateText(t.text);
    switch (t.kind) {
    case ControlKind::Text: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap((t.style & res::kWordWrap) != 0);
        // A label shows "&" literally unless it has a buddy; buddies are given once all exist.
        label->setText(text);
        return label;
    }
    case ControlKind::Picture: {
        auto* label = new QLabel(parent);
        label->setScaledContents(true);
        return label;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setPixmap(ResourceIconPixmap(t.resource, 32));
        return label;
    }
    case ControlKind::EtchedHorz:
    case ControlKind::EtchedVert: {
        auto* line = new QFrame(parent);
        line->setFrameShape(t.kind == ControlKind::EtchedHorz ? QFrame::HLine : QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    }
    case ControlKind::SunkenFrame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return frame;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(true);
        button->setDefault(t.kind == ControlKind::DefPushButton);
        return button;
    }
    case ControlKind::Edit:
        return new QLineEdit(parent);
    case ControlKind::DropDownList:
        return NewComboBox(t, parent, false);
    case ControlKind::DropDown:
        return NewComboBox(t, parent, true);
    case ControlKind::CheckBox:
        return new QCheckBox(text, parent);
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::CheckList:
    case ControlKind::Custom:
        return custom ? custom(t, parent) : nullptr;
    }
    return nullptr;
}

}  // namespace

void DialogBuilder::createControls(const ControlFactory& custom)
{
    dialog_->setWindowTitle(TemplateText(template_.caption));
    widgets_.clear();
    for (size_t i = 0; i < template_.controlCount; ++i) {
        const res::ControlTemplate& t = template_.controls[i];
        QWidget* w = NewControl(t, dialog_, custom);
        if (!w) {
            // Keeps the template's order and geometry even without a widget of the right kind.
            w = new QWidget(dialog_);
        }
        if (t.id != res::kNoControlId) {
            w->setObjectName(ControlObjectName(t.id));
            w->setProperty(kControlIdProperty, t.id);
        }
        if (t.style & res::kHidden)
            w->setVisible(false);
        widgets_.push_back(w);
    }
    linkMnemonicsAndTabOrder();
}

void DialogBuilder::linkMnemonicsAndTabOrder()
{
    // Mnemonics of labels move the focus to the next control that takes it, and the tab order
    // is the template order.
    QWidget* previousFocusable = nullptr;
    for (size_t i = 0; i < widgets_.size(); ++i) {
        const res::ControlTemplate& t = template_.controls[i];
        if (auto* label = qobject_cast<QLabel*>(widgets_[i]); label && t.kind == ControlKind::Text) {
            const QString text = TemplateText(t.text);
            QWidget* buddy = nullptr;
            if (!(t.style & res::kNoPrefix) && HasMnemonic(text)) {
                for (size_t k = i + 1; k < widgets_.size() && !buddy; ++k) {
                    if (widgets_[k]->focusPolicy() != Qt::NoFocus)
                        buddy = widgets_[k];
                }
            }
            if (buddy) {
                label->setBuddy(buddy);
            } else if (!(t.style & res::kNoPrefix)) {
                label->setText(VisibleText(text));
            }
        }
        QWidget* w = widgets_[i];
        if (w->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable)
                QWidget::setTabOrder(previousFocusable, w);
            previousFocusable = w;
        }
    }
}

int DialogBuilder::naturalWidth(const res::ControlTemplate& t, QWidget* w) const
{
    switch (t.kind) {
    case ControlKind::Text:
        if (t.style & res::kWordWrap) {
            // The narrowest width at which the wrapped text fits the template's height.
            auto* label = qobject_cast<QLabel*>(w);
            if (!label || label->text().isEmpty())
                return 0;
            const int height = units_.toPixelsY(t.cy);
            int low = 1, high = 16 * label->sizeHint().width() + 16;
            if (label->heightForWidth(high) > height)
                return 0;  // does not fit at any width: leave the template's
            while (low < high) {
                const int mid = (low + high) / 2;
                if (label->heightForWidth(mid) <= height)
                    high = mid;
                else
                    low = mid + 1;
            }
            return low;
        }
        return w->sizeHint().width();
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        // The label and a few pixels either side: the style's own minimum button width would
        // stretch small buttons such as "&Go!" far beyond their place.
        const QFontMetrics metrics(w->font());
        return metrics.horizontalAdvance(VisibleText(TemplateText(t.text))) + 10;
    }
    case ControlKind::CheckBox:
    case ControlKind::DropDownList:
        return w->sizeHint().width();
    default:
        return 0;
    }
}

int DialogBuilder::roomOf(size_t index) const
{
    const res::ControlTemplate& t = template_.controls[index];
    if (t.kind != ControlKind::Text || (t.style & res::kWordWrap))
        return t.cx;
    // A left-aligned label may run on into the empty space to its right, up to the next control
    // on its row (less a small gap): it looks the same and keeps the arrangement.
    int right = template_.cx;
    for (size_t k = 0; k < template_.controlCount; ++k) {
        const res::ControlTemplate& o = template_.controls[k];
        const bool sameRow = o.y < t.y + t.cy && t.y < o.y + o.cy;
        if (k != index && sameRow && o.x > t.x && o.kind != ControlKind::EtchedHorz)
            right = std::min(right, o.x - 2);
    }
    return std::max(t.cx, right - t.x);
}

DialogUnits DialogBuilder::placeControls()
{
    units_ = FontBaseUnits(dialog_->font());
    for (size_t i = 0; i < widgets_.size(); ++i) {
        const res::ControlTemplate& t = template_.controls[i];
        const int need = naturalWidth(t, widgets_[i]);
        const int room = roomOf(i);
        if (need > 0 && room > 0)
            units_.baseX = std::max(units_.baseX, need * 4.0 / room);
    }

    baseSize_ = QSize(units_.toPixelsX(template_.cx), units_.toPixelsY(template_.cy));
    baseRects_.clear();
    for (size_t i = 0; i < widgets_.size(); ++i) {
        const res::ControlTemplate& t = template_.controls[i];
        QWidget* w = widgets_[i];
        QRect r = units_.toPixels(t.x, t.y, t.cx, t.cy);
        switch (t.kind) {
        case ControlKind::Text:
            // As wide as its text needs, within the room it has.
            r.setWidth(std::min(units_.toPixelsX(t.x + roomOf(i)) - r.x(),
                                std::max(r.width(), naturalWidth(t, w))));
            break;
        case ControlKind::Icon:
            // An icon keeps its own size, wherever its rectangle ends.
            r.setSize(w->sizeHint());
            break;
        case ControlKind::EtchedHorz:
            r.setHeight(2);
            break;
        case ControlKind::EtchedVert:
            r.setWidth(2);
            break;
        case ControlKind::DropDownList:
            // The template height includes the opened list; closed, the box is one line high.
            r.setHeight(w->sizeHint().height());
            break;
        default:
            break;
        }
        baseRects_.push_back(r);
    }

    if (template_.resizable) {
        // The template's size is the least that shows every control; more is the user's to take.
        dialog_->setMinimumSize(baseSize_);
        dialog_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        dialog_->resize(baseSize_);
    } else {
        dialog_->setFixedSize(baseSize_);
    }
    arrange(dialog_->size());
    return units_;
}

void DialogBuilder::arrange(QSize size)
{
    if (baseRects_.size() != widgets_.size())
        return;
    const int dx = std::max(0, size.width() - baseSize_.width());
    const int dy = std::max(0, size.height() - baseSize_.height());
    auto share = [](int growth, int percent) { return growth * percent / 100; };
    for (size_t i = 0; i < widgets_.size(); ++i) {
        const res::ControlTemplate& t = template_.controls[i];
        const res::Anchor& a = t.anchor;
        const QRect& base = baseRects_[i];
        const int left = base.x() + share(dx, a.left);
        const int top = base.y() + share(dy, a.top);
        const int right = base.x() + base.width() + share(dx, a.right);
        const int bottom = base.y() + base.height() + share(dy, a.bottom);
        const QRect r(left, top, std::max(1, right - left), std::max(1, bottom - top));
        QWidget* w = widgets_[i];
        if (t.kind == ControlKind::Picture) {
            // Drawn for its size at the screen's pixel density, not scaled: a stretched or upscaled
            // bitmap would blur.
            auto* label = qobject_cast<QLabel*>(w);
            const qreal ratio = dialog_->devicePixelRatioF();
            if (label && (label->size() != r.size() || label->pixmap().devicePixelRatio() != ratio))
                label->setPixmap(ResourceBitmap(t.resource, r.size(), ratio));
        }
        w->setGeometry(r);
    }
}

}  // namespace qf

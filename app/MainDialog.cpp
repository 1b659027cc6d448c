#include "app/MainDialog.h"

#include "platform/DeviceContext.h"
#include "platform/gdi.h"
#include "render/GlyphRasteriser.h"
#include "res/DialogTemplates.h"
#include "ui/AboutDialog.h"
#include "ui/Artwork.h"
#include "ui/DialogBuilder.h"
#include "ui/FontCheckList.h"
#include "ui/FontNameEditor.h"
#include "ui/HelpSystem.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/StatusLine.h"
#include "ui/TargetView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QWhatsThis>

#include <algorithm>
#include <optional>

namespace qf {

namespace ids = res::main_ids;

namespace {

// A resolution as the edits accept it: blanks and tabs around an unsigned decimal number, no
// sign. Zero cannot be rendered at and more than 65,535 does not fit the font formats.
std::optional<uint32_t> ParseResolution(const QString& text)
{
    const QString trimmed = [&] {
        qsizetype begin = 0, end = text.size();
        while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
            ++begin;
        while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
            --end;
        return text.mid(begin, end - begin);
    }();
    if (trimmed.isEmpty() || trimmed.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (const QChar c : trimmed) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c.unicode() - u'0');
    }
    if (!GlyphRasteriser::resolutionInRange(value, value))
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

MainDialog::MainDialog(QWidget* parent, FontSource fontSource)
    : QDialog(parent), fontSource_(std::move(fontSource))
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    OnInitDialog();
    ConnectHandlers();
}

MainDialog::~MainDialog()
{
    // Closing the window takes the focus from an open editor, which must not commit into a
    // dialog that is half destroyed.
    m_nameEditor->detach();
    CloseHelp();
    // The fonts the window added are its own: the process's fonts are left as they were before it.
    StopDrawing();
    for (const std::unique_ptr<FileFace>& face : fileFaces_)
        if (face)
            Withdraw(*face);
}

QWidget* MainDialog::control(int id) const
{
    return FindControl(this, id);
}

void MainDialog::OnInitDialog()
{
    builder_ = std::make_unique<DialogBuilder>(this, res::kMainDialog);
    builder_->createControls([](const res::ControlTemplate& t, QWidget* parent) -> QWidget* {
        if (t.kind == res::ControlKind::CheckList)
            return new FontCheckList(parent);
        if (t.id == ids::kTargetView)
            return new TargetView(parent);
        if (t.id == ids::kStatusLine)
            return new StatusLine(parent);
        return nullptr;
    });
    m_exitButton = FindControlAs<QPushButton>(this, ids::kExit);
    m_codePageList = FindControlAs<QComboBox>(this, ids::kCodePage);
    m_characterList = FindControlAs<QComboBox>(this, ids::kCharacters);
    m_characterCount = FindControlAs<QLabel>(this, ids::kCharacterCount);
    // What is typed is read as it stands: completing "a" to "all" would choose for the user.
    m_characterList->setCompleter(nullptr);
    m_characterList->setMaxVisibleItems(kVisibleCodePages);
    m_progressBar = FindControlAs<QProgressBar>(this, ids::kProgress);
    m_startButton = FindControlAs<QPushButton>(this, ids::kStart);
    m_removeButton = FindControlAs<QPushButton>(this, ids::kRemoveFont);
    m_placeholder = FindControlAs<QFrame>(this, ids::kPlaceholder);
    m_fontList = FindControlAs<FontCheckList>(this, ids::kFontList);
    m_target = FindControlAs<TargetView>(this, ids::kTargetView);
    m_statusLine = FindControlAs<StatusLine>(this, ids::kStatusLine);
    ShowFocusOnBanner(FindControl(this, ids::kAbout));
    UpdateData(false);

    m_nameEditor = new FontNameEditor(m_fontList);
    m_nameEditor->setFont(font());

    m_hIcon = ApplicationIcon();
    setWindowIcon(m_hIcon);

    gdi::DeviceContext dc;
    UseScreenResolution(dc);
    FillFontList();
    ParseSizes();

    m_placeholder->hide();
    m_placeholder->setEnabled(false);
    m_preview = new PreviewPane(this);
    m_preview->setObjectName(ControlObjectName(ids::kPreviewPane));
    m_preview->setProperty(kControlIdProperty, ids::kPreviewPane);

    m_resolutionX = static_cast<uint32_t>(dc.getDeviceCaps(gdi::LOGPIXELSX));
    m_resolutionY = static_cast<uint32_t>(dc.getDeviceCaps(gdi::LOGPIXELSY));
    FillCodePageList();
    FillFormatList();
    FillCharacterList();
    UpdateCharacterControls();
    UpdateSelectedCount();
    UpdateData(false);
    UpdateStartButton();
    UpdateRemoveButton();
    ShowInPreview();

    // Placing comes last: the widths of the filled lists count when the dialog is laid out.
    builder_->placeControls();
    OpenToFitScreen();
    m_preview->setGeometry(m_placeholder->geometry());
    // The list is where work begins; Enter there presses Start rather than opening the About box.
    m_fontList->setFocus(Qt::OtherFocusReason);
}

void MainDialog::OpenToFitScreen()
{
    // The template's size is the least that shows every control, and on a large screen it leaves
    // the previews room for one size and a half. The window opens to three quarters of the screen
    // in either direction, whichever comes first, keeping the template's proportions.
    const QScreen* on = screen();
    if (!on)
        return;
    const QSize base = size();
    const QRect room = on->availableGeometry();
    const double factor = std::min(room.width() * 0.75 / base.width(), room.height() * 0.75 / base.height());
    if (factor <= 1.0)
        return;
    resize(static_cast<int>(base.width() * factor), static_cast<int>(base.height() * factor));
    // Not shown yet, so no resize event comes before the first show: arrange for the size now.
    builder_->arrange(size());
}

void MainDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (!builder_)
        return;
    builder_->arrange(size());
    m_preview->setGeometry(m_placeholder->geometry());
}

void MainDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Wherever the window system put it, the whole window stays on the screen it opened on, as
    // far as the screen has room for it.
    const QScreen* on = screen();
    if (!on || event->spontaneous())
        return;
    const QRect room = on->availableGeometry();
    QRect frame = frameGeometry();
    const QSize decoration = frame.size() - size();
    if (frame.width() > room.width() || frame.height() > room.height()) {
        resize(std::max(minimumWidth(), std::min(width(), room.width() - decoration.width())),
               std::max(minimumHeight(), std::min(height(), room.height() - decoration.height())));
        frame = frameGeometry();
    }
    QPoint at = frame.topLeft();
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width())));
    at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height())));
    if (at != frame.topLeft())
        move(at);
}

void MainDialog::ConnectHandlers()
{
    auto* previewText = FindControlAs<QLineEdit>(this, ids::kPreviewText);
    auto* sizes = FindControlAs<QLineEdit>(this, ids::kSizes);
    auto* resolutionX = FindControlAs<QLineEdit>(this, ids::kResolutionX);
    auto* resolutionY = FindControlAs<QLineEdit>(this, ids::kResolutionY);
    auto* proportional = FindControlAs<QCheckBox>(this, ids::kProportional);
    auto* format = FindControlAs<QComboBox>(this, ids::kFormat);

    connect(previewText, &QLineEdit::textChanged, this, &MainDialog::OnPreviewTextChange);
    connect(m_fontList, &QListWidget::currentRowChanged, this, &MainDialog::OnFontSelChange);
    connect(sizes, &QLineEdit::textChanged, this, &MainDialog::OnSizesChange);
    connect(FindControlAs<QPushButton>(this, ids::kSelectAll), &QPushButton::clicked, this, &MainDialog::OnSelectAll);
    connect(FindControlAs<QPushButton>(this, ids::kReset), &QPushButton::clicked, this, &MainDialog::OnReset);
    connect(FindControlAs<QPushButton>(this, ids::kDeselect), &QPushButton::clicked, this, &MainDialog::OnDeselect);
    connect(resolutionX, &QLineEdit::textChanged, this, &MainDialog::OnResolutionXChange);
    connect(resolutionY, &QLineEdit::textChanged, this, &MainDialog::OnResolutionYChange);
    connect(proportional, &QCheckBox::clicked, this, &MainDialog::OnProportional);
    connect(m_fontList, &FontCheckList::checkChanged, this, &MainDialog::OnCheckChange);
    connect(FindControlAs<QPushButton>(this, ids::kAbout), &QPushButton::clicked, this, &MainDialog::OnAbout);
    connect(format, &QComboBox::currentIndexChanged, this, &MainDialog::OnFormatChange);
    connect(m_exitButton, &QPushButton::clicked, this, &MainDialog::OnExit);
    connect(m_startButton, &QPushButton::clicked, this, &MainDialog::OnStart);
    connect(m_codePageList, &QComboBox::currentIndexChanged, this, &MainDialog::OnCodePageChange);
    connect(m_characterList, &QComboBox::editTextChanged, this, &MainDialog::OnCharactersChange);
    connect(m_fontList, &FontCheckList::textDoubleClicked, this, &MainDialog::BeginRename);
    connect(FindControlAs<QPushButton>(this, ids::kAddFontFile), &QPushButton::clicked, this, &MainDialog::OnAddFontFile);
    connect(m_removeButton, &QPushButton::clicked, this, &MainDialog::OnRemove);
    // Queued: the drop has ended before any message about the files comes up, so the program the
    // files were dragged from is not kept waiting.
    connect(m_fontList, &FontCheckList::filesDropped, this, &MainDialog::AddFontFiles, Qt::QueuedConnection);
    connect(m_nameEditor, &FontNameEditor::committed, this, &MainDialog::CommitRename);
    connect(m_statusLine, &StatusLine::linkActivated, this, &MainDialog::OnOpenOutputFolder);
    m_fontList->setKeyToItemHandler([this](int key, int position) { return OnVKeyToItem(key, position); });

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] {
        QWidget* focus = focusWidget();
        const QPoint at = focus ? focus->mapToGlobal(focus->rect().center()) : mapToGlobal(rect().center());
        OnHelpInfo(focus, at);
    });
    auto* whatsThis = new QShortcut(QKeySequence::WhatsThis, this);
    connect(whatsThis, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });
}

bool MainDialog::UpdateData(bool saveAndValidate)
{
    auto* sizes = FindControlAs<QLineEdit>(this, ids::kSizes);
    auto* resolutionX = FindControlAs<QLineEdit>(this, ids::kResolutionX);
    auto* resolutionY = FindControlAs<QLineEdit>(this, ids::kResolutionY);
    auto* previewText = FindControlAs<QLineEdit>(this, ids::kPreviewText);
    auto* proportional = FindControlAs<QCheckBox>(this, ids::kProportional);
    auto* selected = FindControlAs<QLabel>(this, ids::kSelectedLabel);
    auto* format = FindControlAs<QComboBox>(this, ids::kFormat);

    QLineEdit* failed = nullptr;
    {
        const QSignalBlocker b1(sizes), b2(resolutionX), b3(resolutionY), b4(previewText), b5(proportional),
            b6(format), b7(m_characterList);
        if (saveAndValidate) {
            // The order is the exchange order: a failure leaves the members after it untouched.
            m_sizesText = sizes->text();
            if (const auto x = ParseResolution(resolutionX->text()))
                m_resolutionX = *x;
            else
                failed = resolutionX;
            if (!failed) {
                if (const auto y = ParseResolution(resolutionY->text()))
                    m_resolutionY = *y;
                else
                    failed = resolutionY;
            }
            if (!failed) {
                m_previewText = previewText->text();
                m_proportional = proportional->isChecked() ? 1 : 0;
                m_selectedLabel = selected->text();
                m_format = format->currentIndex();
                m_charactersText = m_characterList->currentText();
            }
        } else {
            sizes->setText(m_sizesText);
            resolutionX->setText(QString::number(m_resolutionX));
            resolutionY->setText(QString::number(m_resolutionY));
            previewText->setText(m_previewText);
            proportional->setChecked(m_proportional != 0);
            selected->setText(m_selectedLabel);
            format->setCurrentIndex(m_format);
            m_characterList->setEditText(m_charactersText);
        }
    }
    if (!failed) {
        // A preview text taken only now (an earlier transfer stopped at a resolution) is shown too.
        if (saveAndValidate)
            ShowInPreview();
        return true;
    }
    // A number the edit cannot take is told the range: "a positive integer" would be wrong for 99999.
    bool number = false;
    failed->text().trimmed().toULongLong(&number);
    const bool positiveNumber = number && !failed->text().trimmed().startsWith(u'+') && failed->text().trimmed() != u"0";
    ShowMessageBox(this,
                   positiveNumber ? QStringLiteral("Please enter a number from 1 to %1.").arg(GlyphRasteriser::kMaxResolution)
                                  : QStringLiteral("Please enter a positive integer."),
                   QMessageBox::Warning);
    failed->setFocus(Qt::OtherFocusReason);
    failed->selectAll();
    return false;
}

void MainDialog::OnExit()
{
    if (m_running) {
        StopRun();
        return;
    }
    reject();
}

void MainDialog::OnAbout()
{
    AboutDialog about(this);
    about.exec();
}

void MainDialog::OnSysCommand(unsigned id)
{
    // The window manager handles every other window command itself.
    if ((id & 0xFFF0) == kAboutCommand)
        OnAbout();
}

std::unique_ptr<QMenu> MainDialog::createWindowMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    const QString about = TemplateText(res::kAboutMenuText);
    if (!about.isEmpty()) {
        QAction* action = menu->addAction(about);
        action->setData(kAboutCommand);
        connect(action, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    }
    return menu;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event)
{
    // During a run the window takes no command but Stop.
    if (runActive_) {
        event->accept();
        return;
    }
    const std::unique_ptr<QMenu> menu = createWindowMenu();
    if (!menu->isEmpty())
        menu->exec(event->globalPos());
    event->accept();
}

uint32_t MainDialog::helpTopicOf(const QWidget* widget) const
{
    for (const QWidget* w = widget; w && w != this; w = w->parentWidget()) {
        const QWidget* subject = w;
        // A label speaks for the control it names.
        if (const auto* label = qobject_cast<const QLabel*>(w); label && label->buddy())
            subject = label->buddy();
        const int id = ControlIdOf(subject);
        if (id != res::kNoControlId)
            return kControlHelpBase + static_cast<uint32_t>(id);
    }
    return kDialogHelpBase + static_cast<uint32_t>(res::IDD_MAIN);
}

void MainDialog::OnHelpInfo(QWidget* control, const QPoint& globalPos)
{
    ShowHelpTopic(this, helpTopicOf(control), globalPos);
}

bool MainDialog::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::QueryWhatsThis:
        // Every part of the dialog has help, at the least the dialog's own.
        event->accept();
        return true;
    case QEvent::WhatsThis: {
        // Reaches the dialog from every child without a text of its own, at dialog coordinates.
        const auto* help = static_cast<QHelpEvent*>(event);
        QWidget* target = childAt(help->pos());
        OnHelpInfo(target, help->globalPos());
        event->accept();
        return true;
    }
    default:
        return QDialog::event(event);
    }
}

}  // namespace qf

// The main dialog's side of a generation run: Start hands the members to the run, and the window
// is the run's host: it asks for the folder and the answers, shows the progress, turns Exit into
// Stop and keeps every other control out of reach until the run has ended.
#include "app/MainDialog.h"

#include "run/GenerationRun.h"
#include "ui/ConfirmDialog.h"
#include "ui/FolderChooser.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

#include <vector>

namespace qf {

namespace {

// Files named in the message at the end of a run; the rest are counted.
constexpr size_t kListedFailures = 20;

QString FromLocal(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToLocal(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString FailureText(const std::vector<RunFailure>& failures)
{
    QString text = failures.size() == 1 ? QStringLiteral("This file could not be written:\n")
                                        : QStringLiteral("These files could not be written:\n");
    for (size_t i = 0; i < failures.size() && i < kListedFailures; ++i)
        text += QStringLiteral("\n%1: %2").arg(FromLocal(failures[i].file), QString::fromStdString(failures[i].reason));
    if (failures.size() > kListedFailures)
        text += QStringLiteral("\n... and %1 more.").arg(failures.size() - kListedFailures);
    return text;
}

// The window as the run sees it.
class WindowRunHost final : public RunHost {
public:
    explicit WindowRunHost(MainDialog& dialog) : dialog_(dialog) {}

    bool chooseFolder(const std::string& initial, std::string& chosen) override
    {
        FolderChooser chooser;
        chooser.caption = QStringLiteral("Save Directory");
        chooser.title = QStringLiteral("Select a directory where Quenfold will place generated FON files:");
        chooser.initialFolder = FromLocal(initial);
        if (chooser.browse(&dialog_) != 1)
            return false;
        chosen = ToLocal(chooser.path);
        return true;
    }

    int confirmCodePage(const std::string& message) override
    {
        ConfirmDialog prompt(&dialog_);
        prompt.message = QString::fromStdString(message);
        return prompt.DoModal();
    }

    bool continueAfterOversizedFon(const std::string& message) override
    {
        return ShowMessageBox(&dialog_, QString::fromStdString(message), QMessageBox::Warning,
                              QMessageBox::Yes | QMessageBox::No, ApplicationTitle()) != QMessageBox::No;
    }

    void beginRun(int total) override
    {
        focus_ = dialog_.focusWidget();
        // The bar starts empty rather than where the last run left it.
        dialog_.m_progressBar->setRange(0, total);
        dialog_.m_progressBar->reset();
        dialog_.m_progressBar->show();
        dialog_.m_exitButton->setText(QStringLiteral("&Stop!"));
        // Every control that can be used now is put out of reach, and only those come back at the
        // end: what the user could not use before the run stays so. The progress bar takes no
        // input and keeps its look.
        for (QWidget* control : dialog_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control->isWindow() || control == dialog_.m_exitButton || control == dialog_.m_progressBar ||
                !control->isEnabled())
                continue;
            control->setEnabled(false);
            disabled_.emplace_back(control);
        }
        // The help keys too: no command but Stop reaches the dialog during a run.
        for (QShortcut* shortcut : dialog_.findChildren<QShortcut*>(Qt::FindDirectChildrenOnly)) {
            if (!shortcut->isEnabled())
                continue;
            shortcut->setEnabled(false);
            shortcuts_.emplace_back(shortcut);
        }
    }

    void setProgress(int position) override { dialog_.m_progressBar->setValue(position); }

    void endRun(const std::vector<RunFailure>& failures) override
    {
        dialog_.m_progressBar->hide();
        dialog_.m_exitButton->setText(QStringLiteral("E&xit"));
        for (const QPointer<QWidget>& control : disabled_) {
            if (control)
                control->setEnabled(true);
        }
        for (const QPointer<QShortcut>& shortcut : shortcuts_) {
            if (shortcut)
                shortcut->setEnabled(true);
        }
        disabled_.clear();
        shortcuts_.clear();
        if (focus_ && focus_->isEnabled())
            focus_->setFocus(Qt::OtherFocusReason);
        QString text = failures.empty() ? QString() : FailureText(failures);
        for (const std::string& warning : warnings_)
            text += (text.isEmpty() ? QString() : QStringLiteral("\n\n")) + QString::fromStdString(warning);
        warnings_.clear();
        if (!text.isEmpty())
            ShowMessageBox(&dialog_, text, QMessageBox::Warning, QMessageBox::Ok, ApplicationTitle());
    }

    void warning(const std::string& text) override { warnings_.push_back(text); }

    void pumpMessages() override { QCoreApplication::processEvents(); }

    bool running() const override { return dialog_.m_running != 0; }
    void setRunning(bool running) override { dialog_.m_running = running ? 1 : 0; }

private:
    MainDialog& dialog_;
    std::vector<QPointer<QWidget>> disabled_;  // in the order they were disabled
    std::vector<QPointer<QShortcut>> shortcuts_;
    std::vector<std::string> warnings_;  // shown with the failures at the end
    QPointer<QWidget> focus_;
};

}  // namespace

void MainDialog::OnStart()
{
    // Start is disabled during a run, but a click already queued may still come through the pump.
    if (runActive_)
        return;
    // A run works on the members, so the controls come first. A resolution the fonts cannot hold
    // has been reported by then; it keeps the run from starting, since the members after it in
    // the exchange (the format among them) have not been taken either.
    if (!UpdateData(true))
        return;

    GenerationSettings settings;
    settings.fonts = &m_fonts;
    settings.sizes = m_sizes;
    settings.resolutionX = m_resolutionX;
    settings.resolutionY = m_resolutionY;
    settings.format = static_cast<OutputFormat>(m_format);
    settings.codePageIndex = codePageIndex();
    settings.outputFolder = ToLocal(m_outputFolder);
    // The device the preview draws on, so the point fonts match what the user saw.
    settings.deviceDpiX = ScreenDpiX();
    settings.deviceDpiY = ScreenDpiY();

    WindowRunHost host(*this);
    runActive_ = true;
    const RunResult result = GenerationRun(settings, host).execute();
    runActive_ = false;

    if (result.started)
        m_outputFolder = FromLocal(settings.outputFolder);
    else if (!result.refusal.empty())
        ShowMessageBox(this, QString::fromStdString(result.refusal));

    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void MainDialog::reject()
{
    // Esc, a second Stop and the close box while the run finishes its font all mean Stop: the
    // dialog never ends under a run that still works on its members.
    if (runActive_) {
        m_running = 0;
        return;
    }
    QDialog::reject();
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    if (runActive_) {
        // Stop, and close once the font being made is written and the window is restored.
        m_running = 0;
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace qf

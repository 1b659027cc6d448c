// The main dialog's side of a generation run: Start hands the members to the run, and the window
// is the run's host: it asks for the folder and the answers, shows the progress, turns Exit into
// Stop and keeps every other control out of reach until the run has ended.
#include "app/MainDialog.h"

#include "run/GenerationRun.h"
#include "ui/ConfirmDialog.h"
#include "ui/FolderChooser.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/StatusLine.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace qf {

namespace {

QString FromLocal(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToLocal(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString Count(size_t n, const char* one, const char* many)
{
    return n == 1 ? QString::fromUtf8(one) : QString::fromUtf8(many).arg(n);
}

// Files named in the short message at the end of a run; the details list them all.
constexpr size_t kNamedFailures = 3;

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

    bool goOnWithoutFile(const std::string& notice, const std::string& question) override
    {
        return ShowMessageBox(&dialog_, QString::fromStdString(notice + "\n\n" + question), QMessageBox::Warning,
                              QMessageBox::Yes | QMessageBox::No, ApplicationTitle()) != QMessageBox::No;
    }

    void beginRun(int total) override
    {
        focus_ = dialog_.focusWidget();
        // The bar takes the status line's place until the run has ended.
        dialog_.m_statusLine->hide();
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

    void endRun(const std::vector<RunFailure>&) override
    {
        dialog_.m_progressBar->hide();
        dialog_.m_exitButton->setText(QStringLiteral("E&xit"));
        dialog_.m_exitButton->setEnabled(true);
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
    }

    void pumpMessages() override { QCoreApplication::processEvents(); }

    bool running() const override { return dialog_.m_running != 0; }
    void setRunning(bool running) override { dialog_.m_running = running ? 1 : 0; }

private:
    MainDialog& dialog_;
    std::vector<QPointer<QWidget>> disabled_;  // in the order they were disabled
    std::vector<QPointer<QShortcut>> shortcuts_;
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
    // Characters that cannot be read keep the run from starting, as --chars does the batch front
    // end, with what the label under them says.
    std::optional<CharacterSelection> characters;
    QString unread;
    if (!CharacterChoice(characters, unread)) {
        ShowMessageBox(this, unread);
        return;
    }

    GenerationSettings settings;
    settings.fonts = &m_fonts;
    settings.sizes = m_sizes;
    settings.resolutionX = m_resolutionX;
    settings.resolutionY = m_resolutionY;
    settings.format = static_cast<OutputFormat>(m_format);
    settings.codePageIndex = runCodePageIndex();
    settings.characters = std::move(characters);
    settings.outputFolder = ToLocal(m_outputFolder);
    // The device the preview draws on, so the point fonts match what the user saw.
    settings.deviceDpiX = ScreenDpiX();
    settings.deviceDpiY = ScreenDpiY();

    WindowRunHost host(*this);
    runActive_ = true;
    const RunResult result = GenerationRun(settings, host).execute();
    runActive_ = false;

    if (result.started) {
        m_outputFolder = FromLocal(settings.outputFolder);
        ReportRun(result, m_outputFolder);
    } else if (!result.refusal.empty()) {
        ShowMessageBox(this, QString::fromStdString(result.refusal));
    }

    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void MainDialog::ReportRun(const RunResult& result, const QString& folder)
{
    // The status line: how many files, then where (last, as a long folder is what a narrow line cuts),
    // and the way to them.
    const QString shownFolder = QDir::toNativeSeparators(folder);
    const size_t written = result.written.size();
    QString status = written == 0   ? QStringLiteral("No file written")
                     : written == 1 ? QStringLiteral("1 file written")
                                    : QStringLiteral("%1 files written").arg(QString::number(written));
    if (!result.failures.empty())
        status += Count(result.failures.size(), "; 1 could not be written", "; %1 could not be written");
    if (!result.leftOut.empty())
        status += Count(result.leftOut.size(), "; 1 size left out of its library", "; %1 sizes left out of libraries");
    if (!result.skippedFonts.empty())
        status += Count(result.skippedFonts.size(), "; 1 font left out", "; %1 fonts left out");
    status += QStringLiteral(". Folder: %1").arg(shownFolder);
    if (result.stopped) {
        status = (result.stopReason.empty()
                      ? QStringLiteral("Stopped: ")
                      : QStringLiteral("Stopped (%1): ").arg(QString::fromStdString(result.stopReason))) +
                 status;
    }
    lastRunFolder_ = folder;
    m_statusLine->showMessage(status, QDir(folder).exists() ? QStringLiteral("Open folder") : QString());
    m_statusLine->show();

    if (result.failures.empty() && result.leftOut.empty() && result.warnings.empty())
        return;
    // What went wrong, short enough for any screen; the whole list with every reason is behind
    // the box's details, which scroll.
    QStringList summary;
    QStringList details;
    if (!result.failures.empty()) {
        QStringList names;
        for (size_t i = 0; i < result.failures.size() && i < kNamedFailures; ++i)
            names << QFileInfo(FromLocal(result.failures[i].file)).fileName();
        QString named = names.join(QStringLiteral(", "));
        if (result.failures.size() > kNamedFailures)
            named += QStringLiteral(" and %1 more").arg(result.failures.size() - kNamedFailures);
        summary << (result.failures.size() == 1
                        ? QStringLiteral("1 file could not be written: %1.").arg(named)
                        : QStringLiteral("%1 files could not be written: %2.")
                              .arg(QString::number(result.failures.size()), named));
        for (const RunFailure& failure : result.failures)
            details << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(FromLocal(failure.file)),
                                                    QString::fromStdString(failure.reason));
    }
    if (!result.leftOut.empty()) {
        summary << Count(result.leftOut.size(), "1 size was left out of a library that was written.",
                         "%1 sizes were left out of libraries that were written.");
        for (const RunFailure& left : result.leftOut)
            details << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(FromLocal(left.file)),
                                                    QString::fromStdString(left.reason));
    }
    if (!result.warnings.empty()) {
        summary << Count(result.warnings.size(), "1 font was written with a warning.",
                         "%1 fonts were written with a warning.");
        for (const std::string& warning : result.warnings)
            details << QString::fromStdString(warning);
    }
    summary << QStringLiteral("The details say what happened to each.");
    ShowMessageBox(this, summary.join(QStringLiteral("\n\n")), QMessageBox::Warning, QMessageBox::Ok,
                   ApplicationTitle(), details.join(QStringLiteral("\n\n")));
}

void MainDialog::OnOpenOutputFolder()
{
    if (lastRunFolder_.isEmpty())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(lastRunFolder_)))
        ShowMessageBox(this, QStringLiteral("No file manager could open %1.").arg(QDir::toNativeSeparators(lastRunFolder_)));
}

void MainDialog::StopRun()
{
    // The run sees the cleared flag only once the font it is making is written, which can take a
    // while at large sizes: the button says at once that the click was taken, and takes no more.
    m_running = 0;
    if (runActive_) {
        m_exitButton->setText(QStringLiteral("Stopping..."));
        m_exitButton->setEnabled(false);
    }
}

void MainDialog::reject()
{
    // Esc, a second Stop and the close box while the run finishes its font all mean Stop: the
    // dialog never ends under a run that still works on its members.
    if (runActive_) {
        StopRun();
        return;
    }
    QDialog::reject();
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    if (runActive_) {
        // Stop, and close once the font being made is written and the window is restored.
        StopRun();
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace qf

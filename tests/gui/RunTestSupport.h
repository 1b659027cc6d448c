// Helpers of the run, prompt and folder chooser tests: a temporary folder, and a driver that
// answers the real modal dialogs (the chooser, the prompt) as they come up.
#pragma once

#include "GuiTestSupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qf::test::runui {

class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/quenfold-gui-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    QString path() const { return QString::fromStdString(path_); }
    QString sub(const char* name) const
    {
        const std::string p = path_ + "/" + name;
        std::filesystem::create_directories(p);
        return QString::fromStdString(p);
    }
    // File names in the folder, sorted; sub-folders too.
    std::vector<std::string> names() const { return namesIn(path()); }
    static std::vector<std::string> namesIn(const QString& folder)
    {
        std::vector<std::string> out;
        std::error_code ignored;
        for (const auto& e : std::filesystem::directory_iterator(folder.toStdString(), ignored))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::string path_;
};

// Hands every modal dialog that comes up to `handler`, once each, from a timer that runs inside
// the dialog's own event loop. A dialog left open for ten seconds is closed, so a test fails
// rather than hangs.
class ModalDriver {
public:
    using Handler = std::function<void(QWidget*)>;
    explicit ModalDriver(Handler handler) : handler_(std::move(handler))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(5);
    }
    int handled = 0;
    bool timedOut = false;

private:
    void tick()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (modal == last_) {
            if (open_.elapsed() > 10000) {
                timedOut = true;
                modal->close();
            }
            return;
        }
        last_ = modal;
        open_.start();
        ++handled;
        handler_(modal);
    }

    Handler handler_;
    QTimer timer_;
    QPointer<QWidget> last_;
    QElapsedTimer open_;
};

// The folder chooser's OK button.
inline QPushButton* ChooserOk(QFileDialog* chooser)
{
    auto* box = chooser->findChild<QDialogButtonBox*>();
    return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

// Goes to `folder` in the folder chooser and presses OK once it may be pressed.
inline void ChooseFolder(QWidget* modal, const QString& folder)
{
    auto* chooser = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(chooser, nullptr) << "not the folder chooser: " << modal->metaObject()->className();
    QPushButton* ok = ChooserOk(chooser);
    ASSERT_NE(ok, nullptr);
    chooser->setDirectory(folder);
    const bool ready = QTest::qWaitFor([&] { return ok->isEnabled(); }, 5000);
    EXPECT_TRUE(ready) << "OK stayed disabled for " << folder.toStdString();
    if (!ready) {
        chooser->reject();
        return;
    }
    QTest::mouseClick(ok, Qt::LeftButton);
}

// Answers every message box with `answer(request)` and keeps what was asked.
class MessageBoxAnswers {
public:
    explicit MessageBoxAnswers(std::function<QMessageBox::StandardButton(const MessageBoxRequest&)> answer =
                                   [](const MessageBoxRequest&) { return QMessageBox::Ok; })
        : answer_(std::move(answer))
    {
        previous_ = SetMessageBoxHook([this](const MessageBoxRequest& request) {
            requests.push_back(request);
            return answer_(request);
        });
    }
    ~MessageBoxAnswers() { SetMessageBoxHook(previous_); }
    std::vector<MessageBoxRequest> requests;

private:
    std::function<QMessageBox::StandardButton(const MessageBoxRequest&)> answer_;
    MessageBoxHook previous_;
};

}  // namespace qf::test::runui

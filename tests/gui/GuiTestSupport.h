// Helpers of the window tests: a dialog over fonts of our own, and hooks that answer message
// boxes, help pop-ups and modal dialogs without waiting for a person.
#pragma once

#include "app/MainDialog.h"
#include "res/DialogTemplates.h"
#include "ui/DialogBuilder.h"
#include "ui/HelpSystem.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace qf::test {

inline FontListEntry MakeEntry(const char* name, const char* face, int weight, int charset,
                               std::vector<int32_t> charsets)
{
    FontListEntry entry;
    entry.name = name;
    entry.logFont.lfWeight = weight;
    entry.logFont.lfCharSet = static_cast<gdi::BYTE>(charset);
    std::strncpy(entry.logFont.lfFaceName, face, sizeof entry.logFont.lfFaceName - 1);
    entry.charsets = std::move(charsets);
    return entry;
}

// Four entries whose array order differs from the list's sorted order: the list shows
// Alpha Serif (1), beta Bold (3), Mono Regular (2), Zephyr Sans (0).
inline std::vector<FontListEntry> SyntheticFonts()
{
    return {
        MakeEntry("Zephyr Sans", "DejaVu Sans", 400, 0, {0, 161}),
        MakeEntry("Alpha Serif", "DejaVu Serif", 400, 0, {0}),
        MakeEntry("Mono Regular", "DejaVu Sans Mono", 400, 0, {0, 204}),
        MakeEntry("beta Bold", "Liberation Sans", 700, 1, {1}),
    };
}
inline const std::vector<int> kSortedItemData = {1, 3, 2, 0};

inline std::unique_ptr<MainDialog> MakeDialog(std::vector<FontListEntry> fonts = SyntheticFonts())
{
    return std::make_unique<MainDialog>(nullptr, [fonts](std::vector<FontListEntry>& out) { out = fonts; });
}

// Shows a window and waits until it is the active one, so focus moves can be seen.
inline void ShowActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window);
}

template <class T>
T* Control(const QWidget* dialog, int id)
{
    return FindControlAs<T>(dialog, id);
}

// Answers every message box with `answer(request)` (OK unless told otherwise) and keeps what was
// asked.
class MessageBoxRecorder {
public:
    using Answer = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
    explicit MessageBoxRecorder(Answer answer = [](const MessageBoxRequest&) { return QMessageBox::Ok; })
        : answer_(std::move(answer))
    {
        previous_ = SetMessageBoxHook([this](const MessageBoxRequest& request) {
            requests.push_back(request);
            return answer_(request);
        });
    }
    ~MessageBoxRecorder() { SetMessageBoxHook(previous_); }
    std::vector<MessageBoxRequest> requests;

private:
    Answer answer_;
    MessageBoxHook previous_;
};

// Keeps the help topics asked for instead of showing them.
class HelpRecorder {
public:
    HelpRecorder()
    {
        previous_ = SetHelpPopupHook([this](uint32_t topic, const QString& text) {
            topics.push_back(topic);
            texts.push_back(text);
        });
    }
    ~HelpRecorder() { SetHelpPopupHook(previous_); }
    std::vector<uint32_t> topics;
    std::vector<QString> texts;

private:
    HelpPopupHook previous_;
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

// Runs `trigger`, which is expected to open a modal dialog, and closes each modal dialog that
// comes up; returns their titles.
inline QStringList CloseModals(const std::function<void()>& trigger)
{
    QStringList titles;
    ModalDriver driver([&](QWidget* modal) {
        titles << modal->windowTitle();
        modal->close();
    });
    trigger();
    return titles;
}

}  // namespace qf::test

// Context help: short texts from our help file (res/quenfold-help.txt, built into the program),
// shown in a pop-up next to the control they are about.
#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

class QWidget;

namespace qf {

// Topic numbers: a control's is kControlHelpBase + its id, a dialog's kDialogHelpBase + its
// template id.
inline constexpr uint32_t kControlHelpBase = 0x50000;
inline constexpr uint32_t kDialogHelpBase = 0x20000;

class HelpFile {
public:
    // Topics from the text of a help file: "[number]" lines (decimal or 0x hexadecimal) start a
    // topic, "#" lines are comments, blank lines separate paragraphs.
    explicit HelpFile(const QString& text);
    // The program's own help file.
    static const HelpFile& instance();

    std::optional<QString> topic(uint32_t number) const;
    size_t size() const { return topics_.size(); }

private:
    std::map<uint32_t, QString> topics_;
};

// Receives every help request instead of the pop-up (tests); an empty hook restores the pop-up.
// Only topics the file has reach it. Returns the previous hook.
using HelpPopupHook = std::function<void(uint32_t topic, const QString& text)>;
HelpPopupHook SetHelpPopupHook(HelpPopupHook hook);

// Shows a topic near globalPos. A topic the help file lacks gives the message "Failed to launch
// help." and false.
bool ShowHelpTopic(QWidget* over, uint32_t topic, QPoint globalPos);

// A topic's text as the pop-up's markup: its paragraphs, every character shown as it is.
QString HelpTopicMarkup(const QString& text);

// Closes a pop-up that is open.
void CloseHelp();

}  // namespace qf

#include "ui/HelpSystem.h"

#include "ui/MessageBox.h"

#include <QFile>
#include <QStringList>
#include <QWhatsThis>

#include <utility>

static void InitHelpResources()
{
    // The help file lives in the library's resources; a static library needs them pulled in.
    Q_INIT_RESOURCE(quenfold);
}

namespace qf {

namespace {

HelpPopupHook& PopupHook()
{
    static HelpPopupHook hook;
    return hook;
}

std::optional<uint32_t> ParseTopicNumber(QString text)
{
    text = text.trimmed();
    bool ok = false;
    const uint32_t value = text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                               ? text.mid(2).toUInt(&ok, 16)
                               : text.toUInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace

HelpFile::HelpFile(const QString& text)
{
    std::optional<uint32_t> current;
    QStringList paragraphs;
    QString paragraph;
    auto finishParagraph = [&] {
        if (!paragraph.isEmpty())
            paragraphs << paragraph;
        paragraph.clear();
    };
    auto finishTopic = [&] {
        finishParagraph();
        if (current)
            topics_[*current] = paragraphs.join(QStringLiteral("\n\n"));
        paragraphs.clear();
    };
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            finishTopic();
            current = ParseTopicNumber(line.mid(1, line.size() - 2));
            continue;
        }
        if (line.isEmpty()) {
            finishParagraph();
            continue;
        }
        paragraph += paragraph.isEmpty() ? line : QStringLiteral(" ") + line;
    }
    finishTopic();
}

const HelpFile& HelpFile::instance()
{
    static const HelpFile file = [] {
        InitHelpResources();
        QFile f(QStringLiteral(":/help/quenfold.hlp"));
        return HelpFile(f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString());
    }();
    return file;
}

std::optional<QString> HelpFile::topic(uint32_t number) const
{
    const auto it = topics_.find(number);
    if (it == topics_.end())
        return std::nullopt;
    return it->second;
}

HelpPopupHook SetHelpPopupHook(HelpPopupHook hook)
{
    return std::exchange(PopupHook(), std::move(hook));
}

bool ShowHelpTopic(QWidget* over, uint32_t topic, QPoint globalPos)
{
    const std::optional<QString> text = HelpFile::instance().topic(topic);
    if (!text) {
        ShowMessageBox(over, QStringLiteral("Failed to launch help."), QMessageBox::Warning);
        return false;
    }
    if (const HelpPopupHook& hook = PopupHook()) {
        hook(topic, *text);
        return true;
    }
    QWhatsThis::showText(globalPos, HelpTopicMarkup(*text), over);
    return true;
}

QString HelpTopicMarkup(const QString& text)
{
    // Always markup, one paragraph each: the pop-up guesses plain text for a topic without tags and
    // would show its escaped quotes and ampersands as they are.
    QString markup;
    for (const QString& paragraph : text.split(QStringLiteral("\n\n")))
        markup += QStringLiteral("<p>") + paragraph.toHtmlEscaped() + QStringLiteral("</p>");
    return markup;
}

void CloseHelp()
{
    QWhatsThis::hideText();
}

}  // namespace qf

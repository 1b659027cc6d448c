// Context help: the topic of each control, F1, What's This, and a missing topic.
#include "GuiTestSupport.h"

#include "ui/FontCheckList.h"

#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace qf {
namespace {

namespace ids = res::main_ids;

TEST(GuiHelp, EveryControlOfTheMainDialogHasATopic)
{
    const HelpFile& file = HelpFile::instance();
    for (const res::ControlTemplate& t : res::kMainControls) {
        if (t.id != res::kNoControlId && t.id != ids::kPlaceholder) {
            EXPECT_TRUE(file.topic(kControlHelpBase + static_cast<uint32_t>(t.id))) << t.id;
        }
    }
    EXPECT_TRUE(file.topic(kControlHelpBase + ids::kPreviewPane));
    EXPECT_TRUE(file.topic(kDialogHelpBase + res::IDD_MAIN));
    EXPECT_TRUE(file.topic(res::kDelvaneHelpTopic));
}

TEST(GuiHelp, HelpFileFormat)
{
    const HelpFile file(QStringLiteral("# comment\n[0x10]\nfirst line\nsame paragraph\n\nsecond\n[17]\nseventeen\n"));
    EXPECT_EQ(file.size(), 2u);
    EXPECT_EQ(file.topic(0x10), QString("first line same paragraph\n\nsecond"));
    EXPECT_EQ(file.topic(17), QString("seventeen"));
    EXPECT_FALSE(file.topic(18));
}

TEST(GuiHelp, TopicsShowTheirTextNotMarkup)
{
    // The About box's help topic has quotes and no paragraph break.
    const std::optional<QString> topic = HelpFile::instance().topic(res::kDelvaneHelpTopic);
    ASSERT_TRUE(topic);
    ASSERT_TRUE(topic->contains("\"Delvane website\""));
    const QString markup = HelpTopicMarkup(*topic);
    EXPECT_TRUE(Qt::mightBeRichText(markup));
    QTextDocument shown;
    shown.setHtml(markup);
    EXPECT_EQ(shown.toPlainText(), *topic);

    shown.setHtml(HelpTopicMarkup("a & <b> \"c\"\n\nsecond"));
    EXPECT_EQ(shown.toPlainText(), "a & <b> \"c\"\nsecond");
}

TEST(GuiHelp, WhatsThisAndF1ShowTheControlsTopic)
{
    test::HelpRecorder help;
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());

    // What's This on an edit, on the label naming it, and on the banner.
    auto whatsThis = [&](QWidget* w) {
        QHelpEvent event(QEvent::WhatsThis, QPoint(2, 2), w->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(w, &event);
    };
    whatsThis(dialog->control(ids::kSizes));
    QLabel* sizesLabel = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() == dialog->control(ids::kSizes))
            sizesLabel = label;
    ASSERT_NE(sizesLabel, nullptr);
    whatsThis(sizesLabel);
    whatsThis(dialog->m_fontList->viewport());
    EXPECT_EQ(help.topics, (std::vector<uint32_t>{0x505BF, 0x505BF, 0x50691}));

    help.topics.clear();
    dialog->m_fontList->setFocus();
    QTest::keyClick(dialog->m_fontList, Qt::Key_F1);
    EXPECT_EQ(help.topics, std::vector<uint32_t>{0x50691});
}

TEST(GuiHelp, AMissingTopicFailsToLaunchHelp)
{
    test::MessageBoxRecorder messages;
    test::HelpRecorder help;
    EXPECT_FALSE(ShowHelpTopic(nullptr, 0x5FFFF, QPoint()));
    ASSERT_EQ(messages.requests.size(), 1u);
    EXPECT_EQ(messages.requests[0].text, "Failed to launch help.");
    EXPECT_TRUE(help.topics.empty());
}

}  // namespace
}  // namespace qf

// The About box: where it opens from and where "&Go!" leads.
#include "GuiTestSupport.h"

#include "ui/AboutDialog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace qf {
namespace {

// Takes the web pages the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }
    QStringList urls;

public slots:
    void open(const QUrl& url) { urls << url.toString(); }
};

TEST(GuiAbout, GoOpensHelpTopic999FirstAndTheWebPagesAfter)
{
    UrlCatcher catcher;
    test::HelpRecorder help;
    test::MessageBoxRecorder messages;
    AboutDialog about;
    about.show();
    auto* destinations = test::Control<QComboBox>(&about, res::about_ids::kDestinations);
    auto* go = test::Control<QPushButton>(&about, res::about_ids::kGo);
    ASSERT_EQ(destinations->count(), 4);
    EXPECT_EQ(destinations->currentText(), "More about Delvane products");

    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(help.topics, std::vector<uint32_t>{999});
    EXPECT_TRUE(catcher.urls.isEmpty());
    EXPECT_TRUE(messages.requests.empty());

    destinations->setCurrentIndex(3);
    QTest::mouseClick(go, Qt::LeftButton);
    QTest::mouseClick(go, Qt::LeftButton);
    destinations->setCurrentIndex(1);
    QTest::mouseClick(go, Qt::LeftButton);
    destinations->setCurrentIndex(2);
    QTest::mouseClick(go, Qt::LeftButton);
    EXPECT_EQ(catcher.urls, (QStringList{"https://www.delvane.example/download/", "https://www.delvane.example/download/",
                                         "https://www.voska.example/", "https://www.delvane.example/"}));
    EXPECT_EQ(about.linkIndex, 2);
    EXPECT_TRUE(about.isVisible());  // the box stays open
    for (const QString& url : catcher.urls)
        EXPECT_TRUE(QUrl(url).host().endsWith(".example")) << url.toStdString();
}

TEST(GuiAbout, ShowsTheProductAndItsVendor)
{
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), "About Quenfold");
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    // The version the box names is the one the programs report (--version), so the two cannot
    // drift apart when the version moves.
    EXPECT_TRUE(texts.contains(QStringLiteral("Quenfold Version ") + QStringLiteral(QUENFOLD_VERSION))) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.filter("Copyright").size() == 1);
    EXPECT_TRUE(texts.filter("@voska.example").size() == 1);
}

TEST(GuiAbout, OpensFromTheButtonAndTheWindowMenu)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    auto* aboutButton = test::Control<QPushButton>(dialog.get(), res::main_ids::kAbout);
    EXPECT_EQ(test::CloseModals([&] { aboutButton->click(); }), QStringList{"About Quenfold"});

    // Window commands 16 to 31 are the About item; others are the window manager's.
    EXPECT_EQ(test::CloseModals([&] { dialog->OnSysCommand(0x10); }).size(), 1);
    EXPECT_EQ(test::CloseModals([&] { dialog->OnSysCommand(0x1F); }).size(), 1);
    EXPECT_TRUE(test::CloseModals([&] { dialog->OnSysCommand(0xF060); }).isEmpty());
    EXPECT_TRUE(dialog->isVisible());

    const std::unique_ptr<QMenu> menu = dialog->createWindowMenu();
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* item = menu->actions().front();
    EXPECT_EQ(item->text(), "&About Quenfold...");
    EXPECT_EQ(item->data().toUInt(), MainDialog::kAboutCommand);
    EXPECT_EQ(test::CloseModals([&] { item->trigger(); }), QStringList{"About Quenfold"});
}

}  // namespace
}  // namespace qf

#include "gui_about_test.moc"

// Pictures of the windows for people to look at (written next to the test binary, not compared),
// and the check that no control's text is cut off at the default font.
#include "GuiTestSupport.h"

#include "ui/AboutDialog.h"
#include "ui/TargetView.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace qf {
namespace {

QString OutputPath(const QString& name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

// A control whose text needs more room than it has.
QStringList ClippedTexts(const QWidget* dialog)
{
    QStringList clipped;
    for (const QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(dialog) || w->size().isEmpty())
            continue;
        QString text;
        int need = 0;
        if (const auto* label = qobject_cast<const QLabel*>(w); label && !label->text().isEmpty()) {
            text = label->text();
            need = label->wordWrap() ? 0 : label->sizeHint().width();
            if (label->heightForWidth(w->width()) > w->height() && label->wordWrap())
                need = w->width() + 1;
        } else if (const auto* check = qobject_cast<const QCheckBox*>(w)) {
            text = check->text();
            need = check->sizeHint().width();
        } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
            text = button->text();
            need = QFontMetrics(button->font()).horizontalAdvance(QString(text).remove('&')) + 4;
        } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            text = combo->currentText();
            need = combo->sizeHint().width();
        }
        if (need > w->width() || (!text.isEmpty() && QFontMetrics(w->font()).height() > w->height()))
            clipped << text;
    }
    return clipped;
}

TEST(GuiScreenshot, MainDialogAboutBoxAndPrompt)
{
    auto dialog = test::MakeDialog();
    test::ShowActive(dialog.get());
    EXPECT_TRUE(ClippedTexts(dialog.get()).isEmpty()) << ClippedTexts(dialog.get()).join(" | ").toStdString();
    const QImage main = dialog->grab().toImage();
    EXPECT_EQ(main.size(), dialog->size() * dialog->devicePixelRatio());
    EXPECT_TRUE(main.save(OutputPath("gui-main-dialog.png")));
    // The Characters choice in use: a Unicode format, characters typed, the count under them.
    test::Control<QComboBox>(dialog.get(), res::main_ids::kFormat)->setCurrentIndex(5);
    dialog->m_characterList->setEditText(QStringLiteral("ascii, U+0400-U+04FF"));
    // Cyrillic the files hold, and a snowman they do not.
    test::Control<QLineEdit>(dialog.get(), res::main_ids::kPreviewText)->setText(QStringLiteral("Ab\u0416\u042F\u2603"));
    test::Control<QLineEdit>(dialog.get(), res::main_ids::kSizes)->setText(QStringLiteral("12, 16"));
    (void)QTest::qWaitFor([&] { return dialog->m_target->isComplete(); }, 30000);
    EXPECT_TRUE(dialog->grab().save(OutputPath("gui-main-dialog-characters.png")));

    AboutDialog about(dialog.get());
    test::ShowActive(&about);
    EXPECT_TRUE(ClippedTexts(&about).isEmpty()) << ClippedTexts(&about).join(" | ").toStdString();
    EXPECT_TRUE(about.grab().save(OutputPath("gui-about-box.png")));
    about.close();

    // The prompt a run shows for a font without the chosen code page.
    QDialog prompt(dialog.get());
    DialogBuilder builder(&prompt, res::kConfirmDialog);
    builder.createControls();
    test::Control<QLabel>(&prompt, res::confirm_ids::kMessage)
        ->setText("Font DejaVu Sans cannot support selected codepage. You can continue process and Windows "
                  "will try to substitute codepage, but it is not recommended.\n\nDo you want to continue "
                  "exporting this font or you want to skip it?");
    builder.placeControls();
    test::ShowActive(&prompt);
    EXPECT_TRUE(ClippedTexts(&prompt).isEmpty()) << ClippedTexts(&prompt).join(" | ").toStdString();
    EXPECT_TRUE(prompt.grab().save(OutputPath("gui-confirm-prompt.png")));
    // Its buttons read, left to right: Yes, Yes to all, Skip, Skip all, Stop.
    std::vector<std::pair<int, QString>> buttons;
    for (QPushButton* b : prompt.findChildren<QPushButton*>())
        buttons.emplace_back(b->x(), b->text());
    std::sort(buttons.begin(), buttons.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList order;
    for (const auto& b : buttons)
        order << b.second;
    EXPECT_EQ(order, (QStringList{"&Yes", "&Yes to all", "&Skip", "Skip a&ll", "Stop"}));
}

}  // namespace
}  // namespace qf

// The code page prompt: its buttons in screen order, the default, the keys and the answers.
#include "RunTestSupport.h"

#include "run/GenerationRun.h"
#include "ui/ConfirmDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace qf {
namespace {

namespace ids = res::confirm_ids;
using test::Control;

const QString kMessage = QStringLiteral(
    "Font Liberation Sans cannot support selected codepage. You can continue process and Windows will try "
    "to substitute codepage, but it is not recommended.\n\nDo you want to continue exporting this font or "
    "you want to skip it?");

// Shows a prompt over a window, lets `act` answer it, and returns the answer.
int Answer(const std::function<void(ConfirmDialog*)>& act)
{
    QWidget owner;
    owner.show();
    ConfirmDialog prompt(&owner);
    prompt.message = kMessage;
    bool wasModal = false;
    test::ModalDriver driver([&](QWidget* modal) {
        wasModal = modal == &prompt && prompt.isModal();
        // Keys reach the window a person would be looking at: the prompt, once it is active.
        EXPECT_TRUE(QTest::qWaitForWindowActive(&prompt));
        act(&prompt);
    });
    const int result = prompt.DoModal();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(driver.timedOut);
    return result;
}

TEST(GuiConfirm, ButtonsReadLeftToRightWithTheirMnemonicsAndYesIsTheDefault)
{
    ConfirmDialog prompt;
    prompt.message = kMessage;
    prompt.UpdateData();
    EXPECT_EQ(prompt.windowTitle(), "Quenfold");

    std::vector<QPushButton*> buttons;
    for (int id : {ids::kYes, ids::kStop, ids::kYesToAll, ids::kSkip, ids::kSkipAll})
        buttons.push_back(Control<QPushButton>(&prompt, id));
    ASSERT_EQ(std::count(buttons.begin(), buttons.end(), nullptr), 0);
    std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
    QStringList texts;
    for (QPushButton* b : buttons)
        texts << b->text();
    EXPECT_EQ(texts, (QStringList{"&Yes", "&Yes to all", "&Skip", "Skip a&ll", "Stop"}));
    EXPECT_TRUE(Control<QPushButton>(&prompt, ids::kYes)->isDefault());

    // The whole question is readable: its label holds it at the label's width.
    auto* text = Control<QLabel>(&prompt, ids::kMessage);
    EXPECT_EQ(text->text(), kMessage);
    EXPECT_LE(text->heightForWidth(text->width()), text->height());
}

TEST(GuiConfirm, EveryWayOfAnsweringGivesItsNumber)
{
    struct Case {
        const char* what;
        std::function<void(ConfirmDialog*)> act;
        int expected;
    };
    const auto click = [](int id) {
        return [id](ConfirmDialog* p) { QTest::mouseClick(Control<QPushButton>(p, id), Qt::LeftButton); };
    };
    const Case cases[] = {
        {"Enter", [](ConfirmDialog* p) { QTest::keyClick(p, Qt::Key_Return); }, kAnswerYes},
        {"Esc", [](ConfirmDialog* p) { QTest::keyClick(p, Qt::Key_Escape); }, kAnswerStop},
        {"close box", [](ConfirmDialog* p) { p->close(); }, kAnswerStop},
        {"Yes", click(ids::kYes), kAnswerYes},
        {"Yes to all", click(ids::kYesToAll), kAnswerYesToAll},
        {"Skip", click(ids::kSkip), kAnswerSkip},
        {"Skip all", click(ids::kSkipAll), kAnswerSkipAll},
        {"Stop", click(ids::kStop), kAnswerStop},
        {"Alt+S", [](ConfirmDialog* p) { QTest::keyClick(p, Qt::Key_S, Qt::AltModifier); }, kAnswerSkip},
        {"Alt+L", [](ConfirmDialog* p) { QTest::keyClick(p, Qt::Key_L, Qt::AltModifier); }, kAnswerSkipAll},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Answer(c.act), c.expected) << c.what;
}

}  // namespace
}  // namespace qf

// Font files that are not installed, in the window: added by the button's file dialog or dropped on
// the list, standing in for an installed style of theirs, removed again, and converted by a run as
// the batch front end converts them.
#include "RunTestSupport.h"

#include "platform/FontCatalog.h"
#include "run/CodePageTable.h"
#include "tests/CliRun.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolTip>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

namespace qf {
namespace {

namespace fs = std::filesystem;
namespace ids = res::main_ids;
using test::Control;
using test::MessageBoxRecorder;
using test::ModalDriver;
using test::TempDir;

const std::string kFonts = "/usr/share/fonts/truetype/";

// The process's fonts: each face's file, index, family and style.
std::vector<std::tuple<std::string, int, std::string, std::string>> ProcessFonts()
{
    std::vector<std::tuple<std::string, int, std::string, std::string>> faces;
    for (const gdi::FaceInfo& f : gdi::FontCatalog::instance().faces())
        faces.emplace_back(f.file, f.faceIndex, f.family, f.style);
    return faces;
}

// The file fonts of this family and style are realised from now.
std::string FileDrawn(const char* family, int weight)
{
    const gdi::FaceInfo* face = gdi::FontCatalog::instance().match(family, weight, false);
    return face ? face->file : std::string();
}

int PositionNamed(const MainDialog& dialog, const std::string& name)
{
    for (int p = 0; p < dialog.m_fontList->count(); ++p)
        if (const int index = dialog.EntryIndexAt(p); index >= 0 && dialog.m_fonts[static_cast<size_t>(index)].name == name)
            return p;
    return -1;
}

// Drags local files onto the list and drops them there, as a file manager does.
void Drop(FontCheckList* list, const std::vector<std::string>& files)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& f : files)
        urls << QUrl::fromLocalFile(QString::fromStdString(f));
    data.setUrls(urls);
    const QPoint at = list->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    ASSERT_TRUE(drop.isAccepted());
}

TEST(GuiFontFiles, FilesJoinTheListCheckedStandInForTheirInstalledStyleAndLeaveAgain)
{
    const auto installedFonts = ProcessFonts();
    TempDir fonts;
    const std::string serif = fonts.file("added serif.ttf"), mono = fonts.file("added mono.ttf"),
                      sans = fonts.file("sans copy.ttf"), notes = fonts.file("notes.txt");
    fs::copy_file(kFonts + "liberation/LiberationSerif-Bold.ttf", serif);
    fs::copy_file(kFonts + "liberation/LiberationMono-Bold.ttf", mono);
    fs::copy_file(kFonts + "dejavu/DejaVuSans.ttf", sans);
    std::ofstream(notes) << "not a font\n";
    {
        MainDialog dialog;
        test::ShowActive(&dialog);
        FontCheckList* list = dialog.m_fontList;
        QPushButton* remove = dialog.m_removeButton;
        auto* selected = Control<QLabel>(&dialog, ids::kSelectedLabel);
        const size_t installed = dialog.m_fonts.size();
        auto entryAt = [&](int position) { return dialog.m_fonts[static_cast<size_t>(list->itemData(position))]; };
        EXPECT_FALSE(remove->isEnabled());

        // The button's dialog offers TrueType and OpenType files; the face chosen becomes a checked,
        // current entry, drawn from that file, and the window counts and previews it.
        QStringList filters;
        ModalDriver driver([&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(chooser, nullptr) << modal->metaObject()->className();
            filters = chooser->nameFilters();
            chooser->selectFile(QString::fromStdString(serif));
            static_cast<QDialog*>(chooser)->accept();  // QFileDialog's own, which takes the file typed
        });
        QTest::mouseClick(Control<QPushButton>(&dialog, ids::kAddFontFile), Qt::LeftButton);
        EXPECT_EQ(driver.handled, 1);
        ASSERT_FALSE(filters.isEmpty());
        EXPECT_TRUE(filters.front().contains("(*.ttf *.otf *.ttc *.otc)")) << filters.front().toStdString();
        ASSERT_EQ(dialog.m_fonts.size(), installed + 1);
        EXPECT_EQ(entryAt(list->currentPosition()).name, "Liberation Serif Bold");
        EXPECT_TRUE(list->check(list->currentPosition()));
        EXPECT_EQ(list->itemToolTip(list->currentPosition()), QString("Added from %1").arg(serif.c_str()));
        EXPECT_EQ(selected->text(), QString("Selected: 1/%1").arg(installed + 1));
        EXPECT_TRUE(remove->isEnabled());
        EXPECT_TRUE(dialog.m_startButton->isEnabled());
        ASSERT_TRUE(dialog.m_preview->content().font);
        EXPECT_STREQ(dialog.m_preview->content().font->lfFaceName, "Liberation Serif");
        EXPECT_EQ(dialog.m_preview->content().font->lfWeight, 700);
        EXPECT_EQ(FileDrawn("Liberation Serif", 700), serif);

        // Dropped files: a new style joins the list, one of an installed family and style takes
        // that entry's place (its row and index), and a file with no face is named with the reason.
        const int sansPosition = PositionNamed(dialog, "DejaVu Sans");
        ASSERT_GE(sansPosition, 0);
        const int sansIndex = list->itemData(sansPosition);
        MessageBoxRecorder boxes;
        Drop(list, {mono, sans, notes});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.requests.empty(); }));
        ASSERT_EQ(boxes.requests.size(), 1u);
        EXPECT_TRUE(boxes.requests[0].text.endsWith(QString("\n%1: not a font file FreeType can read").arg(notes.c_str())))
            << boxes.requests[0].text.toStdString();
        ASSERT_EQ(dialog.m_fonts.size(), installed + 2);
        EXPECT_EQ(list->currentPosition(), PositionNamed(dialog, "Liberation Mono Bold"));
        EXPECT_EQ(list->itemData(sansPosition), sansIndex);
        EXPECT_EQ(entryAt(sansPosition).name, "DejaVu Sans");
        EXPECT_TRUE(list->check(sansPosition));
        EXPECT_EQ(dialog.FileOfEntry(static_cast<size_t>(sansIndex)), QString::fromStdString(sans));
        EXPECT_EQ(FileDrawn("DejaVu Sans", 400), sans);
        EXPECT_EQ(selected->text(), QString("Selected: 3/%1").arg(installed + 2));
        // Hovering the entry says where it came from and what it stands in for.
        const QPoint at = list->visualItemRect(list->item(sansPosition)).center();
        QHelpEvent hover(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &hover);
        EXPECT_EQ(QToolTip::text(), QString("Added from %1\nIn place of the installed DejaVu Sans").arg(sans.c_str()));
        QToolTip::hideText();

        // The same file again replaces its own entry rather than standing in for it.
        dialog.AddFontFiles({QString::fromStdString(sans)});
        EXPECT_EQ(dialog.m_fonts.size(), installed + 2);
        EXPECT_EQ(list->itemData(sansPosition), sansIndex);
        EXPECT_TRUE(list->itemToolTip(sansPosition).endsWith("In place of the installed DejaVu Sans"));

        // Installed entries stay, whatever is pressed.
        list->setCurrentPosition(PositionNamed(dialog, "Liberation Sans"));
        EXPECT_FALSE(remove->isEnabled());
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(dialog.m_fonts.size(), installed + 2);

        // Delete on the stand-in brings the installed entry back as it was, unchecked, drawn from
        // the installed file again.
        list->setCurrentPosition(sansPosition);
        EXPECT_TRUE(remove->isEnabled());
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(list->itemData(sansPosition), sansIndex);
        EXPECT_FALSE(list->check(sansPosition));
        EXPECT_TRUE(list->itemToolTip(sansPosition).isEmpty());
        EXPECT_TRUE(dialog.FileOfEntry(static_cast<size_t>(sansIndex)).isEmpty());
        EXPECT_NE(FileDrawn("DejaVu Sans", 400), sans);
        EXPECT_FALSE(remove->isEnabled());

        // Remove takes a new entry out; the entries after it in the array keep their names.
        list->setCurrentPosition(PositionNamed(dialog, "Liberation Serif Bold"));
        QTest::mouseClick(remove, Qt::LeftButton);
        EXPECT_EQ(dialog.m_fonts.size(), installed + 1);
        EXPECT_EQ(PositionNamed(dialog, "Liberation Serif Bold"), -1);
        EXPECT_NE(FileDrawn("Liberation Serif", 700), serif);
        const int monoPosition = PositionNamed(dialog, "Liberation Mono Bold");
        ASSERT_GE(monoPosition, 0);
        EXPECT_EQ(list->itemToolTip(monoPosition), QString("Added from %1").arg(mono.c_str()));
        EXPECT_EQ(selected->text(), QString("Selected: 1/%1").arg(installed + 1));
    }
    // The window's files leave with it: the process's fonts are the installed ones again.
    EXPECT_EQ(ProcessFonts(), installedFonts);
}

TEST(GuiFontFiles, ARunConvertsAnAddedFaceAsTheBatchFrontEndDoes)
{
    TempDir fonts, out, batch;
    const std::string serif = fonts.file("quenfold added.ttf");
    fs::copy_file(kFonts + "liberation/LiberationSerif-Bold.ttf", serif);

    MainDialog dialog;
    test::ShowActive(&dialog);
    dialog.AddFontFiles({QString::fromStdString(serif)});
    Control<QLineEdit>(&dialog, ids::kSizes)->setText("10");
    Control<QComboBox>(&dialog, ids::kFormat)->setCurrentIndex(1);  // FNT
    Control<QLineEdit>(&dialog, ids::kResolutionX)->setText("96");
    Control<QLineEdit>(&dialog, ids::kResolutionY)->setText("96");
    dialog.m_codePageList->setCurrentIndex(CodePageTable::rowOfCodePage(1252));
    ModalDriver driver([&](QWidget* modal) { test::ChooseFolder(modal, test::PathOf(out)); });
    MessageBoxRecorder boxes;
    QTest::mouseClick(dialog.m_startButton, Qt::LeftButton);
    EXPECT_TRUE(boxes.requests.empty());
    ASSERT_EQ(out.names(), std::vector<std::string>{"Liberation Serif_10.fnt"});

    // Byte for byte what quenfold-cli makes of the file, when the screen's device context is the
    // 96 dpi one the batch front end draws on.
    const test::Outcome o = test::cli({"-q", "-f", "fnt", "-s", "10", "-r", "96", "-c", "1252", serif}, batch.path());
    ASSERT_EQ(o.status, 0) << o.err;
    if (ScreenDpiX() == 96 && ScreenDpiY() == 96) {
        EXPECT_EQ(test::readFile(out.file("Liberation Serif_10.fnt")), test::readFile(batch.file("Liberation Serif_10.fnt")));
    }
}

}  // namespace
}  // namespace qf

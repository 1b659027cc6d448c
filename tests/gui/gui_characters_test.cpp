// The Characters choice: which formats take it and when the code page list steps back, the count
// of the current font's characters, text it cannot read, a window run against the batch front end's
// --chars, and the previews drawing a Unicode text with the characters the files lack marked.
#include "RunTestSupport.h"

#include "tests/CliRun.h"
#include "ui/FontCheckList.h"
#include "ui/PreviewPane.h"
#include "ui/TargetView.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace qf {
namespace {

namespace ids = res::main_ids;
using test::Control;
using test::MessageBoxRecorder;
using test::ModalDriver;
using test::TempDir;

enum : int { kFon = 0, kSfl = 3, kBdf = 4, kPcf = 5, kOtb = 6, kPsf = 7 };

void ChooseFormat(MainDialog& dialog, int format)
{
    Control<QComboBox>(&dialog, ids::kFormat)->setCurrentIndex(format);
}

void TypeCharacters(MainDialog& dialog, const QString& text)
{
    dialog.m_characterList->setEditText(text);
}

QString CountText(const MainDialog& dialog)
{
    return dialog.m_characterCount->text();
}

// The installed test fonts with only DejaVu Sans checked and current, shown large enough for the
// target view to show a line whole.
std::unique_ptr<MainDialog> DialogOnDejaVuSansAlone()
{
    auto dialog = std::make_unique<MainDialog>();
    FontCheckList* list = dialog->m_fontList;
    for (int p = 0; p < list->count(); ++p) {
        FontListEntry& entry = dialog->m_fonts[static_cast<size_t>(list->itemData(p))];
        entry.selected = entry.name == "DejaVu Sans" ? 1 : 0;
        list->setCheck(p, entry.selected != 0);
        if (entry.selected)
            list->setCurrentPosition(p);
    }
    dialog->UpdateSelectedCount();
    dialog->UpdateStartButton();
    test::ShowActive(dialog.get());
    dialog->resize(1600, 1000);
    return dialog;
}

TEST(GuiCharacters, TakenByTheUnicodeFormatsWithTheCodePageListSteppingBackWhereItDecidesNothing)
{
    auto dialog = test::MakeDialog();
    QComboBox* characters = dialog->m_characterList;
    QComboBox* codePage = dialog->m_codePageList;
    // {format, Characters enabled, code page list enabled while Characters is empty}
    const std::vector<std::tuple<int, bool, bool>> formats = {
        {kFon, false, true}, {1, false, true}, {2, false, true}, {kSfl, false, true},
        {kBdf, true, true},  {kPcf, true, true}, {kOtb, true, true}, {kPsf, true, false}};
    for (const auto& [format, takes, decides] : formats) {
        ChooseFormat(*dialog, format);
        EXPECT_EQ(characters->isEnabled(), takes) << format;
        EXPECT_EQ(codePage->isEnabled(), decides) << format;
        EXPECT_EQ(CountText(*dialog).isEmpty(), !takes) << format;
        // PSF offers its own set; every Unicode format the named sets of --chars.
        EXPECT_EQ(characters->findText(QStringLiteral("cp437, cp1250, cp1251, cp1252, cp1253")) >= 0, format == kPsf);
        EXPECT_GE(characters->findText(QStringLiteral("cp1251")), 0);
        EXPECT_GE(characters->findText(QStringLiteral("all")), 0);
    }
    // Typed characters decide for BDF, PCF and OTB: the list steps back, and comes again.
    for (const int format : {kBdf, kPcf, kOtb}) {
        ChooseFormat(*dialog, format);
        TypeCharacters(*dialog, QStringLiteral("ascii"));
        EXPECT_FALSE(codePage->isEnabled()) << format;
        EXPECT_FALSE(codePage->toolTip().isEmpty());
        TypeCharacters(*dialog, QString());
        EXPECT_TRUE(codePage->isEnabled()) << format;
    }
    // Back to an 8-bit format, the text typed is kept but not used.
    TypeCharacters(*dialog, QStringLiteral("U+0400-U+04FF"));
    ChooseFormat(*dialog, kFon);
    EXPECT_FALSE(characters->isEnabled());
    EXPECT_TRUE(codePage->isEnabled());
    EXPECT_FALSE(dialog->m_preview->content().unicode);
    ChooseFormat(*dialog, kPcf);
    EXPECT_EQ(characters->currentText(), QStringLiteral("U+0400-U+04FF"));

    // Typed into the box, which holds the focus, the text is the choice.
    characters->clearEditText();
    QTest::keyClicks(characters, "cp1251, U+2500");
    EXPECT_EQ(dialog->m_charactersText, QStringLiteral("cp1251, U+2500"));
    EXPECT_EQ(characters->lineEdit()->focusPolicy(), Qt::NoFocus);
    EXPECT_NE(characters->focusPolicy(), Qt::NoFocus);

    // The label's mnemonic leads to the choice.
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("C&haracters:")) {
            EXPECT_EQ(label->buddy(), characters);
        }
    }
}

TEST(GuiCharacters, CountsTheCurrentFontsCharactersAndNamesTextItCannotRead)
{
    auto dialog = test::MakeDialog();
    const QString name = QString::fromStdString(
        dialog->m_fonts[static_cast<size_t>(dialog->EntryIndexAt(dialog->m_fontList->currentPosition()))].name);
    ChooseFormat(*dialog, kPcf);
    TypeCharacters(*dialog, QStringLiteral("ascii"));
    EXPECT_EQ(CountText(*dialog), QStringLiteral("95 of 95 characters in ") + name);
    // U+0378 is no character at all, so no face maps it; overlapping items count once.
    TypeCharacters(*dialog, QStringLiteral("U+0041-U+0043, U+0042, u+0378"));
    EXPECT_EQ(CountText(*dialog), QStringLiteral("3 of 4 characters in ") + name);
    // Renamed, the font is counted under its new name.
    dialog->CommitRename(dialog->m_fontList->currentPosition(), QStringLiteral("Renamed Face"));
    EXPECT_EQ(CountText(*dialog), QStringLiteral("3 of 4 characters in Renamed Face"));
    dialog->CommitRename(dialog->m_fontList->currentPosition(), name);
    // The code page's characters by default, counted for a Unicode-only format.
    TypeCharacters(*dialog, QString());
    EXPECT_TRUE(CountText(*dialog).endsWith(QStringLiteral(" characters in ") + name)) << CountText(*dialog).toStdString();
    EXPECT_TRUE(CountText(*dialog).contains(QStringLiteral(" of 2"))) << CountText(*dialog).toStdString();

    // An item that cannot be read is named, and Start says the same and goes no further.
    TypeCharacters(*dialog, QStringLiteral("ascii, cyrillic"));
    const QString said = CountText(*dialog);
    EXPECT_TRUE(said.contains(QStringLiteral("\"cyrillic\""))) << said.toStdString();
    EXPECT_NE(dialog->m_characterCount->palette().color(QPalette::WindowText),
              dialog->palette().color(QPalette::WindowText));
    QTest::mouseClick(Control<QPushButton>(dialog.get(), ids::kSelectAll), Qt::LeftButton);
    ASSERT_TRUE(dialog->m_startButton->isEnabled());
    MessageBoxRecorder boxes;
    ModalDriver chooser([](QWidget* modal) { modal->close(); });
    QTest::mouseClick(dialog->m_startButton, Qt::LeftButton);
    ASSERT_EQ(boxes.requests.size(), 1u);
    EXPECT_EQ(boxes.requests[0].text, said);
    EXPECT_EQ(chooser.handled, 0);  // no folder was asked for
}

TEST(GuiCharacters, AWindowRunWritesWhatTheBatchFrontEndWritesWithChars)
{
    auto dialog = DialogOnDejaVuSansAlone();
    TempDir out, batch;
    ChooseFormat(*dialog, kPcf);
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("12");
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("96");
    Control<QLineEdit>(dialog.get(), ids::kResolutionY)->setText("96");
    // A code page other than the batch front end's default: with Characters typed it is not used.
    dialog->m_codePageList->setCurrentIndex(5);
    TypeCharacters(*dialog, QStringLiteral("ascii, U+0400-U+04FF, U+2500-U+257F"));
    ModalDriver driver([&](QWidget* modal) { test::ChooseFolder(modal, test::PathOf(out)); });
    MessageBoxRecorder boxes;
    QTest::mouseClick(dialog->m_startButton, Qt::LeftButton);
    EXPECT_TRUE(boxes.requests.empty());
    ASSERT_EQ(out.names(), std::vector<std::string>{"DejaVu-Sans_12.pcf"});

    const test::Outcome o = test::cli(
        {"-q", "-f", "pcf", "-s", "12", "-r", "96", "--chars", "ascii, U+0400-U+04FF, U+2500-U+257F", "DejaVu Sans"},
        batch.path());
    ASSERT_EQ(o.status, 0) << o.err;
    if (ScreenDpiX() == 96 && ScreenDpiY() == 96) {
        EXPECT_EQ(test::readFile(out.file("DejaVu-Sans_12.pcf")), test::readFile(batch.file("DejaVu-Sans_12.pcf")));
    }
}

// One glyph of a BDF file: its box and rows of hexadecimal pixels.
struct BdfGlyph {
    int width = 0, height = 0, xOffset = 0, yOffset = 0;
    std::vector<std::string> rows;
    bool pixel(int x, int y) const
    {
        const int nibble = std::stoi(rows[static_cast<size_t>(y)].substr(static_cast<size_t>(x / 4), 1), nullptr, 16);
        return (nibble & (8 >> (x % 4))) != 0;
    }
};

std::map<uint32_t, BdfGlyph> ReadBdfGlyphs(const std::string& text, int& ascent)
{
    std::map<uint32_t, BdfGlyph> glyphs;
    std::istringstream in(text);
    std::string word;
    uint32_t code = 0;
    while (in >> word) {
        if (word == "FONT_ASCENT") {
            in >> ascent;
        } else if (word == "ENCODING") {
            in >> code;
        } else if (word == "BBX") {
            BdfGlyph& g = glyphs[code];
            in >> g.width >> g.height >> g.xOffset >> g.yOffset;
        } else if (word == "BITMAP") {
            BdfGlyph& g = glyphs[code];
            for (int r = 0; r < g.height && in >> word; ++r)
                g.rows.push_back(word);
        }
    }
    return glyphs;
}

TEST(GuiCharacters, PreviewsDrawTheTextByCharacterAndMarkWhatTheFilesLack)
{
    ASSERT_EQ(ScreenDpiY(), 96);  // the batch front end's device context
    auto dialog = DialogOnDejaVuSansAlone();
    TargetView* view = dialog->m_target;
    // Cyrillic Zhe is chosen; Ya is not, and no face has U+0378.
    Control<QLineEdit>(dialog.get(), ids::kPreviewText)->setText(QStringLiteral("A\u0416\u042F\u0378"));
    Control<QLineEdit>(dialog.get(), ids::kSizes)->setText("12");
    Control<QLineEdit>(dialog.get(), ids::kResolutionX)->setText("96");
    ChooseFormat(*dialog, kBdf);
    TypeCharacters(*dialog, QStringLiteral("ascii, U+0416"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete(); }, 30000));

    // BDF with characters chosen: each glyph is the one the batch front end's file stores.
    TempDir files;
    const test::Outcome o =
        test::cli({"-q", "-f", "bdf", "-s", "12", "-r", "96", "--chars", "ascii, U+0416", "DejaVu Sans"}, files.path());
    ASSERT_EQ(o.status, 0) << o.err;
    int ascent = 0;
    const auto stored = ReadBdfGlyphs(test::readFile(files.file("DejaVu Sans_12.bdf")), ascent);
    ASSERT_EQ(view->lines().size(), 1u);
    const TargetLine line = view->lines()[0];  // kept: the view makes its lines anew below
    ASSERT_TRUE(line.error.empty()) << line.error;
    ASSERT_EQ(line.glyphs.size(), 4u);
    EXPECT_EQ(line.ascent, ascent);
    for (size_t k = 0; k < 2; ++k) {
        const TargetGlyph& glyph = line.glyphs[k];
        ASSERT_TRUE(stored.count(glyph.code)) << glyph.code;
        const BdfGlyph& g = stored.at(glyph.code);
        EXPECT_FALSE(glyph.lacking);
        ASSERT_EQ(glyph.width, g.width) << k;
        ASSERT_EQ(glyph.height, g.height) << k;
        EXPECT_EQ(glyph.left, g.xOffset) << k;
        EXPECT_EQ(glyph.top, ascent - g.yOffset - g.height) << k;
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x)
                EXPECT_EQ(glyph.inkAt(glyph.left + x, glyph.top + y), g.pixel(x, y)) << k << " " << x << "," << y;
    }
    EXPECT_EQ(line.glyphs[1].code, 0x0416u);
    EXPECT_TRUE(line.glyphs[2].lacking);  // left out by the characters chosen
    EXPECT_TRUE(line.glyphs[3].lacking);  // lacked by the face

    // PCF draws the same glyphs; the lacking characters are hollow boxes in the error colour.
    ChooseFormat(*dialog, kPcf);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete() && view->content().format == OutputFormat::PCF; }, 30000));
    const TargetLine& pcf = view->lines()[0];
    ASSERT_EQ(pcf.glyphs.size(), 4u);
    EXPECT_EQ(pcf.glyphs[1].bits, line.glyphs[1].bits);
    EXPECT_GT(pcf.glyphs[1].width, 0);
    QImage canvas(view->viewport()->size() * view->viewport()->devicePixelRatio(), QImage::Format_RGB32);
    view->render(canvas);
    for (const int k : {2, 3}) {
        EXPECT_TRUE(pcf.glyphs[static_cast<size_t>(k)].lacking);
        const QRect corner = view->pixelRect(0, k, 0, 0);
        EXPECT_EQ(canvas.pixel(corner.topLeft()), qRgb(0xA0, 0, 0)) << k;
    }
    const PreviewContent& preview = dialog->m_preview->content();
    EXPECT_TRUE(preview.unicode);
    EXPECT_EQ(preview.lacking, (std::u32string{0x0378, 0x042F}));

    // The 8-bit formats draw through the code page as before.
    ChooseFormat(*dialog, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isComplete() && view->content().format == OutputFormat::FNT; }, 30000));
    EXPECT_FALSE(dialog->m_preview->content().unicode);
    EXPECT_FALSE(view->lines()[0].glyphs[1].lacking);
}

}  // namespace
}  // namespace qf

// Helpers of the run, prompt and folder chooser tests: temporary folders as the window takes them,
// and answering the real folder chooser as it comes up.
#pragma once

#include "GuiTestSupport.h"
#include "tests/TestSupport.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QString>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace qf::test {

// A temporary folder's path as the window's controls hold it.
inline QString PathOf(const TempDir& dir)
{
    return QString::fromStdString(dir.path());
}

// A folder made inside `dir` (with any folders on the way to it); its path.
inline QString SubFolder(const TempDir& dir, const char* name)
{
    const std::string path = dir.file(name);
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return QString::fromStdString(path);
}

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

}  // namespace qf::test

#include <gtest/gtest.h>

#include <cstdlib>

#ifdef QUENFOLD_HAVE_GUI
#include "app/GeneratorApp.h"

#include <QApplication>
#include <QTemporaryDir>
#endif

int main(int argc, char** argv)
{
    // Only the known test fonts, whatever the machine has installed.
    setenv("FONTCONFIG_FILE", QUENFOLD_TEST_FONTS_CONF, 1);
    // Tests read the faces themselves and leave the user's face cache alone; the cache's own tests
    // name files of their own.
    setenv("QUENFOLD_FACE_CACHE", "", 0);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUENFOLD_HAVE_GUI
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QTemporaryDir settings;
    qf::GeneratorApp::KeepQtSettingsPrivate(settings);
#endif
    return RUN_ALL_TESTS();
}

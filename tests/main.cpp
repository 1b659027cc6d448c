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
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUENFOLD_HAVE_GUI
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QTemporaryDir settings;
    qf::GeneratorApp::KeepQtSettingsPrivate(settings);
#endif
    return RUN_ALL_TESTS();
}

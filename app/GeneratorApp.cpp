#include "app/GeneratorApp.h"

#include "app/MainDialog.h"
#include "ui/Artwork.h"
#include "ui/MessageBox.h"

#include <QSettings>

namespace qf {

GeneratorApp::GeneratorApp(int& argc, char** argv)
    : app_(std::make_unique<QApplication>(argc, argv))
{
    QApplication::setApplicationName(ApplicationTitle());
    QApplication::setWindowIcon(ApplicationIcon());
    KeepQtSettingsPrivate(settingsFolder_);
}

void GeneratorApp::KeepQtSettingsPrivate(const QTemporaryDir& folder)
{
    if (!folder.isValid())
        return;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
}

GeneratorApp::~GeneratorApp() = default;

bool GeneratorApp::InitInstance()
{
    MainDialog dialog;
    dialog.exec();
    return false;
}

int GeneratorApp::Run()
{
    InitInstance();
    return 0;
}

}  // namespace qf

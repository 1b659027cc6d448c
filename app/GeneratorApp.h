// The application: owns Qt's application object and runs the main dialog as the program's only
// window; the program ends when the dialog closes.
#pragma once

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace qf {

class GeneratorApp {
public:
    GeneratorApp(int& argc, char** argv);
    ~GeneratorApp();

    // Runs the main dialog modally; false, as there is nothing to do once it has closed.
    bool InitInstance();
    // The program: InitInstance, then the exit status.
    int Run();

    // Qt's own dialogs remember folders and history in the user's settings; the program stores
    // nothing between starts, so their settings go to a folder that lives as long as the program.
    static void KeepQtSettingsPrivate(const QTemporaryDir& folder);

private:
    QTemporaryDir settingsFolder_;
    std::unique_ptr<QApplication> app_;
};

}  // namespace qf

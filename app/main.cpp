#include "app/GeneratorApp.h"
#include "platform/FileLayer.h"

#include <csignal>

int main(int argc, char** argv)
{
    // Ended from outside (Ctrl+C in the terminal that started it, the terminal closed, a session
    // ending), the window takes its half-written temporary file with it.
    qf::exitOnSignals({SIGINT, SIGTERM, SIGHUP});
    qf::GeneratorApp app(argc, argv);
    return app.Run();
}

#include "app/GeneratorApp.h"
#include "platform/FileLayer.h"

#include <csignal>
#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    // Asked from a terminal, the window's program answers there instead of opening.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs("Usage: quenfold [--help] [--version] [Qt options]\n"
                       "Opens the Quenfold window, which turns TrueType and OpenType fonts into bitmap fonts.\n"
                       "For conversions from scripts, see quenfold-cli --help.\n",
                       stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("quenfold %s\n", QUENFOLD_VERSION);
            return 0;
        }
    }
    // Ended from outside (Ctrl+C in the terminal that started it, the terminal closed, a session
    // ending), the window takes its half-written temporary file with it.
    qf::exitOnSignals({SIGINT, SIGTERM, SIGHUP});
    qf::GeneratorApp app(argc, argv);
    return app.Run();
}

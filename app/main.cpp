#include "app/GeneratorApp.h"

int main(int argc, char** argv)
{
    qf::GeneratorApp app(argc, argv);
    return app.Run();
}

#include "cli/CliApp.h"

int main(int argc, char** argv) {
    CliApp app;
    return app.Main(argc, argv);
}

#include "cli/CliApp.h"

int main(int argc, char** argv) {
    cli::CliApp app;
    return app.Main(argc, argv);
}

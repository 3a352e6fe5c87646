// zimpprotocol: the desktop workbench.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/AppIcon.h"
#include "app/MainWindow.h"
#include "app/QtMessagePresenter.h"
#include "app/StartupChecks.h"
#include "streams/MessageStreams.h"

using streams::SetMessagePresenter;

namespace {
const char kUsage[] =
    "usage: zimpprotocol [--config FILE] [--port DEVICE] [Qt options]\n"
    "The ZIMP workbench's desktop program.\n"
    "\n"
    "  --config FILE   configuration file, which must exist (default: ZIMPProtocol.ini in\n"
    "                  the working directory, then beside the program); a missing one is\n"
    "                  refused with a message box and exit status 2\n"
    "  --port DEVICE   serial device for this run, instead of configuration/Port\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Qt's own options (such as -platform offscreen) are taken as well. The window's size,\n"
    "place and bars are kept in ~/.config/ZIMPProtocol/zimpprotocol.conf.\n";

// Our own options; Qt's (-platform, -style ...) are taken by QApplication first.
bool ParseOptions(int argc, char** argv, app::AppOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if ((!std::strcmp(a, "--config") || !std::strcmp(a, "--port")) && i + 1 < argc) {
            (a[2] == 'c' ? options.config : options.port.emplace()) = argv[++i];
        } else if (!std::strncmp(a, "--config=", 9)) {
            options.config = a + 9;
        } else if (!std::strncmp(a, "--port=", 7)) {
            options.port = std::string(a + 7);
        } else {
            return false;
        }
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt looks for a display, so that they work anywhere.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("zimpprotocol %s\n", ZIMP_VERSION);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIMPProtocol"));
    QApplication::setApplicationVersion(QStringLiteral(ZIMP_VERSION));
    QApplication::setWindowIcon(app::AppIcon());
    app::AppOptions options;
    const QStringList args = QApplication::arguments();
    std::vector<std::string> kept;
    for (const QString& a : args)
        kept.push_back(a.toStdString());
    std::vector<char*> argvLeft;
    for (std::string& s : kept)
        argvLeft.push_back(s.data());
    if (!ParseOptions(static_cast<int>(argvLeft.size()), argvLeft.data(), options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    app::QtMessagePresenter presenter;
    SetMessagePresenter(&presenter);
    if (!app::CheckConfigurationOption(options.config)) {
        SetMessagePresenter(nullptr);
        return 2;
    }
    int status = 0;
    {
        app::MainWindow window(options);
        window.show();
        status = application.exec();
    }
    SetMessagePresenter(nullptr);
    return status;
}

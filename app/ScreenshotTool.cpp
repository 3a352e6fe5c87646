// zimp-screenshots: renders every window of the desktop program into PNG files, against the
// in-process simulated radio, for the documentation. Run by scripts/screenshots on the
// offscreen platform with a fixed style and font.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <thread>

#include "app/AboutDialog.h"
#include "app/BootLoadDialog.h"
#include "app/CommandTable.h"
#include "app/LoadParamDialog.h"
#include "app/LogConsole.h"
#include "app/MainWindow.h"
#include "app/ManualZimpDialog.h"
#include "app/PortBaudDialog.h"
#include "app/ProgressDialog.h"
#include "app/RequestsDialog.h"
#include "app/SaveMemoryDialog.h"
#include "app/SetPortDialog.h"
#include "app/TqvBootLoadDialog.h"
#include "app/ZimpConfigDialog.h"
#include "platform/PseudoTerminal.h"
#include "sim/radio/RadioSimulator.h"
#include "sim/radio/ZimpRadio.h"
#include "streams/MessagePresenter.h"
#include "streams/MessageStreams.h"

using memops::CurrentPortChoice;
using memops::LoadRequest;
using memops::TqvSettings;
using memops::ZimpRequest;

using streams::logout;
using streams::RecordingPresenter;
using streams::SetMessagePresenter;

namespace {
QString g_out;

bool Save(QWidget* w, const char* name, bool fitContents = true) {
    if (fitContents)
        w->adjustSize();
    QApplication::processEvents();
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

void Settle(int ms) {
    QTest::qWait(ms);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZIMPProtocol"));
    if (argc < 2) {
        std::fputs("usage: zimp-screenshots OUTDIR\n", stderr);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setCursorFlashTime(0);  // no blinking caret: the same picture every run

    // The simulated radio on a pseudo-terminal, and a configuration naming it.
    platform::PseudoTerminal pty;
    if (!pty.Open(true))
        return 1;
    radio::ZimpRadioOptions options;
    options.echo = true;
    radio::ZimpRadio radio(options);
    radio.Preload(0x401000, {0x01, 0xAB, 0x00, 0xFF, 0x12, 0x34, 0x56, 0x78});
    radio::RadioSimulator simulator(pty.MasterFd(), radio, 0);
    std::thread simThread([&] { simulator.Run(); });
    // A stable name for the line, so that the pictures do not depend on the pty's number.
    const QString link = QStringLiteral("/tmp/zimp-radio");
    QFile::remove(link);
    QFile::link(QString::fromStdString(pty.SlavePath()), link);
    const QString ini = QDir::temp().filePath(QStringLiteral("zimp-screenshots.ini"));
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(QStringLiteral("[configuration]\nPort=%1\nBaudrate=115200\nEcho=1\nDebugLevel=1\n"
                               "LastAddress=401000\nLastCounter=8\n[LoadMemory]\nBlockSize=1024\n"
                               "Flash=examples/firmware.s28\n[SaveFlash]\nType=S2\n"
                               "File=saved.s28\nRange1=0x10000,0x15251\n[BootLoad]\n"
                               "Baudrate=9600\nFile=examples/boot.s19\n")
                    .arg(link)
                    .toUtf8());
    }
    RecordingPresenter boxes;  // no box may wait for a user here
    SetMessagePresenter(&boxes);
    int failures = 0;
    {
        app::AppOptions appOptions;
        appOptions.config = ini.toStdString();
        app::MainWindow window(appOptions);
        window.resize(900, 420);
        window.show();
        Settle(50);
        // A few rows in the history: a load, one whose file is missing, a save.
        const auto loadFile = [&](int id, const QString& file) {
            QTimer::singleShot(0, [file] {
                auto* d = qobject_cast<app::LoadParamDialog*>(QApplication::activeModalWidget());
                if (d == nullptr)
                    return;
                d->file->setText(file);
                d->accept();
            });
            window.Action(id)->trigger();
        };
        loadFile(app::kIdLoadFlash, QStringLiteral("examples/firmware.s28"));
        loadFile(app::kIdLoadRam, QStringLiteral("examples/firmware-old.s19"));
        const QString saved = QDir::temp().filePath(QStringLiteral("saved.s28"));
        window.Action(app::kIdSaveFlash)->trigger();
        window.SaveMemory().file->setText(saved);
        window.SaveMemory().accept();
        Settle(50);
        failures += !Save(&window, "main-window", false);
        QFile::remove(saved);

        for (QAction* a : window.menuBar()->actions()) {
            if (a->text() == QStringLiteral("&Load")) {
                window.menuBar()->setActiveAction(a);
                Settle(50);
                failures += !Save(a->menu(), "menu-load");
                a->menu()->hide();
            }
        }

        logout() << "Returned NACK is 4e\n" << std::flush;
        Settle(50);
        window.Console()->resize(window.Console()->width(), 240);
        failures += !Save(window.Console(), "log-console", false);

        app::ManualZimpDialog& manual = window.ManualZimp();
        // Shown modeless here, so that it can be captured while bytes arrive.
        QTimer::singleShot(0, [&] {
            manual.command->setText(QStringLiteral("F113"));
            manual.accept();
            Settle(300);
            failures += !Save(&manual, "manual-zimp");
            manual.reject();
        });
        manual.Run(&window.Port());

        window.Action(app::kIdCommands)->trigger();
        app::RequestsDialog& requests = window.Requests();
        requests.requests->button(int(ZimpRequest::Read))->click();
        requests.accept();
        Settle(50);
        failures += !Save(&requests, "zimp-requests");
        requests.reject();

        LoadRequest load;
        load.memory = memops::Memory::Flash;
        load.file = "examples/firmware.s28";
        load.compress = true;
        load.checksum = memops::ChecksumTable::LastAddress;
        app::LoadParamDialog loadParams(load, "Load Flash Memory",
                                        {"examples/firmware.s28", "examples/boot.s19"}, &window);
        loadParams.show();
        failures += !Save(&loadParams, "loading-parameters");
        loadParams.hide();

        // LOADING half-way through an image, without a transfer behind it.
        app::ProgressDialog& progress = window.Progress();
        progress.Show("Load Flash Memory", "examples/firmware.s28", "firmware 2.4", 21074);
        progress.Progress(10537, 0x12920);
        Settle(50);
        failures += !Save(&progress, "loading");
        progress.Finished();
        Settle(50);

        window.Action(app::kIdSaveFlash)->trigger();
        failures += !Save(&window.SaveMemory(), "save-memory");
        window.SaveMemory().reject();

        window.Action(app::kIdBootLoad)->trigger();
        failures += !Save(&window.BootLoader(), "boot-load");
        window.BootLoader().reject();

        TqvSettings tqv;
        tqv.file = "examples/program.s19";
        tqv.patchFile = "examples/patch.s19";
        app::TqvBootLoadDialog tqvDialog(&window.Port(), tqv, &window);
        tqvDialog.show();
        failures += !Save(&tqvDialog, "tqv-bootload");
        tqvDialog.hide();

        app::ZimpConfigDialog& config = window.ZimpConfig();
        QTimer::singleShot(0, [&] {
            failures += !Save(&config, "zimp-configuration");
            config.reject();
        });
        config.Run(window.Profile());

        app::PortBaudDialog portBaud(
            CurrentPortChoice(window.Port(), window.StoredPort().name, window.StoredPort().factor),
            &window);
        portBaud.show();
        failures += !Save(&portBaud, "write-port-and-baudrate");

        app::SetPortDialog setPort(&window);
        setPort.Load(window.Port().PortName(), window.Port().Settings());
        setPort.show();
        failures += !Save(&setPort, "set-port");

        app::AboutDialog about(&window);
        about.show();
        failures += !Save(&about, "about");

        QMessageBox box(QMessageBox::Warning, QStringLiteral("ZIMPProtocol"),
                        QStringLiteral("Cannot open port /dev/ttyUSB7"), QMessageBox::Ok, &window);
        box.show();
        failures += !Save(&box, "message-box");
    }
    SetMessagePresenter(nullptr);
    simulator.Stop();
    simThread.join();
    QFile::remove(ini);
    QFile::remove(link);
    return failures ? 1 : 0;
}

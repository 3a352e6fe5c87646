// The main window against the simulated radio program: every load, save and boot command as a
// user runs it from the menus, and Cancel in LOADING while the radio is silent.
#include <signal.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTimer>
#include <QtTest>
#include <cstdio>

#include "AppTestSupport.h"
#include "app/BootLoadDialog.h"
#include "app/CommandTable.h"
#include "app/HistoryPane.h"
#include "app/LoadParamDialog.h"
#include "app/ProgressDialog.h"
#include "app/SaveMemoryDialog.h"
#include "app/TqvBootLoadDialog.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

using namespace memops;

using namespace apptest;

namespace {

// S1 records of bytes from address on, 32 to a line.
std::string SRecordText(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::string text = "S00600004844521B\n";
    for (size_t at = 0; at < bytes.size(); at += 32) {
        const size_t n = std::min<size_t>(32, bytes.size() - at);
        const uint32_t a = address + static_cast<uint32_t>(at);
        unsigned sum = unsigned(n + 3) + (a >> 8 & 0xFF) + (a & 0xFF);
        char field[16];
        std::snprintf(field, sizeof field, "S1%02X%04X", unsigned(n + 3), unsigned(a & 0xFFFF));
        text += field;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(field, sizeof field, "%02X", bytes[at + i]);
            text += field;
            sum += bytes[at + i];
        }
        std::snprintf(field, sizeof field, "%02X\n", ~sum & 0xFF);
        text += field;
    }
    return text + "S9030000FC\n";
}

// zimp-radio-sim on a pseudo-terminal, and a configuration naming it.
struct SimRadio {
    explicit SimRadio(std::vector<std::string> options, const std::string& extra) {
        std::vector<std::string> argv = {ZIMP_RADIO_SIM, "--dump", dir.File("dump.json")};
        argv.insert(argv.end(), options.begin(), options.end());
        process = std::make_unique<Subprocess>(argv);
        const std::string line = process->WaitForLine("PTY ");
        if (line.size() > 4)
            config = dir.Write("ZIMPProtocol.ini", "[configuration]\nPort=" + line.substr(4) +
                                                       "\nBaudrate=115200\nEcho=0\n" + extra);
    }
    std::unique_ptr<app::MainWindow> Window() {
        app::AppOptions options;
        options.config = config;
        auto w = std::make_unique<app::MainWindow>(options);
        w->show();
        return w;
    }
    std::string Dump() {
        process->Signal(SIGTERM);
        process->Wait();
        return dir.Read("dump.json");
    }
    TempDir dir;
    std::unique_ptr<Subprocess> process;
    std::string config;
};

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i % 7 == 0 ? i : i / 16);  // compressible, not trivial
    return v;
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
  private slots:
    void compressedFlashLoadThenSaveGivesTheSameBytes();
    void cancelInLoadingEndsASilentLoadAtOnce();
    void cancelledSaveKeepsThePreviousFile();
    void bootLoadFromTheMenu_data();
    void bootLoadFromTheMenu();
    void tqvBootLoadFromTheMenu();
};

void EndToEndTest::compressedFlashLoadThenSaveGivesTheSameBytes() {
    TempDir files;
    const std::string image = files.Write("img.s19", SRecordText(0x1000, Pattern(700)));
    const auto expected = ImageBytes(image, 0xFFFFFFFFu);  // the image and its table
    QVERIFY(expected.size() > 700);
    char range[64];
    std::snprintf(range, sizeof range, "Range1=0x%X,0x%X\n", expected.begin()->first,
                  expected.rbegin()->first);
    SimRadio sim({"--decompress"},
                 std::string("[LoadMemory]\nBlockSize=128\n[SaveFlash]\nType=S1\n") + range);
    QVERIFY(!sim.config.empty());
    auto w = sim.Window();
    BoxRecorder boxes;
    bool progressShown = false;
    connect(&w->Progress(), &app::ProgressDialog::opened, this, [&] { progressShown = true; });
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QStringLiteral("Loading Parameters:Load Flash Memory"));
        d->file->setText(QString::fromStdString(image));
        d->compress->setChecked(true);
        QTest::mouseClick(d->modes[int(ChecksumTable::LastAddress)], Qt::LeftButton);
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdLoadFlash)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(progressShown);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    QVERIFY(!w->Progress().isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    QCOMPARE(w->Progress().bar->value(), 1000);
    QCOMPARE(w->Progress().windowTitle(), QStringLiteral("Load Flash Memory"));

    w->Action(app::kIdSaveFlash)->trigger();
    app::SaveMemoryDialog& save = w->SaveMemory();
    QVERIFY(save.isVisible());
    QCOMPARE(save.windowTitle(), QStringLiteral("Save Flash Memory"));
    const std::string saved = files.File("back.s19");
    save.file->setText(QString::fromStdString(saved));
    ClickButton(&save, QStringLiteral("OK"));
    QCOMPARE(save.LastOutcome(), SaveOutcome::Saved);
    QVERIFY(!save.isVisible());
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    QVERIFY(ImageBytes(saved) == expected);
    QVERIFY(sim.Dump().find("\"markers\": [{\"request\"") != std::string::npos);
}

void EndToEndTest::cancelInLoadingEndsASilentLoadAtOnce() {
    TempDir files;
    const std::string image = files.Write("img.s19", SRecordText(0x1000, Pattern(1024)));
    SimRadio sim({"--silent-after", "1"}, "[LoadMemory]\nBlockSize=64\n");
    QVERIFY(!sim.config.empty());
    auto w = sim.Window();
    BoxRecorder boxes;
    bool cancelled = false;
    // Once LOADING is up and the first block is through, the radio waits for ever: Cancel.
    std::function<void()> cancelWhenWaiting = [&] {
        if (!w->Progress().isVisible() || w->Progress().bar->value() == 0) {
            QTimer::singleShot(20, cancelWhenWaiting);
            return;
        }
        QTimer::singleShot(200, [&] {
            QTest::mouseClick(w->Progress().cancel, Qt::LeftButton);
            cancelled = w->Progress().IsCancelled();
        });
    };
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        d->file->setText(QString::fromStdString(image));
        ClickButton(d, QStringLiteral("OK"));
        QTimer::singleShot(0, cancelWhenWaiting);
    });
    w->Action(app::kIdLoadRam)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(cancelled);
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("File was not loaded.")});
    QVERIFY(w->Loader().Cancelled());  // the load's own cancel ran, not only the window's flag
    QVERIFY(!w->Progress().isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    QVERIFY(sim.Dump().find("\"markers\": []") != std::string::npos);
}

void EndToEndTest::cancelledSaveKeepsThePreviousFile() {
    // A radio on a 300-baud line: each reply takes seconds, so Cancel lands in a reply wait
    // (the acknowledgement's wait is short and not interruptible).
    SimRadio sim({"--baud", "300"}, "[SaveRAM]\nType=S1\nRange1=0x1000,0x17FF\n");
    QVERIFY(!sim.config.empty());
    const std::string previous = "S00600004844521B\nS9030000FC\n";
    const std::string keep = sim.dir.Write("keep.s19", previous);
    auto w = sim.Window();
    BoxRecorder boxes;
    w->Action(app::kIdSaveRam)->trigger();
    app::SaveMemoryDialog& save = w->SaveMemory();
    save.file->setText(QString::fromStdString(keep));
    bool busyWhileSaving = false;
    std::function<void()> cancelWhenWaiting = [&] {
        if (!save.IsSaving() || save.address->text() != QStringLiteral("1000")) {
            QTimer::singleShot(20, cancelWhenWaiting);
            return;
        }
        busyWhileSaving = !save.ok->isEnabled() && !save.file->isEnabled() &&
                          !save.browse->isEnabled() && save.address->isEnabled();
        QTimer::singleShot(100, [&] { ClickButton(&save, QStringLiteral("Cancel")); });
    };
    QTimer::singleShot(0, cancelWhenWaiting);
    ClickButton(&save, QStringLiteral("OK"));
    QCOMPARE(save.LastOutcome(), SaveOutcome::Cancelled);
    QVERIFY(busyWhileSaving);
    QVERIFY(!save.isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    QCOMPARE(sim.dir.Read("keep.s19"), previous);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));  // aborts are silent
}

void EndToEndTest::bootLoadFromTheMenu_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("status");  // the message pane at the end, and the history's
    QTest::addColumn<QString>("outcome");
    QTest::newRow("echo agrees") << QStringList{} << QStringList{}
                                 << QStringLiteral("Boot loaded 40 bytes in \\d+\\.\\d s")
                                 << QStringLiteral("OK");
    QTest::newRow("echo differs")
        << QStringList{"--corrupt-at", "1"}
        << QStringList{"Error at position 1.\rIf position more than 100 don't take care."}
        << QStringLiteral("Ready") << QStringLiteral("Failed");
}

void EndToEndTest::bootLoadFromTheMenu() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, boxes);
    QFETCH(QString, status);
    QFETCH(QString, outcome);
    TempDir files;
    const std::string program = files.Write("prog.s19", SRecordText(0x0, Pattern(40)));
    std::vector<std::string> argv = {"--mode", "boot"};
    for (const QString& o : options)
        argv.push_back(o.toStdString());
    SimRadio sim(argv, "[BootLoad]\nBaudrate=9600\nFile=" + program + "\n");
    QVERIFY(!sim.config.empty());
    auto w = sim.Window();
    BoxRecorder recorder;
    w->Action(app::kIdBootLoad)->trigger();
    app::BootLoadDialog& d = w->BootLoader();
    QVERIFY(d.isVisible());
    QCOMPARE(d.file->text(), QString::fromStdString(program));
    // What the main window's message pane shows each time the load reports (a timer could
    // miss a load that never had to wait). The window's own connection runs first.
    QStringList shown;
    QObject::connect(
        &d, &app::BootLoadDialog::statusText, w.get(),
        [&](const QString&) { shown << w->StatusText(); }, Qt::DirectConnection);
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(shown, (QStringList{QStringLiteral("Loading"), QStringLiteral("Ready")}));
    QVERIFY(!d.isVisible());
    QCOMPARE(recorder.Texts(), boxes);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(status))
                 .match(w->StatusText())
                 .hasMatch(),
             qPrintable(w->StatusText()));
    const auto& rows = w->History()->History().Rows();
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(QString::fromLatin1(memops::ResultText(rows[0].result)), outcome);
    QCOMPARE(rows[0].file, program);
    QVERIFY(w->menuBar()->isEnabled());
    QCOMPARE(w->Port().EffectiveRate(), 115200u);  // the rate before the load
}

void EndToEndTest::tqvBootLoadFromTheMenu() {
    TempDir files;
    const std::string program = files.Write("prog.s19", SRecordText(0x1000, {1, 2, 3}));
    SimRadio sim({"--mode", "tqv"}, "[TqvBootLoad]\nDisablePatch=1\nTQVFactor=2\n");
    QVERIFY(!sim.config.empty());
    auto w = sim.Window();
    BoxRecorder boxes;
    bool disabledDuringLoad = false;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::TqvBootLoadDialog*>(m);
        QVERIFY(d);
        d->file->setText(QString::fromStdString(program));
        // The window keeps handling events while the load runs, its controls disabled.
        QTimer::singleShot(0, [&, d] { disabledDuringLoad = d->Running() && !d->ok->isEnabled(); });
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdTqvBootLoad)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(disabledDuringLoad);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    const std::string dump = sim.Dump();
    QVERIFY2(dump.find("\"address\": 4096, \"length\": 3, \"factor\": 2, \"checksum_ok\": true") !=
                 std::string::npos,
             dump.c_str());
    QVERIFY(sim.dir.Read("ZIMPProtocol.ini").find("File=" + program) != std::string::npos);
}

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"

// The load, save and boot windows against the in-process simulated radio: the enabling rules,
// the checks with the focus on the refused field, the progress window and what reaches the
// radio or the configuration.
#include <QCheckBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/BootLoadDialog.h"
#include "app/CommandTable.h"
#include "app/LoadParamDialog.h"
#include "app/ProgressDialog.h"
#include "app/SaveMemoryDialog.h"
#include "app/TqvBootLoadDialog.h"
#include "memops/MemoryKinds.h"

using namespace memops;

using namespace apptest;

namespace {
const char kImage[] =
    "S00600004844521B\n"
    "S1231000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FDC\n"
    "S10B10202021222324252627A8\n"
    "S9030000FC\n";
const char kLoadIni[] = "Echo=0\n[LoadMemory]\nBlockSize=64\n";
}  // namespace

class LoadSaveWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    void checksumButtonsEnableTheirEdits();
    void loadParameterChecksNameTheirField_data();
    void loadParameterChecksNameTheirField();
    void addressModePlacesTheTableThere();
    void eachLoadCommandLoadsItsOwnMemory_data();
    void eachLoadCommandLoadsItsOwnMemory();
    void configurationWithoutBlockSizeLoads();
    void barFollowsTheBytesDone();
    void progressWindowReusedStartsUncancelled();
    void saveThatCannotOpenItsFileStaysOpen();
    void eachSaveCommandReadsItsOwnMemory_data();
    void eachSaveCommandReadsItsOwnMemory();
    void saveWithNothingToReadStaysOpenAndTouchesNoFile();
    void saveCancelEndsTheAcknowledgementWaitAtOnce();
    void bootLoadRefusesARateBelow50();
    void tqvDisablePatchAndSettingsWrittenInOrder();
};

void LoadSaveWindowsTest::checksumButtonsEnableTheirEdits() {
    LoadRequest p;
    p.checksum = ChecksumTable::Address;
    app::LoadParamDialog d(p, "Load RAM Memory");
    QCOMPARE(d.windowTitle(), QStringLiteral("Loading Parameters:Load RAM Memory"));
    QVERIFY(d.modes[2]->isChecked());
    QVERIFY(!d.address->isEnabled());  // until a button is clicked, whatever the mode
    QVERIFY(!d.block->isEnabled());
    struct Case {
        int mode;
        bool address, block;
    };
    const Case cases[] = {{2, true, false},  {0, false, false}, {3, false, true},
                          {1, false, false}, {3, false, true},  {2, true, false}};
    for (const Case& c : cases) {
        QTest::mouseClick(d.modes[c.mode], Qt::LeftButton);
        QCOMPARE(d.address->isEnabled(), c.address);
        QCOMPARE(d.block->isEnabled(), c.block);
    }
}

void LoadSaveWindowsTest::loadParameterChecksNameTheirField_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("box");
    QTest::newRow("block not a number") << "block"
                                        << "x"
                                        << "Please enter an integer.";
    QTest::newRow("block too big") << "block"
                                   << "100001"
                                   << "Please enter an integer between 0 and 100000.";
    QTest::newRow("address") << "address"
                             << "12G"
                             << "The value must be in HEX format";
    QTest::newRow("alignment") << "alignment"
                               << "one"
                               << "Please enter an integer.";
    QTest::newRow("bias") << "bias"
                          << "0x-1"
                          << "The value must be in HEX format";
    QTest::newRow("fill") << "fill"
                          << "1G"
                          << "The value must be in HEX format";
}

void LoadSaveWindowsTest::loadParameterChecksNameTheirField() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, box);
    LoadRequest p;
    p.file = "x.s19";
    app::LoadParamDialog d(p, "Load RAM Memory");
    d.show();
    auto* edit = d.findChild<QLineEdit*>();
    const std::pair<const char*, QLineEdit*> edits[] = {{"block", d.block},
                                                        {"address", d.address},
                                                        {"alignment", d.alignment},
                                                        {"bias", d.bias},
                                                        {"fill", d.fill}};
    for (auto [name, e] : edits)
        if (field == QLatin1String(name))
            edit = e;
    edit->setEnabled(true);
    edit->setText(text);
    BoxRecorder boxes;
    d.accept();
    QVERIFY(d.isVisible());
    QCOMPARE(d.result(), 0);
    QCOMPARE(boxes.Texts(), QStringList{box});
    QCOMPARE(d.focusWidget(), edit);
    // Corrected, the same dialog takes every value.
    edit->setText(field == QLatin1String("fill") ? QStringLiteral("a5") : QStringLiteral("7"));
    d.accept();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(boxes.Texts().size(), 1);
}

void LoadSaveWindowsTest::addressModePlacesTheTableThere() {
    RadioRig rig({}, kLoadIni);
    auto w = rig.MakeWindow();
    const std::string file = rig.dir.Write("img.s19", kImage);
    BoxRecorder boxes;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        QCOMPARE(d->windowTitle(),
                 QStringLiteral("Loading Parameters:Load Internal EEPROM Memory"));
        d->file->setText(QString::fromStdString(file));
        QTest::mouseClick(d->modes[int(ChecksumTable::Address)], Qt::LeftButton);
        d->address->setText(QStringLiteral("1F00"));
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdLoadInternalEeprom)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    QVERIFY(!w->Progress().isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    const auto expected = ImageBytes(file, 0x1F00);
    QVERIFY(expected.count(0x1F00));
    QVERIFY(expected.rbegin()->first > 0x1F00);
    for (const auto& [address, byte] : expected)
        QCOMPARE(rig.radio.ReadMemory(address, 1).at(0), byte);
    QCOMPARE(w->MemoryKind(), 2);
}

void LoadSaveWindowsTest::eachLoadCommandLoadsItsOwnMemory_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("key");
    QTest::addColumn<uint>("code");      // bits 20 to 23 of the wire address
    QTest::addColumn<QString>("named");  // in the status bar afterwards
    QTest::newRow("RAM") << int(app::kIdLoadRam) << 0 << "Load RAM Memory"
                         << "RAM" << 0x80u << "RAM";
    QTest::newRow("Flash") << int(app::kIdLoadFlash) << 1 << "Load Flash Memory"
                           << "Flash" << 0x40u << "Flash";
    QTest::newRow("internal EEPROM")
        << int(app::kIdLoadInternalEeprom) << 2 << "Load Internal EEPROM Memory"
        << "InternalEEPROM" << 0u << "Internal EEPROM";
    QTest::newRow("external EEPROM")
        << int(app::kIdLoadExternalEeprom) << 3 << "Load External EEPROM Memory"
        << "ExternalEEPROM" << 0u << "External EEPROM";
    QTest::newRow("PELK") << int(app::kIdLoadPelk) << 4 << "Load PELK Flash Memory"
                          << "PELKFLASH" << 0u << "PELK Flash";
}

// Each command proposes the file last loaded into its own memory, loads into that memory and
// remembers the file under its own key, leaving the other memories' keys alone.
void LoadSaveWindowsTest::eachLoadCommandLoadsItsOwnMemory() {
    QFETCH(int, id);
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(QString, key);
    QFETCH(uint, code);
    QFETCH(QString, named);
    const QStringList keys = {"RAM", "Flash", "InternalEEPROM", "ExternalEEPROM", "PELKFLASH"};
    std::string ini = kLoadIni;
    for (const QString& k : keys)
        ini += k.toStdString() + "=last-" + k.toStdString() + ".s19\n";
    RadioRig rig({}, ini);
    auto w = rig.MakeWindow();
    const std::string file = rig.dir.Write("img.s19", kImage);
    BoxRecorder boxes;
    QString shownTitle, proposed;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        shownTitle = d->windowTitle();
        proposed = d->file->text();
        d->file->setText(QString::fromStdString(file));
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(id)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    QCOMPARE(shownTitle, QStringLiteral("Loading Parameters:") + title);
    QCOMPARE(proposed, "last-" + key + ".s19");
    QCOMPARE(w->MemoryKind(), kind);
    QCOMPARE(rig.radio.ReadMemory((code << 16) | 0x1000, 4), (std::vector<uint8_t>{0, 1, 2, 3}));
    const QRegularExpression done("^Loaded [0-9,]+ bytes into " + named + " in [0-9]+\\.[0-9] s$");
    QVERIFY2(done.match(w->StatusText()).hasMatch(), qPrintable(w->StatusText()));
    const QString after = QString::fromStdString(rig.Ini());
    for (const QString& k : keys) {
        const QString line =
            k + "=" + (k == key ? QString::fromStdString(file) : "last-" + k + ".s19") + "\n";
        QVERIFY2(after.contains(line), qPrintable(line + " in\n" + after));
    }
}

// The README's try-it configuration (Port, Baudrate, DebugLevel) loads; a BlockSize that is no
// number is shown in a box before any dialog, as the command line reports it.
void LoadSaveWindowsTest::configurationWithoutBlockSizeLoads() {
    RadioRig rig({}, "DebugLevel=1\n");
    auto w = rig.MakeWindow();
    const std::string file = rig.dir.Write("img.s19", kImage);
    BoxRecorder boxes;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        d->file->setText(QString::fromStdString(file));
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdLoadFlash)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    const auto expected = ImageBytes(file);
    QCOMPARE(expected.size(), size_t(40));
    for (const auto& [address, byte] : expected)
        QCOMPARE(rig.radio.ReadMemory(0x400000 | address, 1).at(0), byte);

    std::string ini = rig.Ini();
    ini.insert(ini.find("[LoadMemory]\n") + 13, "BlockSize=abc\n");
    rig.dir.Write("ZIMPProtocol.ini", ini);
    const size_t sent = rig.radio.Requests().size();
    w->Action(app::kIdLoadFlash)->trigger();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("The value \"abc\" of BlockSize in section "
                                                       "[LoadMemory] is not a number from 0 to "
                                                       "8192.")});
    QCOMPARE(rig.radio.Requests().size(), sent);
    QVERIFY(w->menuBar()->isEnabled());
}

void LoadSaveWindowsTest::barFollowsTheBytesDone() {
    app::ProgressDialog d;
    d.Show("Load Flash Memory", "a.s19", "HDR", 2000);
    QCOMPARE(d.windowTitle(), QStringLiteral("Load Flash Memory"));
    QCOMPARE(d.header->text(), QStringLiteral("HDR"));
    QCOMPARE(d.bar->maximum(), 1000);
    d.Progress(1000, 0x40abc0);
    QTRY_COMPARE(d.bar->value(), 500);
    QCOMPARE(d.address->text(), QStringLiteral("40ABC0"));
}

void LoadSaveWindowsTest::progressWindowReusedStartsUncancelled() {
    app::ProgressDialog d;
    int cancels = 0;
    connect(&d, &app::ProgressDialog::cancelRequested, this, [&] { ++cancels; });
    d.Show("Load RAM Memory", "a.s19", "", 10);
    QTest::mouseClick(d.cancel, Qt::LeftButton);
    QVERIFY(d.IsCancelled());
    QCOMPARE(cancels, 1);    // the load's cancel is asked for at once
    QVERIFY(d.isVisible());  // until the transfer ends
    d.Finished();
    QTRY_VERIFY(!d.isVisible());
    d.Show("Load RAM Memory", "b.s19", "", 10);
    QVERIFY(!d.IsCancelled());
    QVERIFY(d.cancel->isEnabled());
    QCOMPARE(d.bar->value(), 0);
}

void LoadSaveWindowsTest::saveThatCannotOpenItsFileStaysOpen() {
    RadioRig rig({}, "Echo=0\n[SaveRAM]\nType=S1\nRange1=0x1000,0x100F\n");
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdSaveRam)->trigger();
    app::SaveMemoryDialog& d = w->SaveMemory();
    QVERIFY(d.isVisible());
    QCOMPARE(d.windowTitle(), QStringLiteral("Save RAM"));
    QVERIFY(!w->menuBar()->isEnabled());
    const QString bad = QString::fromStdString(rig.dir.File("no-such-dir/out.s19"));
    d.file->setText(bad);
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Cannot open file ") + bad + "."});
    QVERIFY(d.isVisible());
    QVERIFY(d.ok->isEnabled() && d.file->isEnabled() && d.browse->isEnabled());
    // Another name, and the save completes and closes the dialog.
    d.file->setText(QString::fromStdString(rig.dir.File("out.s19")));
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(d.LastOutcome(), SaveOutcome::Saved);
    QVERIFY(!d.isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    QCOMPARE(ImageBytes(rig.dir.File("out.s19")).size(), size_t(16));
}

void LoadSaveWindowsTest::eachSaveCommandReadsItsOwnMemory_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("section");
    QTest::addColumn<uint>("code");
    QTest::newRow("RAM") << int(app::kIdSaveRam) << "Save RAM"
                         << "SaveRAM" << 0x80u;
    QTest::newRow("Flash") << int(app::kIdSaveFlash) << "Save Flash Memory"
                           << "SaveFlash" << 0x40u;
    QTest::newRow("internal EEPROM")
        << int(app::kIdSaveInternalEeprom) << "Save Internal EEPROM Memory"
        << "SaveIE2PROM" << 0u;
    QTest::newRow("external EEPROM")
        << int(app::kIdSaveExternalEeprom) << "Save External EEPROM Memory"
        << "SaveEE2PROM" << 0u;
    QTest::newRow("PELK") << int(app::kIdSaveFlashPelk) << "Save Flash PELK Memory"
                          << "SaveFlash" << 0u;
}

// Each command reads its own section's ranges from its own memory and proposes its own file.
void LoadSaveWindowsTest::eachSaveCommandReadsItsOwnMemory() {
    QFETCH(int, id);
    QFETCH(QString, title);
    QFETCH(QString, section);
    QFETCH(uint, code);
    std::string ini = "Echo=0\n";
    int n = 1;
    for (const char* s : {"SaveRAM", "SaveFlash", "SaveIE2PROM", "SaveEE2PROM"}) {
        ini += std::string("[") + s + "]\nType=S1\nFile=last-" + s + ".s19\nRange1=0x" +
               std::to_string(n) + "00,0x" + std::to_string(n) + "0F\n";
        ++n;
    }
    RadioRig rig({}, ini);
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(id)->trigger();
    app::SaveMemoryDialog& d = w->SaveMemory();
    QCOMPARE(d.windowTitle(), title);
    QCOMPARE(d.file->text(), "last-" + section + ".s19");
    d.file->setText(QString::fromStdString(rig.dir.File("out.s19")));
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(d.LastOutcome(), SaveOutcome::Saved);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join('|')));
    const auto requests = rig.radio.Requests();
    QCOMPARE(requests.size(), size_t(1));
    const uint32_t index = section == "SaveRAM"       ? 1
                           : section == "SaveFlash"   ? 2
                           : section == "SaveIE2PROM" ? 3
                                                      : 4;
    QCOMPARE(requests[0].address, (code << 16) | (index << 8));
}

void LoadSaveWindowsTest::saveWithNothingToReadStaysOpenAndTouchesNoFile() {
    const std::pair<const char*, const char*> cases[] = {
        {"Echo=0\n[SaveRAM]\nRange1=0x1000,0x100F\n",
         "No S-Record type: set Type in [SaveRAM] to S1, S2 or S3."},
        {"Echo=0\n[SaveRAM]\nType=S1\nRange1=0x1000,0x1000\n",
         "Nothing to save: section [SaveRAM] has no Range1 whose start is below its end."},
    };
    for (const auto& [ini, message] : cases) {
        RadioRig rig({}, ini);
        auto w = rig.MakeWindow();
        BoxRecorder boxes;
        w->Action(app::kIdSaveRam)->trigger();
        app::SaveMemoryDialog& d = w->SaveMemory();
        const std::string out = rig.dir.Write("keep.s19", "previous\n");
        d.file->setText(QString::fromStdString(out));
        ClickButton(&d, QStringLiteral("OK"));
        QCOMPARE(boxes.Texts(), QStringList{QString::fromLatin1(message)});
        QCOMPARE(d.LastOutcome(), SaveOutcome::Refused);
        QVERIFY(d.isVisible());
        QVERIFY(d.ok->isEnabled() && d.file->isEnabled());
        QCOMPARE(rig.dir.Read("keep.s19"), std::string("previous\n"));
        ClickButton(&d, QStringLiteral("Cancel"));
        QVERIFY(w->menuBar()->isEnabled());
    }
}

// Against a silent radio the save waits for an acknowledgement; Cancel ends that wait while the
// window stays live, silently (after the 3 s time-out it would be "ACK Timeout Error.").
void LoadSaveWindowsTest::saveCancelEndsTheAcknowledgementWaitAtOnce() {
    radio::ZimpRadioOptions silent;
    silent.silentAfter = 0;
    RadioRig rig(silent, "Echo=0\n[SaveRAM]\nType=S1\nRange1=0x1000,0x10FF\n");
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdSaveRam)->trigger();
    app::SaveMemoryDialog& d = w->SaveMemory();
    const std::string out = rig.dir.Write("keep.s19", "previous\n");
    d.file->setText(QString::fromStdString(out));
    bool savingWhenCancelled = false;
    QTimer::singleShot(300, &d, [&] {
        savingWhenCancelled = d.IsSaving();
        ClickButton(&d, QStringLiteral("Cancel"));
    });
    ClickButton(&d, QStringLiteral("OK"));
    QVERIFY(savingWhenCancelled);
    QCOMPARE(d.LastOutcome(), SaveOutcome::Cancelled);
    QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join("|")));
    QCOMPARE(rig.dir.Read("keep.s19"), std::string("previous\n"));
    QVERIFY(!d.isVisible());
}

void LoadSaveWindowsTest::bootLoadRefusesARateBelow50() {
    RadioRig rig({}, "[BootLoad]\nFile=prog.s19\n", false);
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    w->Action(app::kIdBootLoad)->trigger();
    app::BootLoadDialog& d = w->BootLoader();
    QVERIFY(d.isVisible());
    QCOMPARE(d.rate->text(), QStringLiteral("0"));
    QCOMPARE(d.file->text(), QStringLiteral("prog.s19"));
    d.rate->setText(QStringLiteral("49"));
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(boxes.Texts(),
             QStringList{QStringLiteral("Please enter an integer between 50 and 115200.")});
    QVERIFY(d.isVisible());
    QCOMPARE(d.focusWidget(), d.rate);
    d.rate->setText(QStringLiteral("9600"));
    d.file->clear();
    ClickButton(&d, QStringLiteral("OK"));
    QCOMPARE(boxes.Texts().last(),
             QStringLiteral("The value must have at least 1 character, but no more than %1")
                 .arg(PATH_MAX - 1));
    QCOMPARE(d.focusWidget(), d.file);
    ClickButton(&d, QStringLiteral("Cancel"));
    QVERIFY(!d.isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    // The rate typed persists; the file comes from the configuration again.
    w->Action(app::kIdBootLoad)->trigger();
    QCOMPARE(w->BootLoader().rate->text(), QStringLiteral("9600"));
    QCOMPARE(w->BootLoader().file->text(), QStringLiteral("prog.s19"));
    ClickButton(&w->BootLoader(), QStringLiteral("Cancel"));
}

void LoadSaveWindowsTest::tqvDisablePatchAndSettingsWrittenInOrder() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    bool patchOnAtFirst = false, patchOffAfterClick = false, refused = false;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::TqvBootLoadDialog*>(m);
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QStringLiteral("TQV_BOOTLOAD"));
        QCOMPARE(d->factor->text(), QStringLiteral("0"));
        QCOMPARE(d->headerRate->text(), QStringLiteral("19200"));
        patchOnAtFirst = d->patch->isEnabled() && d->browsePatch->isEnabled();
        d->disablePatch->click();
        patchOffAfterClick = !d->patch->isEnabled() && !d->browsePatch->isEnabled();
        d->factor->setText(QStringLiteral("4097"));
        ClickButton(d, QStringLiteral("OK"));
        refused = d->isVisible() && d->focusWidget() == d->factor;
        ClickButton(d, QStringLiteral("Cancel"));
    });
    w->Action(app::kIdTqvBootLoad)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(patchOnAtFirst);
    QVERIFY(patchOffAfterClick);
    QVERIFY(refused);
    QCOMPARE(boxes.Texts(),
             QStringList{QStringLiteral("Please enter an integer between 0 and 4096.")});
    QVERIFY(rig.Ini().find("BaudRate") == std::string::npos);  // Cancel writes nothing

    // OK: the load runs (no file: its error) and the settings go back in their order.
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::TqvBootLoadDialog*>(m);
        QVERIFY(d);
        d->dataRate->setText(QStringLiteral("38400"));
        d->factor->setText(QStringLiteral("7"));
        d->file->setText(QStringLiteral("prog.s19"));
        d->patch->setText(QStringLiteral("patch.s19"));
        d->disablePatch->click();
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdTqvBootLoad)->trigger();
    QVERIFY(ModalHandled());
    const std::string ini = rig.Ini();
    // The names typed relative to the working directory are stored whole.
    const std::string cwd = std::filesystem::current_path().string();
    const std::string keys[] = {"File=" + cwd + "/prog.s19",
                                "PatchFile=" + cwd + "/patch.s19",
                                "BaudRate=19200",
                                "DisablePatch=1",
                                "ProcessorType=0",
                                "DataBaudRate=38400",
                                "TQVFactor=7"};
    size_t at = ini.find("[TqvBootLoad]");
    QVERIFY(at != std::string::npos);
    for (const std::string& key : keys) {
        const size_t next = ini.find("\n" + key, at);
        QVERIFY2(next != std::string::npos, key.c_str());
        at = next;
    }
    QVERIFY(w->menuBar()->isEnabled());
    QCOMPARE(boxes.Texts().size(), 2);  // the refused factor, then the missing program's error
}

QTEST_MAIN(LoadSaveWindowsTest)
#include "LoadSaveWindowsTest.moc"

// What the main window keeps of this run: the history's rows, the done line, the recent
// images, drops, and a port another program holds.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QMimeData>
#include <QTableWidget>
#include <QUrl>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/CommandTable.h"
#include "app/HistoryPane.h"
#include "app/LoadParamDialog.h"
#include "app/SaveMemoryDialog.h"

using namespace apptest;

namespace {
const char kImage[] =
    "S00600004844521B\n"
    "S1231000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FDC\n"
    "S10B10202021222324252627A8\n"
    "S9030000FC\n";

// Loads file through "Loading Parameters" of the load command id (Flash unless said);
// what the dialog offered comes back.
QStringList LoadFile(app::MainWindow& w, const std::string& file, int id = app::kIdLoadFlash) {
    QStringList offered;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        for (int i = 0; i < d->recent->count(); ++i)
            offered << d->recent->itemText(i);
        d->file->setText(QString::fromStdString(file));
        ClickButton(d, QStringLiteral("OK"));
    });
    w.Action(id)->trigger();
    if (!ModalHandled())
        QTest::qFail("no Loading Parameters", __FILE__, __LINE__);
    return offered;
}

// The next file dialog is answered with file.
void ChooseWhenAsked(const QString& file) {
    WhenModal([file](QWidget* m) {
        auto* d = qobject_cast<QFileDialog*>(m);
        QVERIFY(d);
        d->selectFile(file);
        QMetaObject::invokeMethod(d, "accept");
    });
}

QString Cell(app::MainWindow& w, int row, int column) {
    QTableWidgetItem* item = w.History()->Table()->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

void Drop(app::MainWindow& w, const QString& file, bool& accepted) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    const QPoint at = w.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    accepted = enter.isAccepted();
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
}
}  // namespace

class HistoryTest : public QObject {
    Q_OBJECT
  private slots:
    void rowsAfterAGoodLoadAFailedOneAndASave();
    void recentImagesAfterTwoLoads();
    void droppedFileOpensAFlashLoad();
    void portHeldByAnotherProgramOpensOnceLetGo();
    void traceFromTheViewMenu();
};

void HistoryTest::rowsAfterAGoodLoadAFailedOneAndASave() {
    radio::ZimpRadioOptions options;
    options.badWriteAt = 0x401000;  // Flash at 0x1000 fails; RAM does not
    RadioRig rig(options,
                 "Echo=0\n[LoadMemory]\nBlockSize=64\n[SaveRAM]\nType=S1\n"
                 "Range1=0x1000,0x100F\n");
    auto w = rig.MakeWindow();
    const std::string file = rig.dir.Write("img,1.s19", kImage);
    BoxRecorder boxes;
    LoadFile(*w, file, app::kIdLoadRam);
    QVERIFY(w->StatusText().startsWith(QStringLiteral("Loaded 40 bytes into RAM in ")));
    LoadFile(*w, file);
    QVERIFY(!boxes.Texts().isEmpty());
    QCOMPARE(w->StatusText(), QStringLiteral("Ready"));  // only a success has a done line

    w->Action(app::kIdSaveRam)->trigger();
    app::SaveMemoryDialog& save = w->SaveMemory();
    save.file->setText(QString::fromStdString(rig.dir.File("out.s19")));
    ClickButton(&save, QStringLiteral("OK"));
    QVERIFY2(QRegularExpression(QStringLiteral("^Saved 16 bytes from RAM in \\d+\\.\\d s$"))
                 .match(w->StatusText())
                 .hasMatch(),
             qPrintable(w->StatusText()));

    // Time, operation, memory, file, bytes, duration, outcome, message; newest last.
    QTableWidget* table = w->History()->Table();
    QCOMPARE(table->rowCount(), 3);
    const struct {
        const char* operation;
        const char* memory;
        const char* bytes;
        const char* outcome;
    } rows[] = {{"Load", "RAM", "40", "OK"},
                {"Load", "Flash", "40", "Failed"},
                {"Save", "RAM", "16", "OK"}};
    for (int r = 0; r < 3; ++r) {
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                    .match(Cell(*w, r, 0))
                    .hasMatch());
        QCOMPARE(Cell(*w, r, 1), QString::fromLatin1(rows[r].operation));
        QCOMPARE(Cell(*w, r, 2), QString::fromLatin1(rows[r].memory));
        QCOMPARE(Cell(*w, r, 4), QString::fromLatin1(rows[r].bytes));
        QCOMPARE(Cell(*w, r, 6), QString::fromLatin1(rows[r].outcome));
    }
    QCOMPARE(Cell(*w, 1, 3), QString::fromStdString(file));
    // The failed row says what its boxes said, and only that row says anything.
    QString said = boxes.Texts().join(QStringLiteral("; "));
    said.replace(QLatin1Char('\r'), QLatin1Char(' '));
    QCOMPARE(Cell(*w, 1, 7), said);
    QCOMPARE(Cell(*w, 0, 7), QString());
    QCOMPARE(Cell(*w, 2, 7), QString());

    // Selected rows copy as tab-separated lines.
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].contains(QStringLiteral("\tSave\tRAM\t")), qPrintable(lines[1]));

    // "Save History..." writes the CSV where the user says.
    const QString csv = QString::fromStdString(rig.dir.File("history"));
    ChooseWhenAsked(csv);
    w->History()->SaveButton()->click();
    QVERIFY(ModalHandled());
    QCOMPARE(rig.dir.Read("history.csv"), w->History()->History().Csv());
    QVERIFY(rig.dir.Read("history.csv").find("\"" + file + "\"") != std::string::npos);
}

void HistoryTest::recentImagesAfterTwoLoads() {
    RadioRig rig({}, "Echo=0\n[LoadMemory]\nBlockSize=64\n");
    const std::string a = rig.dir.Write("a.s19", kImage);
    const std::string b = rig.dir.Write("b.s19", kImage);
    {
        auto w = rig.MakeWindow();
        QCOMPARE(LoadFile(*w, a), QStringList());
        QCOMPARE(LoadFile(*w, b), QStringList{QString::fromStdString(a)});
    }
    // Kept in the configuration for the next run, newest first.
    auto w = rig.MakeWindow();
    QCOMPARE(LoadFile(*w, a), (QStringList{QString::fromStdString(b), QString::fromStdString(a)}));
}

void HistoryTest::droppedFileOpensAFlashLoad() {
    RadioRig rig({}, "Echo=0\n");
    auto w = rig.MakeWindow();
    const QString file = QString::fromStdString(rig.dir.Write("dropped.s19", kImage));
    QString title, proposed;
    WhenModal([&](QWidget* m) {
        auto* d = qobject_cast<app::LoadParamDialog*>(m);
        QVERIFY(d);
        title = d->windowTitle();
        proposed = d->file->text();
        ClickButton(d, QStringLiteral("Cancel"));
    });
    bool accepted = false;
    Drop(*w, file, accepted);
    QVERIFY(accepted);
    QTRY_VERIFY(ModalHandled());  // once the drop has returned
    QCOMPARE(title, QStringLiteral("Loading Parameters:Load Flash Memory"));
    QCOMPARE(proposed, file);
    QCOMPARE(w->History()->Table()->rowCount(), 0);  // cancelled before it began

    // Refused while an operation runs, as the menus are.
    w->BeginOperation();
    Drop(*w, file, accepted);
    QVERIFY(!accepted);
    QTest::qWait(50);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    w->EndOperation();
}

void HistoryTest::portHeldByAnotherProgramOpensOnceLetGo() {
    RadioRig rig({}, "Echo=0\n");
    const QString device = QString::fromStdString(rig.pty.SlavePath());
    const int other = open(rig.pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(other >= 0);
    QCOMPARE(flock(other, LOCK_EX | LOCK_NB), 0);
    auto w = rig.MakeWindow();
    // This process holds it, so no holder is named.
    QCOMPARE(w->PortPaneText(), device + " held by another program");
    const auto cancelLoad = [&] {
        WhenModal([](QWidget* m) { ClickButton(m, QStringLiteral("Cancel")); });
        w->Action(app::kIdLoadRam)->trigger();
        QVERIFY(ModalHandled());
    };
    {
        BoxRecorder boxes;
        cancelLoad();
        QCOMPARE(boxes.Texts(),
                 QStringList{"Cannot open port " + device + ": held by another program."});
    }
    QVERIFY(!w->Port().IsOpen());
    close(other);
    BoxRecorder boxes;
    cancelLoad();
    QVERIFY(w->Port().IsOpen());
    QCOMPARE(w->PortPaneText(), device + " 115200");
    QCOMPARE(boxes.Texts(), QStringList());
}

// View > Trace writes every frame of what follows into the file chosen, complete once it is
// turned off.
void HistoryTest::traceFromTheViewMenu() {
    RadioRig rig({}, "Echo=0\n[LoadMemory]\nBlockSize=64\n");
    auto w = rig.MakeWindow();
    const QString file = QString::fromStdString(rig.dir.File("bench.trace"));
    ChooseWhenAsked(file);
    w->TraceAction()->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(w->TraceAction()->isChecked());
    LoadFile(*w, rig.dir.Write("img.s19", kImage));
    w->TraceAction()->trigger();
    QVERIFY(!w->TraceAction()->isChecked());
    const std::string text = rig.dir.Read("bench.trace");
    for (const char* want : {"> request Write Data (", "< ack (1): 50", "< reply Written ("})
        QVERIFY2(text.find(want) != std::string::npos, qPrintable(QString::fromStdString(text)));
}

QTEST_MAIN(HistoryTest)
#include "HistoryTest.moc"

// The main window as the user meets it: menus, prompts, tool bar, status bar, start-up.
#include <QFileDialog>
#include <QMenuBar>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "app/CommandTable.h"
#include "app/LogConsole.h"
#include "app/RequestsDialog.h"
#include "app/StartupChecks.h"
#include "streams/MessageStreams.h"

using namespace streams;

using namespace apptest;

namespace {
QMenu* Menu(app::MainWindow& w, const QString& title) {
    for (QAction* a : w.menuBar()->actions())
        if (a->text() == title)
            return a->menu();
    return nullptr;
}
}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    // Every test starts from a first run: no size, place or bars kept.
    void init() {
        QSettings(QStringLiteral("ZIMPProtocol"), QStringLiteral("zimpprotocol")).clear();
    }
    void firstSizeShowsEveryMenuWhole();
    void sizePlaceAndBarsAreKeptForTheNextRun();
    void missingConfigurationIsRefusedAtStart();
    void portPaneSaysWhetherThePortIsOpen();
    void everyMenuItemWithItsPrompt();
    void toolBarButtonsAndTips();
    void statusPaneFollowsTheHighlightedItem();
    void viewItemsShowAndHideTheBars();
    void acceleratorsDoNothingVisible();
    void aboutBoxNamesTheProgram();
    void portFromTheCommandLineIsNotWritten();
    void refusedPortValueIsShownAtStart();
    void logConsoleOnlyWithDebugLevel();
    void requestsWindowDisablesCommandsAndRefusesClose();
};

void MainWindowTest::firstSizeShowsEveryMenuWhole() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(w->width() >= 640 && w->height() >= 400);
    const QList<QAction*> menus = w->menuBar()->actions();
    QCOMPARE(menus.size(), 7);
    for (QAction* menu : menus) {
        const QRect at = w->menuBar()->actionGeometry(menu);
        QVERIFY2(!at.isEmpty() && at.right() < w->menuBar()->width(),
                 qPrintable(menu->text() + " is folded away"));
    }
    QVERIFY(w->ToolBar()->isVisible() && w->statusBar()->isVisible());
    QVERIFY(w->ToolBar()->sizeHint().width() <= w->width());
}

void MainWindowTest::sizePlaceAndBarsAreKeptForTheNextRun() {
    RadioRig rig({}, "", false);
    {
        auto w = rig.MakeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->resize(900, 555);
        w->Action(app::kIdViewToolbar)->trigger();
        w->Action(app::kIdViewStatusBar)->trigger();
        QVERIFY(w->close());
    }
    auto again = rig.MakeWindow();
    again->show();
    QVERIFY(QTest::qWaitForWindowExposed(again.get()));
    QCOMPARE(again->size(), QSize(900, 555));
    QVERIFY(!again->ToolBar()->isVisible());
    QVERIFY(!again->statusBar()->isVisible());
    QVERIFY(!again->Action(app::kIdViewToolbar)->isChecked());
    QVERIFY(!again->Action(app::kIdViewStatusBar)->isChecked());
    QVERIFY(rig.Ini().find("geometry") == std::string::npos);  // not in the radio's file
}

void MainWindowTest::missingConfigurationIsRefusedAtStart() {
    BoxRecorder boxes;
    TempDir dir;
    QVERIFY(!app::CheckConfigurationOption(dir.File("missing.ini")));
    QCOMPARE(boxes.Texts(),
             QStringList{QString::fromStdString("The configuration file " +
                                                dir.File("missing.ini") + " does not exist.")});
    QVERIFY(app::CheckConfigurationOption(dir.Write("there.ini", "")));
    QVERIFY(app::CheckConfigurationOption(""));  // none given: the program looks for one
    QCOMPARE(boxes.Texts().size(), 1);

    // --help and --version answer without a display.
    for (const char* option : {"--help", "--version"}) {
        QProcess p;
        p.start(QStringLiteral(ZIMPPROTOCOL), {QString::fromLatin1(option)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(
            out.startsWith(option[2] == 'h' ? "usage: zimpprotocol" : "zimpprotocol " ZIMP_VERSION),
            qPrintable(out));
    }
}

void MainWindowTest::portPaneSaysWhetherThePortIsOpen() {
    RadioRig rig;
    auto open = rig.MakeWindow();
    QCOMPARE(open->PortPaneText(), QString::fromStdString(rig.pty.SlavePath()) + " 115200");
    app::AppOptions elsewhere;
    elsewhere.port = rig.dir.File("no-such-device");
    auto closed = rig.MakeWindow(elsewhere);
    QCOMPARE(closed->PortPaneText(), QString::fromStdString(*elsewhere.port) + " closed");
}

void MainWindowTest::everyMenuItemWithItsPrompt() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Untitled - ZimpProtocol"));
    struct Row {
        const char *menu, *text, *status, *tip;  // tip nullptr: none of its own
    };
    const Row rows[] = {
        {"&File", nullptr, "", nullptr},
        {"&File", "E&xit", "Quit the application; prompts to save documents", "Exit"},
        {"&View", "&Toolbar", "Show or hide the toolbar", "Toggle ToolBar"},
        {"&View", "&Status Bar", "Show or hide the status bar", "Toggle StatusBar"},
        {"&View", "&Trace...", "Record every byte sent and received, with its time, in a file",
         nullptr},
        {"&ZIMP", "&Row", "Call ZIMP dialog", nullptr},
        {"&ZIMP", "&Commands", "Call standard ZIMP message dialog", nullptr},
        {"&Load", "&Boot Load", "QM27 Boot Load File into internal RAM", "Boot Load"},
        {"&Load", "TQV Boot Load", "Ambrel (TQV) Boot Load File into RAM", "TQV Boot"},
        {"&Load", "&Flash", "Flash programming", nullptr},
        {"&Load", "Flash P&ELK/X4410", "Flash PELK/X4410  programming protocol", " LoadTo"},
        {"&Load", "&RAM", "Write to ram", nullptr},
        {"&Load", "&I_EEPROM", "Internal EEPROM programming", nullptr},
        {"&Load", "&E_EEPROM", "External EEPROM programming", nullptr},
        {"S&ave", "&Flash", "Save to disk flash memory contents", nullptr},
        {"S&ave", "Flash PELK", "Save flash memory data more than 1 MB", "Save flash data"},
        {"S&ave", "&RAM", "Save to disk RAM contents", nullptr},
        {"S&ave", "&I_EEPROM", "Save to disk internal EEPROM memory contents", nullptr},
        {"S&ave", "&E_EEPROM", "Save to disk external memory contents", nullptr},
        {"&Configuration", "&Set Port", "Set Port Parameters", "Set Port"},
        {"&Configuration", "&Block Size and Echo ", "", nullptr},
        {"&Configuration", "&Write Port and Baudrate", "", nullptr},
        {"&Help", "&About ZimpProtocol...",
         "Display program information, version number and copyright", "About"},
    };
    QStringList menus;
    for (QAction* a : w->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus,
             (QStringList{"&File", "&View", "&ZIMP", "&Load", "S&ave", "&Configuration", "&Help"}));
    std::map<QString, int> next;
    for (const Row& r : rows) {
        const QString menu = QString::fromLatin1(r.menu);
        QMenu* m = Menu(*w, menu);
        QVERIFY(m);
        const QList<QAction*> items = m->actions();
        const int i = next[menu]++;
        QVERIFY2(i < items.size(), r.menu);
        QAction* a = items[i];
        if (r.text == nullptr) {
            QVERIFY(a->isSeparator());
            continue;
        }
        QCOMPARE(a->text(), QString::fromLatin1(r.text));
        QCOMPARE(a->statusTip(), QString::fromLatin1(r.status));
        if (r.tip)
            QCOMPARE(a->toolTip(), QString::fromLatin1(r.tip));
    }
    for (const auto& [menu, count] : next)
        QCOMPARE(Menu(*w, menu)->actions().size(), count);
}

void MainWindowTest::toolBarButtonsAndTips() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QToolBar* bar = w->ToolBar();
    QCOMPARE(bar->allowedAreas(), Qt::AllToolBarAreas);
    QVERIFY(bar->isMovable());
    QCOMPARE(w->toolBarArea(bar), Qt::TopToolBarArea);
    const QList<QAction*> buttons = bar->actions();
    QCOMPARE(buttons.size(), 4);
    QCOMPARE(buttons[0]->data().toInt(), int(app::kIdTqvBootLoad));
    QCOMPARE(buttons[1]->data().toInt(), int(app::kIdLoadPelk));
    QVERIFY(buttons[2]->isSeparator());
    QCOMPARE(buttons[3]->data().toInt(), int(app::kIdAbout));
    QCOMPARE(buttons[0]->toolTip(), QStringLiteral("TQV Boot"));
    QCOMPARE(buttons[1]->toolTip(), QStringLiteral(" LoadTo"));
    QCOMPARE(buttons[3]->toolTip(), QStringLiteral("About"));
}

void MainWindowTest::statusPaneFollowsTheHighlightedItem() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QCOMPARE(w->StatusText(), QStringLiteral("Ready"));
    const QStringList panes = {w->Indicator(0)->text(), w->Indicator(1)->text(),
                               w->Indicator(2)->text()};
    QCOMPARE(panes, (QStringList{"CAP", "NUM", "SCRL"}));
    QMenu* m = Menu(*w, QStringLiteral("&Configuration"));
    w->menuBar()->setActiveAction(m->menuAction());  // opened from the menu bar, as by a click
    QTRY_VERIFY(m->isVisible());
    const std::pair<int, const char*> cases[] = {
        {app::kIdSetPort, "Set Port Parameters"},
        {app::kIdBlockSizeEcho, ""},
        {app::kIdWritePort, ""},
    };
    for (const auto& [id, text] : cases) {
        m->setActiveAction(w->Action(id));
        QCOMPARE(w->StatusText(), QString::fromLatin1(text));
    }
    m->hide();
    QTRY_COMPARE(w->StatusText(), QStringLiteral("Ready"));
}

void MainWindowTest::viewItemsShowAndHideTheBars() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QAction* toolbar = w->Action(app::kIdViewToolbar);
    QAction* status = w->Action(app::kIdViewStatusBar);
    QVERIFY(toolbar->isChecked() && status->isChecked());
    toolbar->trigger();
    status->trigger();
    QVERIFY(!w->ToolBar()->isVisible());
    QVERIFY(!w->statusBar()->isVisible());
    QVERIFY(!toolbar->isChecked() && !status->isChecked());
    toolbar->trigger();
    status->trigger();
    QVERIFY(w->ToolBar()->isVisible());
    QVERIFY(w->statusBar()->isVisible());
}

void MainWindowTest::acceleratorsDoNothingVisible() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->activateWindow();
    const auto before = QApplication::topLevelWidgets().size();
    for (QKeyCombination key : {Qt::CTRL | Qt::Key_O, Qt::CTRL | Qt::Key_N, Qt::CTRL | Qt::Key_S})
        QTest::keyClick(w.get(), key.key(), key.keyboardModifiers());
    QTest::qWait(50);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(QApplication::topLevelWidgets().size(), before);
    QVERIFY(w->findChildren<QFileDialog*>().isEmpty());
    QVERIFY(w->Action(app::kIdOpen)->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_O));
}

void MainWindowTest::aboutBoxNamesTheProgram() {
    RadioRig rig({}, "", false);
    auto w = rig.MakeWindow();
    QString title, text;
    WhenModal([&](QWidget* d) {
        title = d->windowTitle();
        for (QLabel* l : d->findChildren<QLabel*>())
            text += l->text() + "|";
        ClickButton(d, QStringLiteral("OK"));
    });
    w->Action(app::kIdAbout)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(title, QStringLiteral("About ZimpProtocol"));
    QVERIFY2(text.contains(QStringLiteral("ZimpProtocol Version " ZIMP_VERSION)), qPrintable(text));
    QVERIFY(w->menuBar()->isEnabled());
}

void MainWindowTest::portFromTheCommandLineIsNotWritten() {
    RadioRig rig({}, "", false);
    rig.dir.Write("ZIMPProtocol.ini",
                  "[configuration]\nPort=/dev/zimp-none\nBaudrate=38400\n"
                  "BaudrateFactor=0x2\n");
    app::AppOptions options;
    options.port = rig.pty.SlavePath();
    auto w = rig.MakeWindow(options);
    QVERIFY(w->Port().IsOpen());
    QCOMPARE(w->Port().PortName(), rig.pty.SlavePath());
    QCOMPARE(w->Port().StoredRate(), 19200u);
    QCOMPARE(w->StoredPort().factor, 2u);
    w.reset();
    QCOMPARE(rig.Ini(), std::string("[configuration]\nPort=/dev/zimp-none\nBaudrate=38400\n"
                                    "BaudrateFactor=0x2\n"));
}

// A port key that is no number is shown in a box when the window is made, as the command line
// reports it, and the port stays closed.
void MainWindowTest::refusedPortValueIsShownAtStart() {
    RadioRig rig({}, "", false);
    std::string ini = rig.Ini();
    ini.replace(ini.find("Baudrate=115200"), 15, "Baudrate=abc");
    rig.dir.Write("ZIMPProtocol.ini", ini);
    BoxRecorder boxes;
    auto w = rig.MakeWindow();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("The value \"abc\" of Baudrate in section "
                                                       "[configuration] is not a number from 60 "
                                                       "to 10000000.")});
    QVERIFY(!w->Port().IsOpen());
    QVERIFY(w->isVisible());
}

void MainWindowTest::logConsoleOnlyWithDebugLevel() {
    {
        RadioRig rig({}, "DebugLevel=0\n", false);
        auto w = rig.MakeWindow();
        QVERIFY(w->Console() == nullptr);
        QVERIFY(!LogAttached());
        for (QAction* a : Menu(*w, QStringLiteral("&View"))->actions())
            QVERIFY(a->text() != QStringLiteral("&Log"));
    }
    RadioRig rig({}, "DebugLevel=-1\n", false);
    auto w = rig.MakeWindow();
    app::LogConsole* console = w->Console();
    QVERIFY(console);
    QCOMPARE(console->windowTitle(), QStringLiteral("ZIMPProtocol Log"));
    QTRY_COMPARE(console->Text(), QStringLiteral("Start application logout."));
    QAction* log = Menu(*w, QStringLiteral("&View"))->actions().last();
    QCOMPARE(log->text(), QStringLiteral("&Log"));
    QVERIFY(log->isChecked());
    console->close();
    QVERIFY(!console->isVisible());
    QVERIFY(!log->isChecked());
    QVERIFY(w->isVisible());
    logout() << "while hidden\n" << std::flush;
    log->trigger();
    QVERIFY(console->isVisible());
    QTRY_VERIFY(console->Text().endsWith(QStringLiteral("while hidden")));
}

void MainWindowTest::requestsWindowDisablesCommandsAndRefusesClose() {
    RadioRig rig;
    auto w = rig.MakeWindow();
    w->Action(app::kIdCommands)->trigger();
    QVERIFY(w->Requests().isVisible());
    QVERIFY(!w->menuBar()->isEnabled());
    QVERIFY(!w->ToolBar()->isEnabled());
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    app::RequestsDialog& d = w->Requests();
    QTest::mouseClick(d.cancel, Qt::LeftButton);
    QVERIFY(!d.isVisible());
    QVERIFY(w->menuBar()->isEnabled());
    QVERIFY(w->ToolBar()->isEnabled());
    QVERIFY(w->close());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"

// The three settings dialogs: values shown, checks with the focus on the refused field, what
// reaches the port and what reaches the configuration file.
#include <QLineEdit>
#include <QtTest>

#include "AppTestSupport.h"
#include "app/CommandTable.h"
#include "app/PortBaudDialog.h"
#include "app/SetPortDialog.h"
#include "app/ZimpConfigDialog.h"

using namespace apptest;

class SettingsDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void blockSizeOutOfRangeIsRefusedAndNothingWritten();
    void prefixedBlockSizeIsShownAndWrittenDecimal();
    void writePortWithAMissingDeviceReopensTheOldPort();
    void writePortDividesTheRateByTheFactor();
    void setPortAppliesTheEditedLine();
};

void SettingsDialogsTest::blockSizeOutOfRangeIsRefusedAndNothingWritten() {
    RadioRig rig({}, "Echo=0\n[LoadMemory]\nBlockSize=64\n", false);
    const std::string before = rig.Ini();
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    bool stillOpen = false, focused = false;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::ZimpConfigDialog*>(d);
        QVERIFY(dialog);
        QCOMPARE(dialog->blockSize->text(), QStringLiteral("64"));
        dialog->blockSize->clear();
        QTest::keyClicks(dialog->blockSize, QStringLiteral("16"));
        dialog->echo->setChecked(true);
        ClickButton(dialog, QStringLiteral("OK"));
        stillOpen = dialog->isVisible();
        focused = dialog->blockSize->hasFocus() || dialog->focusWidget() == dialog->blockSize;
        ClickButton(dialog, QStringLiteral("Cancel"));
    });
    w->Action(app::kIdBlockSizeEcho)->trigger();
    QVERIFY(ModalHandled());
    QVERIFY(stillOpen);
    QVERIFY(focused);
    QCOMPARE(boxes.Texts(), QStringList{"Please enter an integer between 32 and 8192."});
    QCOMPARE(rig.Ini(), before);
}

void SettingsDialogsTest::prefixedBlockSizeIsShownAndWrittenDecimal() {
    RadioRig rig({}, "Echo=1\n[LoadMemory]\nBlockSize=0x100\n", false);
    auto w = rig.MakeWindow();
    QString shown;
    bool echo = false;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::ZimpConfigDialog*>(d);
        shown = dialog->blockSize->text();
        echo = dialog->echo->isChecked();
        ClickButton(dialog, QStringLiteral("OK"));
    });
    w->Action(app::kIdBlockSizeEcho)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(shown, QStringLiteral("256"));
    QVERIFY(echo);
    QCOMPARE(rig.Ini(), "[configuration]\nPort=" + rig.pty.SlavePath() +
                            "\nBaudrate=115200\nEcho=1\n[LoadMemory]\nBlockSize=256\n");
}

void SettingsDialogsTest::writePortWithAMissingDeviceReopensTheOldPort() {
    RadioRig rig({}, "BaudrateFactor=2\n", false);
    const std::string before = rig.Ini();
    auto w = rig.MakeWindow();
    QVERIFY(w->Port().IsOpen());
    BoxRecorder boxes;
    QStringList shown;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::PortBaudDialog*>(d);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Write Port# and baudrate"));
        shown << dialog->portName->text() << dialog->rate->text() << dialog->factor->text();
        dialog->portName->setText(QStringLiteral("/dev/zimp-no-such-port"));
        ClickButton(dialog, QStringLiteral("OK"));
    });
    w->Action(app::kIdWritePort)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(shown, (QStringList{QString::fromStdString(rig.pty.SlavePath()), "115200", "2"}));
    QCOMPARE(boxes.Texts(), QStringList{"Cannot open port /dev/zimp-no-such-port"});
    QVERIFY(w->Port().IsOpen());
    QCOMPARE(w->Port().PortName(), rig.pty.SlavePath());
    QCOMPARE(w->Port().EffectiveRate(), 115200u);
    QCOMPARE(rig.Ini(), before);
}

void SettingsDialogsTest::writePortDividesTheRateByTheFactor() {
    RadioRig rig({}, "", false);
    const std::string before = rig.Ini();
    auto w = rig.MakeWindow();
    BoxRecorder boxes;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::PortBaudDialog*>(d);
        dialog->factor->setText(QStringLiteral("1025"));
        ClickButton(dialog, QStringLiteral("OK"));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->focusWidget(), dialog->factor);
        dialog->factor->setText(QStringLiteral("4"));
        ClickButton(dialog, QStringLiteral("OK"));
    });
    w->Action(app::kIdWritePort)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(boxes.Texts(), QStringList{"Please enter an integer between 1 and 1024."});
    QCOMPARE(w->Port().StoredRate(), 28800u);
    QCOMPARE(w->Port().EffectiveRate(), 115200u);
    QCOMPARE(w->StoredPort().factor, 4u);
    QCOMPARE(rig.Ini(), before);
}

void SettingsDialogsTest::setPortAppliesTheEditedLine() {
    RadioRig rig({}, "BaudrateFactor=4\n", false);
    const std::string before = rig.Ini();
    auto w = rig.MakeWindow();
    QString rate;
    WhenModal([&](QWidget* d) {
        auto* dialog = qobject_cast<app::SetPortDialog*>(d);
        QVERIFY(dialog);
        rate = dialog->rate->currentText();
        dialog->rate->setCurrentText(QStringLiteral("57600"));
        dialog->dataBits->setCurrentIndex(2);  // 7
        dialog->parity->setCurrentIndex(2);    // Even
        ClickButton(dialog, QStringLiteral("OK"));
    });
    w->Action(app::kIdSetPort)->trigger();
    QVERIFY(ModalHandled());
    QCOMPARE(rate, QStringLiteral("115200"));
    const platform::SerialSettings& s = w->Port().Settings();
    QCOMPARE(s.baudRate, 14400u);
    QCOMPARE(int(s.dataBits), 7);
    QVERIFY(s.parity == platform::Parity::Even);
    QCOMPARE(rig.Ini(), before);
}

QTEST_MAIN(SettingsDialogsTest)
#include "SettingsDialogsTest.moc"

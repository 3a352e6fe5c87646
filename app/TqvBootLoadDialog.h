#pragma once
// "TQV_BOOTLOAD" (modal): the TQV boot load's settings and the load itself. The load's direct
// transfers have no abort, so they run on a thread of their own while this window keeps
// painting with its controls disabled and the wait cursor shown.

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <functional>

#include "memops/OperationHistory.h"
#include "memops/TqvBootLoad.h"

namespace app {

class TqvBootLoadDialog : public QDialog {
    Q_OBJECT
  public:
    TqvBootLoadDialog(serial::SerialPort* port, const memops::TqvSettings& settings,
                      QWidget* parent = nullptr);
    const memops::TqvSettings& Settings() const { return settings_; }
    bool Running() const { return running_; }

    // The whole command: reads section "TqvBootLoad", runs the dialog and, after OK, writes the
    // settings back. Returns whether it ended with OK. prepare is handed the dialog before it
    // shows, to connect to it.
    static bool Run(serial::SerialPort* port, streams::Configuration* profile, QWidget* parent,
                    const std::function<void(TqvBootLoadDialog&)>& prepare = {});

    QLineEdit* headerRate;
    QLineEdit* file;
    QPushButton* browseFile;
    QLineEdit* patch;
    QPushButton* browsePatch;
    QCheckBox* disablePatch;
    QLineEdit* factor;
    QLineEdit* dataRate;
    QRadioButton* ambrel;
    QRadioButton* vintrel;
    QPushButton* ok;
    QPushButton* cancel;

  signals:
    void started();                                     // OK: the load begins
    void ended(const memops::OperationRecord& record);  // and how it went

  public slots:
    void accept() override;  // OK: the load, then the dialog closes with OK
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool TakeValues();
    void Fill();
    void UpdatePatch();

    serial::SerialPort* port_;
    memops::TqvSettings settings_;
    bool running_ = false;
};

}  // namespace app

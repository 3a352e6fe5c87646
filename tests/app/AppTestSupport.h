#pragma once
// The desktop windows against the in-process simulated radio: a configuration naming its
// pseudo-terminal, the main window made from it, and helpers to answer modal dialogs.

#include <QApplication>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/MainWindow.h"
#include "streams/MessagePresenter.h"
#include "support/SimulatedRadio.h"
#include "support/TempDir.h"

namespace apptest {

// The simulated radio (running unless start is false) and a configuration naming its line:
// "[configuration]\nPort=<pty>\nBaudrate=115200\n" followed by extra.
class RadioRig : public SimulatedRadio {
  public:
    explicit RadioRig(radio::ZimpRadioOptions options = {}, const std::string& extra = "",
                      bool start = true);
    std::string Ini() const { return dir.Read("ZIMPProtocol.ini"); }
    std::unique_ptr<app::MainWindow> MakeWindow(app::AppOptions options = {});

    TempDir dir;
    std::string iniPath;
};

// Boxes recorded instead of shown, for the life of the object.
class BoxRecorder {
  public:
    BoxRecorder();
    ~BoxRecorder();
    QStringList Texts() const;

  private:
    streams::RecordingPresenter presenter_;
};

// Runs action once a modal dialog is up (polled from the event loop), then returns; the
// action usually closes the dialog. A dialog that never appears fails the test.
void WhenModal(std::function<void(QWidget*)> action);
bool ModalHandled();

// The bytes of an S-Record file by address (with the checksum table at tableAt, 0xFFFFFFFF
// after the highest block, when given): what a load should leave in the radio.
std::map<uint32_t, uint8_t> ImageBytes(const std::string& file,
                                       std::optional<uint32_t> tableAt = std::nullopt);

// Clicks the button of a dialog whose text is text ("OK", "Cancel").
void ClickButton(QWidget* dialog, const QString& text);

}  // namespace apptest

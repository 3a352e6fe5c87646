#pragma once
// The main window: menu, tool bar and status bar, and what every command needs: the serial
// port, the configuration stream, the stored port name and factor, and the dialogs.

#include <QLabel>
#include <QMainWindow>
#include <QToolBar>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/QtEventPump.h"
#include "memops/LoadCommand.h"
#include "memops/OperationHistory.h"
#include "memops/PortReopen.h"
#include "memops/Startup.h"
#include "serial/SerialPort.h"
#include "streams/Configuration.h"
#include "streams/MessagePresenter.h"
#include "trace/WireTrace.h"

class QMimeData;

namespace app {

class BootLoadDialog;
class HistoryPane;
class LogConsole;
class ManualZimpDialog;
class ProgressDialog;
class SaveMemoryDialog;
class QtPortSettingsEditor;
class RequestsDialog;
class ZimpConfigDialog;

struct AppOptions {
    std::string config;               // --config FILE: instead of looking for ZIMPProtocol.ini
    std::optional<std::string> port;  // --port DEVICE: instead of configuration/Port (not written)
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(const AppOptions& options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The action of a command number (menu item or tool-bar button); nullptr when unknown.
    QAction* Action(int id) const;
    QAction* TraceAction() const { return traceAction_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QString PortPaneText() const;
    // Status-bar panes: the message pane's text, and the three key indicators.
    QString StatusText() const;
    QLabel* Indicator(int index) const { return indicators_[index]; }
    LogConsole* Console() const { return console_.get(); }
    HistoryPane* History() const { return history_; }

    serial::SerialPort& Port() { return port_; }
    streams::Configuration& Profile() { return *profile_; }
    const std::string& ConfigPath() const { return configPath_; }
    const memops::PortChoice& StoredPort() const { return stored_; }
    int MemoryKind() const { return memoryKind_; }
    void SetMemoryKind(int kind) { memoryKind_ = kind; }

    ManualZimpDialog& ManualZimp() { return *manual_; }
    ZimpConfigDialog& ZimpConfig() { return *config_; }
    RequestsDialog& Requests() { return *requests_; }
    ProgressDialog& Progress() { return *progress_; }
    SaveMemoryDialog& SaveMemory() { return *save_; }
    BootLoadDialog& BootLoader() { return *boot_; }
    memops::LoadCommand& Loader() { return *load_; }

    // While an operation runs no command can start and the window cannot be closed.
    void BeginOperation();
    void EndOperation();
    bool OperationRunning() const { return operations_ > 0; }

  public slots:
    void SetStatusText(const QString& text);
    // An operation's start (after its dialog's OK) and its end: the end's record goes into
    // the history with what the boxes said since the start; a success's line goes into the
    // status bar once the operation's windows are closed.
    void OperationStarted();
    void OperationEnded(memops::OperationRecord record);
    // Drops: one local file opens "Loading Parameters" for Flash with it; none while an
    // operation runs.
    bool AcceptsDrop(const QMimeData* data) const;

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void UpdateIndicators();
    // "DEVICE RATE" while the port is open, "DEVICE closed" when it is not.
    void UpdatePortPane();
    // Before an operation that needs the port: a port that should be open but is not (held by
    // another program at start, say) is opened again, and a failure says why in a box.
    void EnsurePortOpen();

    void OnRow();
    void OnCommands();
    void OnSetPort();
    void OnBlockSizeAndEcho();
    void OnWritePort();
    void OnAbout();
    // View > Trace: on, every byte on the line goes to a file the user chooses; off, the file
    // is complete.
    void OnTrace(bool on);
    void OnLoad(int memoryKind, const QString& file = QString());
    void OnSave(int memoryKind);
    void OnBootLoad();
    void OnTqvBootLoad();

    QtMessagePump pump_;
    trace::WireTrace trace_;  // View > Trace; outlives the port that writes into it
    serial::SerialPort port_;
    std::string configPath_;
    std::unique_ptr<streams::Configuration> profile_;
    memops::PortChoice stored_;  // the port name and factor in use; the rate is the port's
    uint32_t wantedRate_ = 0;    // the nominal rate the port is to have open
    bool settingsValid_ = true;  // a refused port value keeps the port closed
    int memoryKind_ = 0;
    std::unique_ptr<QtPortSettingsEditor> editor_;
    ManualZimpDialog* manual_;
    ZimpConfigDialog* config_;
    RequestsDialog* requests_;
    ProgressDialog* progress_;
    SaveMemoryDialog* save_;
    BootLoadDialog* boot_;
    std::unique_ptr<memops::LoadCommand>
        load_;  // keeps bias and compress from one load to the next
    std::unique_ptr<LogConsole> console_;
    std::map<int, QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    QLabel* portPane_ = nullptr;
    QAction* traceAction_ = nullptr;
    QLabel* indicators_[3] = {};
    int operations_ = 0;
    HistoryPane* history_ = nullptr;
    // Between the first operation's start and the last one's end every box also goes here.
    streams::TeePresenter tee_;
    QString doneText_;
};

}  // namespace app

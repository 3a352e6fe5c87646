#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QUrl>
#include <utility>

#include "app/AboutDialog.h"
#include "app/AppIcon.h"
#include "app/BootLoadDialog.h"
#include "app/CommandTable.h"
#include "app/FileChoosers.h"
#include "app/HistoryPane.h"
#include "app/LoadParamDialog.h"
#include "app/LogConsole.h"
#include "app/ManualZimpDialog.h"
#include "app/PortBaudDialog.h"
#include "app/ProgressDialog.h"
#include "app/QtEventPump.h"
#include "app/RequestsDialog.h"
#include "app/SaveMemoryDialog.h"
#include "app/SetPortDialog.h"
#include "app/TqvBootLoadDialog.h"
#include "app/WindowPlacement.h"
#include "app/ZimpConfigDialog.h"
#include "memops/RecentFiles.h"
#include "platform/FileLocator.h"
#include "platform/KeyboardLocks.h"
#include "platform/SerialDevice.h"
#include "streams/MessageStreams.h"

using memops::CurrentPortChoice;
using memops::LoadCommand;
using memops::LoadRequest;
using memops::LocateConfiguration;
using memops::MemoryKindOf;
using memops::MemoryOfType;
using memops::OpenConfiguredPort;
using memops::ReadStartupSettings;
using memops::ReopenPort;
using memops::StartupSettings;

using streams::AttachLogSink;
using streams::Configuration;
using streams::StartLogConsole;

namespace app {

namespace {
// The part of a prompt shown in the status bar, and the tool tip after the "\n".
QString StatusPart(const char* prompt) {
    return QString::fromLatin1(prompt).section(QLatin1Char('\n'), 0, 0);
}
std::optional<QString> ToolTipPart(const char* prompt) {
    const QString p = QString::fromLatin1(prompt);
    if (!p.contains(QLatin1Char('\n')))
        return std::nullopt;
    return p.section(QLatin1Char('\n'), 1);
}

}  // namespace

MainWindow::MainWindow(const AppOptions& options, QWidget* parent)
    : QMainWindow(parent),
      editor_(std::make_unique<QtPortSettingsEditor>(this)),
      manual_(new ManualZimpDialog(this)),
      config_(new ZimpConfigDialog(this)),
      requests_(new RequestsDialog(this)),
      progress_(new ProgressDialog(this)),
      save_(new SaveMemoryDialog(this)),
      boot_(new BootLoadDialog(this)) {
    setWindowTitle(QStringLiteral("Untitled - ZimpProtocol"));
    setWindowIcon(AppIcon());
    port_.SetPump(&pump_);
    port_.SetSettingsEditor(editor_.get());

    // The configuration and the port, as the command line finds them.
    configPath_ =
        options.config.empty() ? LocateConfiguration(platform::FileLocator()) : options.config;
    profile_ = std::make_unique<Configuration>(configPath_);
    if (options.port)
        profile_->Buffer().Override("configuration", "Port", *options.port);
    const StartupSettings settings = ReadStartupSettings(*profile_);
    stored_.name = settings.port;
    stored_.factor = settings.factor ? static_cast<uint32_t>(settings.factor) : 1;
    wantedRate_ = settings.baudrate > 0 ? static_cast<uint32_t>(settings.baudrate) : 0;
    settingsValid_ = settings.valid;
    OpenConfiguredPort(port_, settings);  // a failure shows when an operation needs the port

    history_ = new HistoryPane(this);
    setCentralWidget(history_);
    setAcceptDrops(true);
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();

    connect(requests_, &RequestsDialog::statusText, this, &MainWindow::SetStatusText);
    connect(requests_, &RequestsDialog::opened, this, &MainWindow::BeginOperation);
    connect(requests_, &RequestsDialog::closed, this, &MainWindow::EndOperation);
    load_ = std::make_unique<LoadCommand>(&port_, profile_.get());
    connect(progress_, &ProgressDialog::opened, this, &MainWindow::BeginOperation);
    connect(progress_, &ProgressDialog::closed, this, &MainWindow::EndOperation);
    connect(progress_, &ProgressDialog::cancelRequested, this, [this] { load_->Cancel(); });
    connect(save_, &SaveMemoryDialog::opened, this, &MainWindow::BeginOperation);
    connect(save_, &SaveMemoryDialog::closed, this, [this] {
        EndOperation();
        activateWindow();
    });
    connect(boot_, &BootLoadDialog::statusText, this, &MainWindow::SetStatusText);
    connect(boot_, &BootLoadDialog::opened, this, &MainWindow::BeginOperation);
    connect(boot_, &BootLoadDialog::closed, this, &MainWindow::EndOperation);
    connect(save_, &SaveMemoryDialog::started, this, &MainWindow::OperationStarted);
    connect(save_, &SaveMemoryDialog::ended, this, &MainWindow::OperationEnded);
    connect(boot_, &BootLoadDialog::started, this, &MainWindow::OperationStarted);
    connect(boot_, &BootLoadDialog::ended, this, &MainWindow::OperationEnded);

    for (QAction* a : menuBar()->actions())
        if (a->text() == QStringLiteral("&View")) {
            traceAction_ = a->menu()->addAction(QStringLiteral("&Trace..."));
            traceAction_->setCheckable(true);
            traceAction_->setStatusTip(
                QStringLiteral("Record every byte sent and received, with its time, in a file"));
            connect(traceAction_, &QAction::toggled, this, &MainWindow::OnTrace);
        }

    // DebugLevel is read when the window is made, after the bars.
    long debugLevel = 0;
    profile_->ReadInteger("configuration", "DebugLevel", debugLevel);
    profile_->clear();
    if (debugLevel != 0) {
        console_ = std::make_unique<LogConsole>();
        QMenu* view = nullptr;
        for (QAction* a : menuBar()->actions())
            if (a->text() == QStringLiteral("&View"))
                view = a->menu();
        QAction* log = view->addAction(QStringLiteral("&Log"));
        log->setCheckable(true);
        log->setStatusTip(QStringLiteral("Show or hide the log"));
        connect(log, &QAction::toggled, console_.get(), &QWidget::setVisible);
        connect(console_.get(), &LogConsole::visibilityChanged, log, &QAction::setChecked);
        console_->show();
        StartLogConsole(console_.get());
    }
    RestorePlacement(*this, actions_[kIdViewStatusBar]);
    // A bar the last run hid is hidden before it was ever shown, which tells its toggle nothing.
    actions_[kIdViewToolbar]->setChecked(!toolBar_->isHidden());
}

MainWindow::~MainWindow() {
    // The dialogs hold the port and the configuration: they go first, then the port and its
    // workers, then the log console.
    delete requests_;
    delete save_;
    delete boot_;
    delete progress_;
    load_.reset();
    delete manual_;
    delete config_;
    port_.SetTrace(nullptr);
    (void)trace_.Close();
    port_.Close();
    if (console_) {
        AttachLogSink(nullptr);
        console_.reset();
    }
}

void MainWindow::BuildMenus() {
    std::map<QString, QMenu*> menus;
    for (const CommandEntry& c : MenuCommands()) {
        const QString title = QString::fromLatin1(c.menu);
        QMenu*& menu = menus[title];
        if (menu == nullptr) {
            menu = menuBar()->addMenu(title);
            menu->setSeparatorsCollapsible(false);
            // Leaving a menu brings the idle text back.
            connect(menu, &QMenu::aboutToHide, this, [this] { SetStatusText(QString()); });
        }
        if (c.text == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(QString::fromLatin1(c.text));
        a->setData(c.id);
        a->setStatusTip(StatusPart(c.prompt));
        if (auto tip = ToolTipPart(c.prompt))
            a->setToolTip(*tip);
        actions_[c.id] = a;
    }

    connect(actions_[kIdExit], &QAction::triggered, this, &QWidget::close);
    QAction* toolbar = actions_[kIdViewToolbar];
    QAction* statusbar = actions_[kIdViewStatusBar];
    toolbar->setCheckable(true);
    statusbar->setCheckable(true);
    connect(statusbar, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    connect(actions_[kIdRow], &QAction::triggered, this, &MainWindow::OnRow);
    connect(actions_[kIdCommands], &QAction::triggered, this, &MainWindow::OnCommands);
    connect(actions_[kIdSetPort], &QAction::triggered, this, &MainWindow::OnSetPort);
    connect(actions_[kIdBlockSizeEcho], &QAction::triggered, this, &MainWindow::OnBlockSizeAndEcho);
    connect(actions_[kIdWritePort], &QAction::triggered, this, &MainWindow::OnWritePort);
    connect(actions_[kIdAbout], &QAction::triggered, this, &MainWindow::OnAbout);
    const std::pair<int, int> loads[] = {{kIdLoadRam, 0},
                                         {kIdLoadFlash, 1},
                                         {kIdLoadInternalEeprom, 2},
                                         {kIdLoadExternalEeprom, 3},
                                         {kIdLoadPelk, 4}};
    for (auto [id, kind] : loads)
        connect(actions_[id], &QAction::triggered, this, [this, kind = kind] { OnLoad(kind); });
    const std::pair<int, int> saves[] = {{kIdSaveRam, 0},
                                         {kIdSaveFlash, 1},
                                         {kIdSaveInternalEeprom, 2},
                                         {kIdSaveExternalEeprom, 3},
                                         {kIdSaveFlashPelk, 4}};
    for (auto [id, kind] : saves)
        connect(actions_[id], &QAction::triggered, this, [this, kind = kind] { OnSave(kind); });
    connect(actions_[kIdBootLoad], &QAction::triggered, this, &MainWindow::OnBootLoad);
    connect(actions_[kIdTqvBootLoad], &QAction::triggered, this, &MainWindow::OnTqvBootLoad);

    // The framework's standard accelerators: taken and without effect.
    const std::pair<int, QList<QKeySequence>> keys[] = {
        {kIdNew, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {kIdOpen, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {kIdSave, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {57643, {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
        {57635, {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
        {57634, {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
        {57637, {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
        {57680, {QKeySequence(Qt::Key_F6)}},
        {57681, {QKeySequence(Qt::SHIFT | Qt::Key_F6)}},
    };
    for (const auto& [id, sequences] : keys) {
        auto* a = new QAction(this);
        a->setData(id);
        a->setShortcuts(sequences);
        addAction(a);
        actions_[id] = a;
    }
}

void MainWindow::BuildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Standard"));
    toolBar_->setObjectName(QStringLiteral("toolbar128"));
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setMovable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    QAction* tqv = actions_[kIdTqvBootLoad];
    QAction* pelk = actions_[kIdLoadPelk];
    QAction* about = actions_[kIdAbout];
    tqv->setIcon(ToolIcon(QStringLiteral("TQV"), QColor(0x80, 0x20, 0x20)));
    pelk->setIcon(ToolIcon(QStringLiteral("PE"), QColor(0x20, 0x50, 0x90)));
    about->setIcon(ToolIcon(QStringLiteral("?"), QColor(0x10, 0x10, 0x10)));
    toolBar_->addAction(tqv);
    toolBar_->addAction(pelk);
    toolBar_->addSeparator();
    toolBar_->addAction(about);
    QAction* toggle = actions_[kIdViewToolbar];
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void MainWindow::BuildStatusBar() {
    portPane_ = new QLabel(this);
    portPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addPermanentWidget(portPane_);
    const char* names[] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        indicators_[i] = new QLabel(QString::fromLatin1(names[i]), this);
        indicators_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        indicators_[i]->setAlignment(Qt::AlignCenter);
        statusBar()->addPermanentWidget(indicators_[i]);
    }
    actions_[kIdViewStatusBar]->setChecked(true);
    UpdateIndicators();
    // The lock state can change in any window, ours or not: it is looked at twice a second.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MainWindow::UpdateIndicators);
    timer->start(500);
    SetStatusText(QString());
}

void MainWindow::UpdateIndicators() {
    // Lit while the key's lock is on; dim when it is off or nothing reports it.
    const platform::LockKey keys[] = {platform::LockKey::Caps, platform::LockKey::Num,
                                      platform::LockKey::Scroll};
    for (int i = 0; i < 3; ++i)
        indicators_[i]->setEnabled(platform::LockKeyState(keys[i]).value_or(false));
    UpdatePortPane();
}

QString MainWindow::PortPaneText() const {
    return portPane_->text();
}

void MainWindow::UpdatePortPane() {
    // The port is an operation's while one runs (it may reopen it): looked at between them.
    if (OperationRunning())
        return;
    const std::string& name = port_.IsOpen() ? port_.PortName() : stored_.name;
    QString text = name.empty() ? QStringLiteral("no port") : QString::fromStdString(name);
    const platform::OpenFailure& failure = port_.LastOpenFailure();
    if (!name.empty()) {
        if (port_.IsOpen())
            text += QStringLiteral(" %1").arg(port_.StoredRate());
        else if (failure.error == platform::OpenError::Busy)  // who holds it, if known
            text += QLatin1Char(' ') + QString::fromStdString(platform::OpenFailureText(failure));
        else
            text += QStringLiteral(" closed");
    }
    if (portPane_->text() != text)
        portPane_->setText(text);
}

QAction* MainWindow::Action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QString MainWindow::StatusText() const {
    return statusBar()->currentMessage();
}

void MainWindow::SetStatusText(const QString& text) {
    statusBar()->showMessage(text.isEmpty() && QApplication::activePopupWidget() == nullptr
                                 ? QStringLiteral("Ready")
                                 : text);
}

bool MainWindow::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        // An item without a prompt empties the pane while it is highlighted; with no menu
        // open the pane says "Ready".
        SetStatusText(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

void MainWindow::EnsurePortOpen() {
    if (port_.IsOpen() || !settingsValid_ || stored_.name.empty() || wantedRate_ == 0)
        return;
    memops::StartupSettings s;
    s.port = stored_.name;
    s.baudrate = wantedRate_;
    s.factor = stored_.factor;
    memops::OpenPortSayingWhy(port_, s);
    UpdatePortPane();
}

void MainWindow::OperationStarted() {
    (void)tee_.TakeText();  // what the operation's dialog said before its OK is not its record
}

void MainWindow::OperationEnded(memops::OperationRecord record) {
    const std::string said = tee_.TakeText();
    if (record.result != memops::OperationResult::Done)
        record.message = said;
    else
        doneText_ = QString::fromStdString(memops::DoneText(record));
    history_->Append(record);
}

bool MainWindow::AcceptsDrop(const QMimeData* data) const {
    return !OperationRunning() && data != nullptr && data->hasUrls() && data->urls().size() == 1 &&
           data->urls().first().isLocalFile();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (AcceptsDrop(e->mimeData()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* e) {
    if (AcceptsDrop(e->mimeData()))
        e->acceptProposedAction();
    else
        e->ignore();
}

void MainWindow::dropEvent(QDropEvent* e) {
    if (!AcceptsDrop(e->mimeData())) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    // After the drop has ended: the dragging program must not wait for our modal dialog.
    const QString file = e->mimeData()->urls().first().toLocalFile();
    QTimer::singleShot(0, this, [this, file] { OnLoad(1, file); });
}

void MainWindow::BeginOperation() {
    if (operations_++ == 0) {
        tee_.SetNext(streams::SetMessagePresenter(&tee_));
        doneText_.clear();
        menuBar()->setEnabled(false);
        toolBar_->setEnabled(false);
        centralWidget()->setEnabled(false);
    }
}

void MainWindow::EndOperation() {
    if (operations_ > 0 && --operations_ == 0) {
        menuBar()->setEnabled(true);
        toolBar_->setEnabled(true);
        centralWidget()->setEnabled(true);
        // Unless someone put another presenter in its place meanwhile.
        streams::MessagePresenter* now = streams::SetMessagePresenter(tee_.Next());
        if (now != &tee_)
            streams::SetMessagePresenter(now);
        SetStatusText(QString());
        UpdatePortPane();
        // Until the next prompt replaces it.
        if (!doneText_.isEmpty())
            SetStatusText(std::exchange(doneText_, QString()));
    }
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (OperationRunning()) {
        e->ignore();
        return;
    }
    if (console_)
        console_->hide();
    SavePlacement(*this);
    QMainWindow::closeEvent(e);
}

void MainWindow::OnRow() {
    EnsurePortOpen();
    BeginOperation();
    manual_->Run(&port_);
    EndOperation();
}

void MainWindow::OnCommands() {
    if (!OperationRunning())
        EnsurePortOpen();
    requests_->Open(&port_, profile_.get());
}

void MainWindow::OnSetPort() {
    BeginOperation();
    port_.ConfigureInteractively();
    EndOperation();
}

void MainWindow::OnBlockSizeAndEcho() {
    BeginOperation();
    config_->Run(*profile_);
    EndOperation();
}

void MainWindow::OnWritePort() {
    BeginOperation();
    PortBaudDialog dialog(CurrentPortChoice(port_, stored_.name, stored_.factor), this);
    if (dialog.exec() == QDialog::Accepted && ReopenPort(port_, dialog.Chosen(), stored_))
        wantedRate_ = dialog.Chosen().rate;
    EndOperation();
}

void MainWindow::OnLoad(int memoryKind, const QString& file) {
    if (OperationRunning())
        return;
    SetMemoryKind(memoryKind);
    const memops::Memory memory = *MemoryOfType(memoryKind);
    EnsurePortOpen();
    BeginOperation();
    // "Loading Parameters" in front, then the load off this thread while "LOADING" shows it;
    // every message is a box.
    if (std::optional<LoadRequest> defaults = load_->Defaults(memory)) {
        if (!file.isEmpty())
            defaults->file = file.toStdString();
        LoadParamDialog dialog(*defaults, MemoryKindOf(memory).loadTitle,
                               memops::ReadRecentFiles(*profile_), this);
        if (dialog.exec() == QDialog::Accepted) {
            const LoadRequest request = dialog.Request();
            memops::RememberRecentFile(*profile_, request.file);
            OperationStarted();
            const memops::OperationTimer timer(memops::Operation::Load, MemoryKindOf(memory).name,
                                               request.file);
            LoadCommand::Outcome outcome = LoadCommand::Outcome::NotLoaded;
            RunKeepingEventsLive([&] { outcome = load_->Run(request, progress_); });
            // What the load handed the window on its way out is shown before going on.
            QCoreApplication::sendPostedEvents(progress_, QEvent::MetaCall);
            OperationEnded(
                timer.Finish(memops::ResultOf(outcome, load_->Cancelled()), load_->LoadedBytes()));
        }
    }
    EndOperation();
}

void MainWindow::OnSave(int memoryKind) {
    if (OperationRunning())
        return;
    SetMemoryKind(memoryKind);
    EnsurePortOpen();
    save_->Open(&port_, profile_.get(), memoryKind);
}

void MainWindow::OnBootLoad() {
    if (OperationRunning())
        return;
    EnsurePortOpen();
    boot_->Open(&port_, profile_.get());
}

void MainWindow::OnTqvBootLoad() {
    if (OperationRunning())
        return;
    EnsurePortOpen();
    BeginOperation();
    TqvBootLoadDialog::Run(&port_, profile_.get(), this, [this](TqvBootLoadDialog& dialog) {
        connect(&dialog, &TqvBootLoadDialog::started, this, &MainWindow::OperationStarted);
        connect(&dialog, &TqvBootLoadDialog::ended, this, &MainWindow::OperationEnded);
    });
    EndOperation();
}

void MainWindow::OnTrace(bool on) {
    if (on == (port_.Trace() != nullptr))
        return;
    QString target = QString::fromStdString(trace_.Path());
    QString why;
    if (on) {
        target = ChooseTraceToSave(this, target);
        if (!target.isEmpty()) {
            why = QString::fromStdString(trace_.Open(target.toStdString()));
            if (why.isEmpty()) {
                trace_.Note("zimpprotocol " ZIMP_VERSION);
                port_.SetTrace(&trace_);
                return;
            }
        }
    } else {
        port_.SetTrace(nullptr);
        why = QString::fromStdString(trace_.Close());
        if (why.isEmpty())
            return;
    }
    // Not tracing after all: the item says so.
    const QSignalBlocker quiet(traceAction_);
    traceAction_->setChecked(false);
    if (!why.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Trace"),
                             QStringLiteral("Cannot write the trace %1: %2.").arg(target, why));
}

void MainWindow::OnAbout() {
    BeginOperation();
    AboutDialog about(this);
    about.exec();
    EndOperation();
}

}  // namespace app

#include "app/WindowPlacement.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>

namespace app {

namespace {
QSettings Settings() {
    return QSettings(QStringLiteral("ZIMPProtocol"), QStringLiteral("zimpprotocol"));
}
}  // namespace

QSize FirstSize(const QMainWindow& window) {
    int width = 640, height = 400;
    // The frame's own margins come on top of the widest bar.
    const int margins = 24;
    if (const QMenuBar* menu = window.menuWidget() ? window.menuBar() : nullptr)
        width = std::max(width, menu->sizeHint().width() + margins);
    for (const QToolBar* bar : window.findChildren<QToolBar*>())
        width = std::max(width, bar->sizeHint().width() + margins);
    if (const QStatusBar* status = window.findChild<QStatusBar*>())
        width = std::max(width, status->sizeHint().width() + margins);
    height = std::max(height, window.minimumSizeHint().height());
    return {width, height};
}

void RestorePlacement(QMainWindow& window, QAction* statusBarToggle) {
    const QSettings s = Settings();
    const bool known = window.restoreGeometry(s.value("window/geometry").toByteArray());
    window.restoreState(s.value("window/state").toByteArray());
    if (statusBarToggle)
        statusBarToggle->setChecked(s.value("window/statusBar", true).toBool());
    if (known)
        return;
    window.resize(FirstSize(window));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window.size());
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

void SavePlacement(const QMainWindow& window) {
    QSettings s = Settings();
    s.setValue("window/geometry", window.saveGeometry());
    s.setValue("window/state", window.saveState());
    s.setValue("window/statusBar", !window.statusBar()->isHidden());
    s.sync();
}

}  // namespace app

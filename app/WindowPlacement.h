#pragma once
// Where the main window was and which bars it showed, kept between runs in the user's own
// settings (~/.config/ZIMPProtocol/zimpprotocol.conf), never in the radio configuration.

#include <QMainWindow>

class QAction;

namespace app {

// The size at which the menu bar, the tool bar and the status bar's panes show whole: at least
// 640 by 400.
QSize FirstSize(const QMainWindow& window);
// The last run's size, place and bars; the first time, FirstSize centred on the screen.
// statusBarToggle is the View menu's item, kept in step.
void RestorePlacement(QMainWindow& window, QAction* statusBarToggle);
void SavePlacement(const QMainWindow& window);

}  // namespace app

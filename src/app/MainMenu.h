#pragma once

class QMenuBar;
class QWidget;

namespace pinlark {

// The main menu: the application menu, Edit, View and Window, with their keys (Qt's Ctrl is
// Command on macOS). Built once, at launch.
QMenuBar* buildMainMenu(QWidget* parent = nullptr);

// Builds the main menu, gives it to the library window (which carries it from whenever it is
// built; while the window is shown the app has a menu bar, hidden it has none) and returns it.
QMenuBar* installMainMenu();

} // namespace pinlark

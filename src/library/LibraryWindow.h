#pragma once

#include <QUrl>

class QMenuBar;
class QWidget;

namespace pinlark {

// The library window as the rest of the app reaches it. The window and the web engine under it
// are most of what the app loads, and only the window needs them: they live in a module of their
// own (libPinlarkLibrary.so beside the app's libPinlark.so), loaded the first time the window is
// wanted, so that the tray and the panel never wait for the engine. What asks about the window
// (isVisible, edit) never loads it.
namespace LibraryWindow {

enum class Edit { Undo, Redo, Cut, Copy, Paste, SelectAll };

// The window's controller, which the module makes (library/Dashboard).
class Controller {
public:
    virtual ~Controller() = default;
    // `quietly`: shown behind what has the keyboard, which keeps it.
    virtual void show(bool quietly) = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    virtual void load(const QUrl& url) = 0;
    // Reloads from the service, bypassing caches.
    virtual void reload() = 0;
    virtual void back() = 0;
    virtual void forward() = 0;
    // Runs `edit` on the focused element of the web view that `focus` lies in; false when it
    // lies in none.
    virtual bool edit(QWidget* focus, Edit edit) = 0;
};

// What the module gives: its controller, made on first use; the one that exists, or null.
struct Module {
    Controller& (*shared)();
    Controller* (*existing)();
};

// Shows the window in front and makes the app active. `quietly` shows it without taking the
// keyboard or raising it over what the user has open (the panel, the tray's menu).
void show(bool quietly = false);
void hide();
// False while the window has not been made.
bool isVisible();
bool isMade();
void load(const QUrl& url);
void reload();
void back();
void forward();
bool edit(QWidget* focus, Edit edit);

// The library's home page: the origin with "saves" appended.
QUrl homeURL();

// The menu bar the window carries (on Linux each window has its own), kept until the window is
// made, which then owns it.
void setMenuBar(QMenuBar* bar);
QMenuBar* menuBar();

// For a program that links the window in (the tests): its module in place of the loaded one.
void provide(Module module);

} // namespace LibraryWindow

} // namespace pinlark

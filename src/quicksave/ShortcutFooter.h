#pragma once

#include <QWidget>

#include <functional>

class QAbstractButton;
class QMenu;
class QToolButton;

namespace pinlark {

class LibraryLink;

// The panel's footer: "Open library" with the keys of the library's shortcut beside it, or,
// while the desktop gives it none, "Set a shortcut…"; then the button of the menu of app
// commands, which the panel fills. The keys are the platform's registration, read each time the
// footer is brought up to date (showShortcut()).
class ShortcutFooter : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutFooter(QWidget* parent);

    QAbstractButton* openLibraryButton() const;
    QAbstractButton* setShortcutButton() const;
    QToolButton* menuButton() const { return m_menuButton; }
    QMenu* menu() const { return m_menu; }

    // The keys beside "Open library", or the offer to set some.
    void showShortcut();
    // Explains how to give Pinlark's commands keys; where the desktop's settings can take a
    // shortcut from the app, asks first and adds it on yes.
    void explainShortcut();

    // The shortcut of the library window as the platform writes it, while one is registered;
    // else empty, and the footer offers to set one.
    static QString keysText();
    // How to give Pinlark's commands keys in the desktop's own settings.
    static QString setUpText();
    // Whether the desktop took the app's shortcut, with keys or without; handed over by the
    // app's hotkey when it registers. Unset, the desktop holds none.
    static inline std::function<bool()> desktopHoldsShortcut;

    // The menu button's symbol, drawn in the palette's colours.
    void updateColors();

private:
    LibraryLink* m_openLibrary = nullptr;
    LibraryLink* m_setShortcut = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_menu = nullptr;
};

} // namespace pinlark

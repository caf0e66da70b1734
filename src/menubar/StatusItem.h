#pragma once

#include "quicksave/Outbox.h"
#include "quicksave/QuickSaveModel.h"

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QUrl>

#include <memory>
#include <optional>

class QMenu;

namespace pinlark {

class ColorScheme;
class Popover;
class TrayHost;

// The app's icon in the system tray. A click toggles the quick-save panel; a right click or a
// Control-click opens the menu of library, sign-in, login-item and update commands, brought up
// to date each time it opens. The icon carries a dot, and its tooltip changes,
// while an update is available or being installed. Created once at launch; owns the panel, its
// model and the outbox of links waiting for the service.
class StatusItem : public QObject {
    Q_OBJECT
public:
    explicit StatusItem(QObject* parent = nullptr);
    // With the model's service client given (tests script it).
    explicit StatusItem(std::shared_ptr<SavesClient> client, QObject* parent = nullptr);
    ~StatusItem() override;

    // None on Wayland until a tray host runs.
    QSystemTrayIcon* tray();
    QWidget* popover();
    QuickSaveModel& model() { return *m_model; }
    Outbox& outbox() { return *m_outbox; }

    // What a click on the icon does: a right click, or a left click with Control held, opens the
    // menu; a middle click does nothing; any other click toggles the panel.
    void clicked(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);

    // Whether the desktop has a tray that shows the icon, as of the last change heard.
    bool hasTray() const;
    // Whether the panel or the tray's menu is open.
    bool inUse() const;

    void togglePopover();
    // Opens the panel if it is closed (the model pre-fills the field from the clipboard) and,
    // when `link` is given, puts that link into the field instead. An open panel only takes the
    // link and comes forward. The panel hangs under `anchor`, a widget of one of the app's
    // windows, when one is given; else from the icon where the tray says where it is (XEmbed);
    // else, on Wayland, where no client knows where anything is, it is a window of its own that
    // the compositor places; else it opens at the pointer.
    void showPopover(const std::optional<QUrl>& link = std::nullopt, QWidget* anchor = nullptr);
    void closePopover();
    // Opens the panel as showPopover() does, with `text` (several links) in its field.
    void showPopoverWithText(const QString& text);
    // Saves the link or links on the clipboard now, without the panel, and tells how it went
    // by a notification; where none can be shown, the tooltip and the panel's next opening say
    // it. Without a link on the clipboard nothing is saved, and the notification says why.
    void saveClipboard();

    // Opens the menu at the pointer, unless the tray has opened it already.
    void showMenu();
    // Adds the menu's rows to the empty `menu`, as of the moment; its Quick Save opens the panel
    // under `quickSaveAnchor` when one is given.
    void setUpMenu(QMenu* menu, QWidget* quickSaveAnchor = nullptr);
    // Brings the rows that `setUpMenu` added up to date: texts, check marks, enabled state and
    // which of the rows that come and go are shown. The rows themselves stay.
    void updateMenu(QMenu* menu);

    // The icon and tooltip for the updater's and installer's state.
    void refreshBadge();

    // The menu's commands.
    void openLibrary();
    void openQuickSave();
    void saveCopiedLink();
    void toggleLogin();
    void toggleAutoUpdate();
    void checkForUpdates();
    void openUpdate();
    void signInViaBrowser();
    void signOut();

    // The tray's icon: the bundle's "MenuBarIcon.png" drawn for the desktop's light or dark
    // preference (TrayIcon), with the update dot when `badge`; a null icon when the resource is
    // missing or unreadable.
    QIcon trayIcon(bool badge) const;
    // The same drawing for the library window's menu bar, following the app's palette.
    static QIcon icon();

    static QString defaultToolTip();

Q_SIGNALS:
    // A tray came or went.
    void trayAvailabilityChanged(bool available);
    // The panel or the tray's menu closed, and neither is open now.
    void released();

private:
    static QImage glyph();

    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<QuickSaveModel> m_model;
    std::unique_ptr<Popover> m_popover;
    // The tray's own menu; brought up to date each time it is about to open.
    std::unique_ptr<QMenu> m_menu;
    bool m_menuOpen = false;
    ColorScheme* m_colorScheme = nullptr;
    // Last, so it goes first: nothing of the tray outlives the menu it shows.
    std::unique_ptr<TrayHost> m_trayHost;
};

} // namespace pinlark

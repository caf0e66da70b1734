#include "menubar/StatusItem.h"

#include "library/LibraryWindow.h"
#include "loginitem/LoginItem.h"
#include "menubar/ClipboardSave.h"
#include "menubar/ColorScheme.h"
#include "menubar/Popover.h"
#include "menubar/TrayHost.h"
#include "menubar/TrayIcon.h"
#include "platform/Desktop.h"
#include "platform/Platform.h"
#include "quicksave/QuickSaveView.h"
#include "service/Config.h"
#include "session/Connect.h"
#include "session/Session.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QWindow>

namespace pinlark {

namespace {

QCoro::Task<> signOutToSignInPage(QPointer<QuickSaveModel> model) {
    // Awaited as a statement of its own: behind && GCC 12 leaks the coroutine's frame.
    if (model) {
        const bool signedOut = co_await model->signOut();
        if (!signedOut)
            co_return;
    }
    LibraryWindow::load(Config::api(QStringLiteral("signin")));
    LibraryWindow::show();
}

// Where the item is when only the pointer that clicked it tells: see Popover::pointerAnchor.
QRect underPointer() {
    const QPoint pointer = QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? Popover::pointerAnchor(pointer, screen->geometry(), screen->availableGeometry())
                  : QRect(pointer, QSize(1, 1));
}

} // namespace

StatusItem::StatusItem(QObject* parent)
    : StatusItem(SavesClient::service(), parent) {}

StatusItem::StatusItem(std::shared_ptr<SavesClient> client, QObject* parent)
    : QObject(parent)
    , m_outbox(std::make_unique<Outbox>(Outbox::standardPath(), client))
    , m_model(std::make_unique<QuickSaveModel>(std::move(client), m_outbox.get()))
    , m_popover(std::make_unique<Popover>(*m_model))
    , m_menu(std::make_unique<QMenu>())
    , m_colorScheme(new ColorScheme(this)) {
    connect(m_popover.get(), &Popover::closed, m_model.get(), &QuickSaveModel::closed);
    connect(m_popover.get(), &Popover::closed, this, [this] {
        if (!inUse())
            Q_EMIT released();
    });
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (window && window == m_popover->windowHandle())
            m_model->focused();
    });
    // The icon follows the desktop from light to dark and back.
    connect(m_colorScheme, &ColorScheme::changed, this, &StatusItem::refreshBadge);

    // Trays that draw the menu themselves (StatusNotifierItem hosts over D-Bus) and the XEmbed
    // tray, where Qt opens it on a right click, both show this menu. Its rows are made once and
    // brought up to date in place the moment it is about to open: a host that mirrors the menu
    // keeps the same rows, only their texts and states change. A host may read the menu without
    // announcing that it opens it, so it is also kept current when the update state or the
    // outbox changes and after each command (once the command has run).
    setUpMenu(m_menu.get());
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        m_menuOpen = true;
        updateMenu(m_menu.get());
    });
    // A tray host that draws the menu itself tells its opening and closing over D-Bus too.
    connect(m_menu.get(), &QMenu::aboutToHide, this, [this] {
        m_menuOpen = false;
        if (!inUse())
            Q_EMIT released();
    });
    connect(
        m_menu.get(), &QMenu::triggered, this, [this] { updateMenu(m_menu.get()); },
        Qt::QueuedConnection);
    m_trayHost = std::make_unique<TrayHost>(m_menu.get());
    connect(m_trayHost.get(), &TrayHost::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // The tray does not pass the click's modifiers on; ask for them as they are now.
                clicked(reason, QGuiApplication::queryKeyboardModifiers());
            });
    connect(m_trayHost.get(), &TrayHost::iconMade, this, &StatusItem::refreshBadge);
    connect(m_trayHost.get(), &TrayHost::availabilityChanged, this,
            &StatusItem::trayAvailabilityChanged);
    m_trayHost->start();

    const QPointer<StatusItem> self(this);
    Updater::onChange = [self] {
        if (self)
            self->refreshBadge();
    };
    Installer::onChange = [self] {
        if (self)
            self->refreshBadge();
    };
    connect(m_outbox.get(), &Outbox::changed, this, [this] { updateMenu(m_menu.get()); });
    // A new session: its links go, and links of another session wait for the user's word.
    Connect::onAdopted = [self] {
        if (self)
            self->m_outbox->refreshSession();
    };
    m_model->dismiss = [self] {
        if (self)
            self->closePopover();
    };
}

StatusItem::~StatusItem() = default;

QSystemTrayIcon* StatusItem::tray() {
    return m_trayHost->tray();
}

bool StatusItem::hasTray() const {
    return m_trayHost->hasTray();
}

QWidget* StatusItem::popover() {
    return m_popover.get();
}

void StatusItem::clicked(QSystemTrayIcon::ActivationReason reason,
                         Qt::KeyboardModifiers modifiers) {
    switch (reason) {
    case QSystemTrayIcon::Context:
        showMenu();
        return;
    case QSystemTrayIcon::MiddleClick:
        // Only the left and right buttons act on the item.
        return;
    case QSystemTrayIcon::Unknown:
        togglePopover();
        return;
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        // The second press of a double click arrives as DoubleClick alone: it is a click too.
        if (modifiers & Qt::ControlModifier)
            showMenu();
        else
            togglePopover();
        return;
    }
}

void StatusItem::togglePopover() {
    if (m_popover->isVisible())
        closePopover();
    else
        showPopover();
}

void StatusItem::showPopover(const std::optional<QUrl>& link, QWidget* anchor) {
    if (m_popover->isVisible()) {
        if (link)
            m_model->setUrl(link->toString());
        m_popover->raise();
        m_popover->activateWindow();
        m_popover->view()->focusField();
        return;
    }
    // A Wayland client sees the clipboard of the moment only once it holds the keyboard; before,
    // it may still see what was copied when it last did.
    m_model->opened(!Desktop::onWayland());
    if (link)
        m_model->setUrl(link->toString());
    // A StatusNotifierItem host never says where the item is, and without a tray there is no
    // item.
    if (anchor)
        m_popover->showUnder(anchor);
    else if (const QRect icon = m_trayHost->iconGeometry(); !icon.isEmpty())
        m_popover->showAt(icon, Desktop::throughXwayland());
    else if (Desktop::onWayland())
        m_popover->showAsWindow();
    else
        m_popover->showAt(underPointer());
}

void StatusItem::closePopover() {
    m_popover->hide();
}

void StatusItem::showPopoverWithText(const QString& text) {
    showPopover();
    m_model->setUrl(text);
}

void StatusItem::saveClipboard() {
    // Where no notification can be shown, the tooltip says it.
    const QPointer<StatusItem> self(this);
    ClipboardSave::start(*m_model, [self](const QString& title, const QString& body) {
        if (self)
            self->m_trayHost->setToolTip(
                defaultToolTip() + QStringLiteral("\n") + title +
                (body.isEmpty() ? QString() : QStringLiteral(": ") + body));
    });
}

void StatusItem::saveCopiedLink() {
    saveClipboard();
}

void StatusItem::showMenu() {
    // On the XEmbed tray Qt has opened it already for a right click.
    if (m_menu->isVisible())
        return;
    const QRect icon = m_trayHost->iconGeometry();
    m_trayHost->popUpMenu((icon.isEmpty() ? underPointer() : icon).bottomLeft() + QPoint(0, 1));
}

namespace {

// The rows whose text, state or presence follows the app's state, found by these names.
constexpr char waitingRow[] = "waiting";
constexpr char signInRow[] = "signIn";
constexpr char loginRow[] = "login";
constexpr char automaticRow[] = "automatic";
constexpr char installingRow[] = "installing";
constexpr char updateRow[] = "update";
constexpr char checkRow[] = "check";

QAction* row(const QMenu* menu, const char* name) {
    return menu->findChild<QAction*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

} // namespace

void StatusItem::setUpMenu(QMenu* menu, QWidget* quickSaveAnchor) {
    const auto add = [this, menu](const QString& title, void (StatusItem::*command)(),
                                  const char* name = nullptr) {
        QAction* item = menu->addAction(title);
        if (command)
            connect(item, &QAction::triggered, this, command);
        if (name)
            item->setObjectName(QLatin1String(name));
        return item;
    };
    add(QStringLiteral("Open Library"), &StatusItem::openLibrary);
    QAction* quickSave = add(QStringLiteral("Quick Save\u2026"),
                             quickSaveAnchor ? nullptr : &StatusItem::openQuickSave);
    if (quickSaveAnchor)
        connect(quickSave, &QAction::triggered, this,
                [this, quickSaveAnchor] { showPopover(std::nullopt, quickSaveAnchor); });
    add(QStringLiteral("Save Copied Link"), &StatusItem::saveCopiedLink);
    add(QString(), nullptr, waitingRow)->setEnabled(false);
    menu->addSeparator();
    add(QString(), &StatusItem::signInViaBrowser, signInRow);
    add(QStringLiteral("Sign Out"), &StatusItem::signOut);
    menu->addSeparator();
    add(QStringLiteral("Open at Login"), &StatusItem::toggleLogin, loginRow)->setCheckable(true);
    add(QStringLiteral("Install Updates Automatically"), &StatusItem::toggleAutoUpdate,
        automaticRow)
        ->setCheckable(true);
    add(QStringLiteral("Installing update\u2026"), nullptr, installingRow)->setEnabled(false);
    QAction* update = add(QString(), &StatusItem::openUpdate, updateRow);
    QFont bold = menu->font();
    bold.setBold(true);
    update->setFont(bold);
    add(QStringLiteral("Check for Updates\u2026"), &StatusItem::checkForUpdates, checkRow);
    menu->addSeparator();
    QAction* quit = add(QStringLiteral("Quit Pinlark"), nullptr);
    quit->setShortcut(Qt::CTRL | Qt::Key_Q);
    // Ends the event loop at once: a quit request would first close every window, and the
    // library window turns a close into hiding.
    connect(quit, &QAction::triggered, quit, [] { QCoreApplication::exit(0); });
    updateMenu(menu);
}

void StatusItem::updateMenu(QMenu* menu) {
    // Only what the current session may send: links of another one wait for the user's word.
    const int waiting = m_outbox->sendableCount();
    QAction* saving = row(menu, waitingRow);
    saving->setVisible(waiting > 0);
    saving->setText(waiting == 1 ? QStringLiteral("Saving 1 link\u2026")
                                 : QStringLiteral("Saving %1 links\u2026").arg(waiting));
    QAction* signIn = row(menu, signInRow);
    signIn->setText(Connect::isRunning() ? QStringLiteral("Waiting for the browser\u2026")
                                         : QStringLiteral("Sign In\u2026"));
    signIn->setEnabled(!Connect::isRunning());
    row(menu, loginRow)
        ->setChecked(Platform::loginItems().status() == LoginItemService::Status::Enabled);
    row(menu, automaticRow)->setChecked(Installer::isAutomatic());
    const auto& version = Updater::availableVersion();
    row(menu, installingRow)->setVisible(Installer::isBusy());
    QAction* update = row(menu, updateRow);
    update->setVisible(!Installer::isBusy() && version);
    update->setText(QStringLiteral("Update to %1\u2026").arg(version.value_or(QString())));
    row(menu, checkRow)->setVisible(!Installer::isBusy() && !version);
}

QString StatusItem::defaultToolTip() {
    const QString keys = QuickSaveView::libraryShortcutText();
    if (keys.isEmpty())
        return QStringLiteral("Pinlark \u2014 save a link");
    return QStringLiteral("Pinlark \u2014 save a link (%1 for the library)").arg(keys);
}

void StatusItem::refreshBadge() {
    updateMenu(m_menu.get());
    QIcon icon;
    QString tip;
    if (Installer::isBusy()) {
        icon = trayIcon(true);
        tip = QStringLiteral("Pinlark is downloading an update \u2014 it will restart itself");
    } else if (const auto& version = Updater::availableVersion()) {
        icon = trayIcon(true);
        tip = QStringLiteral("Pinlark %1 is available \u2014 click for the menu").arg(*version);
    } else {
        icon = trayIcon(false);
        tip = defaultToolTip();
    }
    // An icon made later gets the badge of its time.
    m_trayHost->setIcon(icon);
    m_trayHost->setToolTip(tip);
}

bool StatusItem::inUse() const {
    return m_popover->isVisible() || m_menuOpen;
}

void StatusItem::openLibrary() {
    LibraryWindow::show();
}

void StatusItem::openQuickSave() {
    togglePopover();
}

void StatusItem::toggleLogin() {
    LoginItem::set(Platform::loginItems().status() != LoginItemService::Status::Enabled);
}

void StatusItem::toggleAutoUpdate() {
    Platform::defaults().set(QStringLiteral("autoUpdate"), !Installer::isAutomatic());
}

void StatusItem::checkForUpdates() {
    runDetached([] { return Updater::check(true); }, QStringLiteral("[updater] "));
}

void StatusItem::openUpdate() {
    Updater::openLatest();
}

void StatusItem::signInViaBrowser() {
    Connect::begin();
}

void StatusItem::signOut() {
    runDetached(
        [model = QPointer<QuickSaveModel>(m_model.get())] { return signOutToSignInPage(model); },
        QStringLiteral("[Pinlark] "));
}

QImage StatusItem::glyph() {
    return QImage(Platform::bundle().path() + QStringLiteral("/Contents/Resources/MenuBarIcon.png"),
                  "PNG");
}

QIcon StatusItem::trayIcon(bool badge) const {
    // GNOME's top bar is dark in the light style as in the dark one.
    return TrayIcon::make(glyph(), badge,
                          Desktop::isGnome() ? TrayIcon::Scheme::Dark : m_colorScheme->scheme());
}

QIcon StatusItem::icon() {
    const bool dark = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    return TrayIcon::make(glyph(), false, dark ? TrayIcon::Scheme::Dark : TrayIcon::Scheme::Light);
}

} // namespace pinlark

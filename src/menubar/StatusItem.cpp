#include "menubar/StatusItem.h"

#include "library/Dashboard.h"
#include "loginitem/LoginItem.h"
#include "menubar/ColorScheme.h"
#include "menubar/Popover.h"
#include "menubar/TrayIcon.h"
#include "menubar/XEmbedIcon.h"
#include "platform/Desktop.h"
#include "platform/Error.h"
#include "platform/Platform.h"
#include "quicksave/LinkFinder.h"
#include "quicksave/QuickSaveView.h"
#include "service/Config.h"
#include "session/Connect.h"
#include "session/Session.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QTimer>
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
    Dashboard& dashboard = Dashboard::shared();
    dashboard.load(Config::api(QStringLiteral("signin")));
    dashboard.show();
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
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] { updateMenu(m_menu.get()); });
    connect(
        m_menu.get(), &QMenu::triggered, this, [this] { updateMenu(m_menu.get()); },
        Qt::QueuedConnection);
    m_hasTray = Desktop::trayAvailable();
    if (m_hasTray || !Desktop::onWayland())
        makeTray(QGuiApplication::platformName() == QLatin1String("xcb") || m_hasTray);
    watchTrays();

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

void StatusItem::watchTrays() {
    // An XEmbed tray manager that takes or leaves the screen: the xcb plugin's native interface
    // says so with a signal of its own, reached by name as its class is not public; other
    // platforms have no such signal. Its base class is QObject alone, so the pointer is the
    // QObject's.
    auto* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
    if (native && QGuiApplication::platformName() == QLatin1String("xcb") &&
        native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0)
        connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this,
                SLOT(updateTrayAvailability()));
    // A StatusNotifierItem watcher that starts or stops on the session bus, and a host that
    // registers with it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const QString watcherService = Desktop::statusNotifierWatcher();
        m_trayHosts = new QDBusServiceWatcher(watcherService, bus,
                                              QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_trayHosts, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &StatusItem::updateTrayAvailability);
        bus.connect(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                    QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(updateTrayAvailability()));
    }
}

void StatusItem::makeTray(bool show) {
    if (Desktop::docksIconItself()) {
        m_dock = std::make_unique<XEmbedIcon>();
        connect(m_dock.get(), &XEmbedIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    clicked(reason, QGuiApplication::queryKeyboardModifiers());
                });
        // The shell's tray may start after the app, as at login, or anew.
        connect(m_dock.get(), &XEmbedIcon::trayManagerStarted, this, [this] {
            m_dock->dock();
            updateTrayAvailability();
        });
        refreshBadge();
        if (show)
            m_dock->dock();
        return;
    }
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // The tray does not pass the click's modifiers on; ask for them as they are now.
                clicked(reason, QGuiApplication::queryKeyboardModifiers());
            });
    refreshBadge();
    if (show)
        m_tray->show();
}

void StatusItem::updateTrayAvailability() {
    const bool available = Desktop::trayAvailable();
    if (available == m_hasTray)
        return;
    m_hasTray = available;
    // Qt chooses between a StatusNotifierItem host and the XEmbed tray when the icon is made.
    // Outside X11 only a host can show it: the icon is made anew each time one comes.
    if (available && QGuiApplication::platformName() != QLatin1String("xcb"))
        makeTray(true);
    Q_EMIT trayAvailabilityChanged(available);
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
    else if (const QRect icon = iconGeometry(); !icon.isEmpty())
        m_popover->showAt(icon, Desktop::throughXwayland());
    else if (Desktop::onWayland())
        m_popover->showAsWindow();
    else
        m_popover->showAt(QRect(QCursor::pos(), QSize(1, 1)));
}

QRect StatusItem::iconGeometry() const {
    if (m_dock)
        return m_dock->globalGeometry();
    return m_tray ? m_tray->geometry() : QRect();
}

void StatusItem::closePopover() {
    m_popover->hide();
}

void StatusItem::showPopoverWithText(const QString& text) {
    showPopover();
    m_model->setUrl(text);
}

namespace {

QCoro::Task<> notify(QPointer<StatusItem> item, NotificationRequest request,
                     std::function<void()> instead) {
    try {
        co_await Platform::notifications().addIfAllowed(std::move(request));
    } catch (const Error&) {
        if (item)
            instead();
    }
}

} // namespace

void StatusItem::tell(const QString& title, const QString& body) {
    const auto tooltip = [this, title, body] {
        const QString tip = defaultToolTip() + QStringLiteral("\n") + title +
                            (body.isEmpty() ? QString() : QStringLiteral(": ") + body);
        if (m_tray)
            m_tray->setToolTip(tip);
        if (m_dock)
            m_dock->setToolTip(tip);
    };
    if (!Platform::bundle().identifier()) {
        tooltip();
        return;
    }
    notify(QPointer<StatusItem>(this),
           NotificationRequest{QStringLiteral("save-clipboard"), title, body, {}}, tooltip);
}

void StatusItem::saveClipboard() {
    const QString text = Platform::pasteboard().string().value_or(QString());
    const FoundLinks found = findLinks(text);
    const QString nothing = QStringLiteral("Nothing saved");
    if (found.cut) {
        tell(nothing, QStringLiteral("The clipboard holds more than Pinlark reads at once (%L1 "
                                     "characters). Copy fewer links.")
                          .arg(FoundLinks::maxText));
        return;
    }
    if (found.count == 0) {
        tell(nothing, text.trimmed().isEmpty()
                          ? QStringLiteral("The clipboard is empty.")
                          : QStringLiteral("The clipboard holds no http or https link."));
        return;
    }
    if (found.tooMany()) {
        tell(nothing, QStringLiteral("The clipboard holds %1 links: at most %2 go in one save.")
                          .arg(found.count)
                          .arg(FoundLinks::maxLinks));
        return;
    }
    const QString first = found.links.first();
    const QPointer<StatusItem> self(this);
    const bool started = m_model->saveLinks(found.links, [self, first](const phase::Many& many) {
        if (!self)
            return;
        if (many.signedOut) {
            self->tell(QStringLiteral("Sign in to save"),
                       QStringLiteral("Pinlark keeps the link until you sign in."));
        } else if (many.total == 1) {
            self->tell(many.failed ? QStringLiteral("Pinlark couldn't save the link")
                                   : many.line(),
                       many.failed ? first + QStringLiteral("\n") + many.failure
                       : many.queued
                           ? first + QStringLiteral("\nIt goes to your library when you're "
                                                    "back online.")
                           : first);
        } else {
            self->tell(many.failed ? QStringLiteral("Not every link could be saved")
                                   : QStringLiteral("Links saved"),
                       many.line());
        }
    });
    if (!started)
        tell(nothing, QStringLiteral("A save is under way; try again once it has ended."));
}

void StatusItem::saveCopiedLink() {
    saveClipboard();
}

void StatusItem::showMenu() {
    // On the XEmbed tray Qt has opened it already for a right click.
    if (m_menu->isVisible())
        return;
    const QRect icon = iconGeometry();
    const QPoint at = icon.isEmpty() ? QCursor::pos() : icon.bottomLeft() + QPoint(0, 1);
    if (!Desktop::throughXwayland()) {
        m_menu->popup(at);
        return;
    }
    // Through Xwayland a pop-up opened while a Wayland window has the keyboard closes at once,
    // and which has it is not always known: a window of one pixel at the menu's corner takes the
    // keyboard first, for as long as the menu is open.
    if (!m_menuHost) {
        m_menuHost = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
        m_menuHost->setAttribute(Qt::WA_TranslucentBackground);
        m_menuHost->setFixedSize(1, 1);
        m_menuHost->winId(); // its window, to watch
        // Once what the menu's row opens has asked for the keyboard, while the app holds it.
        connect(m_menu.get(), &QMenu::aboutToHide, m_menuHost.get(),
                [this] { QTimer::singleShot(0, m_menuHost.get(), &QWidget::hide); });
        connect(m_menuHost->windowHandle(), &QWindow::activeChanged, this, [this] {
            if (m_menuHost->windowHandle()->isActive() && m_menuHost->isVisible() &&
                !m_menu->isVisible() && std::exchange(m_menuWanted, false))
                m_menu->popup(m_menuHost->pos());
        });
    }
    m_menuWanted = true;
    m_menuHost->move(at);
    m_menuHost->show();
    m_menuHost->activateWindow();
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
    // Either is made later, with the badge of its time.
    if (m_tray) {
        m_tray->setIcon(icon);
        m_tray->setToolTip(tip);
    }
    if (m_dock) {
        m_dock->setIcon(icon);
        m_dock->setToolTip(tip);
    }
}

void StatusItem::openLibrary() {
    Dashboard::shared().show();
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

#include "quicksave/ShortcutFooter.h"

#include "platform/Error.h"
#include "platform/Platform.h"
#include "platform/linux/GnomeShortcuts.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/Symbol.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QToolButton>

namespace pinlark {

namespace {
constexpr int menuSymbolSize = 16;
} // namespace

// A text-only button in the link style, with the shortcut beside its title.
class LibraryLink : public QAbstractButton {
public:
    LibraryLink(const QString& title, const QString& shortcut, QWidget* parent)
        : QAbstractButton(parent)
        , m_shortcut(shortcut) {
        setText(title);
        setAccessibleName(title);
        setAccessibleDescription(shortcut);
        setFont(PanelStyle::font(12));
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
    }
    QString shortcut() const { return m_shortcut; }
    void setShortcut(const QString& shortcut) {
        m_shortcut = shortcut;
        setAccessibleDescription(shortcut);
        updateGeometry();
        update();
    }

    QSize sizeHint() const override {
        const QFontMetrics m = fontMetrics();
        return {m.horizontalAdvance(text()) + spacing + m.horizontalAdvance(m_shortcut) + 2,
                m.height() + 2};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics m = fontMetrics();
        QColor title = PanelStyle::accent(palette());
        if (isDown())
            title.setAlphaF(0.6);
        const int baseline = 1 + m.ascent();
        painter.setPen(title);
        painter.drawText(1, baseline, text());
        painter.setPen(PanelStyle::tertiary(palette()));
        painter.drawText(1 + m.horizontalAdvance(text()) + spacing, baseline, m_shortcut);
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }

private:
    static constexpr int spacing = 5;
    QString m_shortcut;
};

ShortcutFooter::ShortcutFooter(QWidget* parent)
    : QWidget(parent) {
    constexpr int inset = PanelStyle::inset;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(inset, 9, inset, 9);
    row->setSpacing(0);

    m_openLibrary = new LibraryLink(QStringLiteral("Open library"), keysText(), this);
    m_openLibrary->setObjectName(QStringLiteral("openLibrary"));
    row->addWidget(m_openLibrary, 0, Qt::AlignVCenter);
    // Where no shortcut is registered, the footer says how to make one instead of naming keys.
    m_setShortcut = new LibraryLink(QStringLiteral("Set a shortcut\u2026"), QString(), this);
    m_setShortcut->setObjectName(QStringLiteral("setShortcut"));
    row->addSpacing(inset);
    row->addWidget(m_setShortcut, 0, Qt::AlignVCenter);
    showShortcut();
    row->addStretch(1);

    m_menu = new QMenu(this);
    m_menuButton = new QToolButton(this);
    m_menuButton->setObjectName(QStringLiteral("menuButton"));
    m_menuButton->setAccessibleName(QStringLiteral("More"));
    m_menuButton->setMenu(m_menu);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setAutoRaise(true);
    m_menuButton->setFocusPolicy(Qt::StrongFocus);
    m_menuButton->setFixedWidth(24);
    m_menuButton->setIconSize(QSize(menuSymbolSize, menuSymbolSize));
    m_menuButton->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; padding: 0; } QToolButton::menu-indicator { image: none; "
        "width: 0; }"));
    row->addWidget(m_menuButton, 0, Qt::AlignVCenter);
}

QAbstractButton* ShortcutFooter::openLibraryButton() const {
    return m_openLibrary;
}

QAbstractButton* ShortcutFooter::setShortcutButton() const {
    return m_setShortcut;
}

void ShortcutFooter::updateColors() {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(Symbol::pixmap(QStringLiteral("ellipsis.circle"),
                                      QSize(menuSymbolSize, menuSymbolSize),
                                      PanelStyle::secondary(palette()), ratio));
    m_menuButton->setIcon(icon);
}

QString ShortcutFooter::keysText() {
    return Platform::hotKeys().trigger();
}

QString ShortcutFooter::setUpText() {
    const QString program = Platform::bundle().executablePath();
    // A desktop portal that took the shortcut without keys lists it in the desktop's settings.
    const QString intro =
        desktopHoldsShortcut && desktopHoldsShortcut()
            ? QStringLiteral("The desktop holds Pinlark's shortcut but gave it no keys: "
                             "another program may use them. Give it keys in the "
                             "desktop's shortcut settings (KDE: System Settings \u2192 "
                             "Shortcuts \u2192 Pinlark), or add a custom shortcut that "
                             "runs a command:\n\n")
            : QStringLiteral("This desktop gives Pinlark no global shortcut. Add one in "
                             "its keyboard settings as a custom shortcut that runs a "
                             "command:\n\n");
    // The program quoted where a command line needs it (a copy in "~/My Apps").
    const auto command = [&program](const QString& argument) {
        return program.isEmpty() ? QStringLiteral("Pinlark ") + argument
                                 : GnomeShortcuts::commandLine(program, argument);
    };
    return intro +
           QStringLiteral(
               "%1\n    shows or hides the library\n"
               "%2\n    opens the quick-save panel\n\n"
               "GNOME: Settings \u2192 Keyboard \u2192 View and Customize Shortcuts \u2192 "
               "Custom Shortcuts.\n"
               "KDE: System Settings \u2192 Shortcuts \u2192 Add New \u2192 Command or Script.")
               .arg(command(QStringLiteral("--toggle-library")),
                    command(QStringLiteral("--quick-save")));
}

void ShortcutFooter::showShortcut() {
    const QString keys = keysText();
    m_openLibrary->setShortcut(keys);
    m_setShortcut->setVisible(keys.isEmpty());
}

void ShortcutFooter::explainShortcut() {
    HotKeyService& service = Platform::hotKeys();
    if (const QString keys = service.offer(); !keys.isEmpty()) {
        const QString saveKeys = service.saveOffer();
        const QString where = QStringLiteral(
            "No other shortcut changes. You can change or remove %1 in Settings \u2192 Keyboard "
            "\u2192 View and Customize Shortcuts \u2192 Custom Shortcuts.");
        const int answer = Platform::alerts().run(
            saveKeys.isEmpty()
                ? Alert{QStringLiteral("Add %1 to GNOME's shortcuts?").arg(keys),
                        QStringLiteral("Pinlark can add a custom shortcut to GNOME's keyboard "
                                       "settings: %1 shows or hides the library. ")
                                .arg(keys) +
                            where.arg(QStringLiteral("it")),
                        {QStringLiteral("Add Shortcut"), QStringLiteral("Cancel")}}
                : Alert{QStringLiteral("Add %1 and %2 to GNOME's shortcuts?").arg(keys, saveKeys),
                        QStringLiteral("Pinlark can add two custom shortcuts to GNOME's keyboard "
                                       "settings: %1 shows or hides the library, and %2 saves "
                                       "the copied link without opening anything. ")
                                .arg(keys, saveKeys) +
                            where.arg(QStringLiteral("them")),
                        {QStringLiteral("Add Shortcuts"), QStringLiteral("Cancel")}});
        if (answer != 0)
            return;
        try {
            service.acceptOffer();
            showShortcut();
            return;
        } catch (const Error& e) {
            Platform::alerts().run(
                Alert{QStringLiteral("Pinlark couldn't add the shortcut"),
                      e.localizedDescription() + QStringLiteral(".\n\n") + setUpText(),
                      {QStringLiteral("OK")}});
            return;
        }
    }
    Platform::alerts().run(
        Alert{QStringLiteral("Set a shortcut for Pinlark"), setUpText(), {QStringLiteral("OK")}});
}

} // namespace pinlark

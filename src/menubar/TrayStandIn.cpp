#include "menubar/TrayStandIn.h"

#include "menubar/StatusItem.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

namespace pinlark {

TrayStandIn::TrayStandIn(StatusItem& item, QMenuBar* bar)
    : m_item(item)
    , m_button(new QToolButton(bar))
    , m_menu(new QMenu(QStringLiteral("File"), bar)) {
    m_button->setText(QStringLiteral("Quick Save"));
    m_button->setIcon(StatusItem::icon());
    m_button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_button->setAutoRaise(true);
    m_button->setToolTip(StatusItem::defaultToolTip());
    // A click while the panel is open only closes it: the panel takes the click outside it. The
    // menu's Quick Save opens it under the button too.
    connect(m_button, &QToolButton::clicked, this,
            [this] { m_item.showPopover(std::nullopt, m_button); });
    bar->setCornerWidget(m_button, Qt::TopRightCorner);

    // Right after the application menu.
    const QList<QAction*> menus = bar->actions();
    bar->insertMenu(menus.value(1), m_menu);
    m_item.setUpMenu(m_menu, m_button);
    // The application menu's "Quit Pinlark" holds the key in this window: two actions on one
    // key would leave it doing nothing.
    for (QAction* row : m_menu->actions()) {
        if (row->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q))
            row->setShortcut({});
    }
    connect(m_menu, &QMenu::aboutToShow, this, [this] { m_item.updateMenu(m_menu); });

    follow(m_item.hasTray());
    connect(&m_item, &StatusItem::trayAvailabilityChanged, this, &TrayStandIn::follow);
}

TrayStandIn::~TrayStandIn() {
    delete m_button;
    delete m_menu;
}

void TrayStandIn::follow(bool hasTray) {
    m_button->setVisible(!hasTray);
    m_menu->menuAction()->setVisible(!hasTray);
}

} // namespace pinlark

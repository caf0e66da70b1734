#include "quicksave/QuickSaveView.h"

#include "library/LibraryWindow.h"
#include "loginitem/LoginItem.h"
#include "platform/Platform.h"
#include "quicksave/ClampedLabel.h"
#include "quicksave/ForeignQuestion.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/RecentList.h"
#include "quicksave/RecentRow.h"
#include "quicksave/SaveStatus.h"
#include "quicksave/ShortcutFooter.h"
#include "service/Config.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace pinlark {

namespace {

constexpr int inset = PanelStyle::inset;

const QString fieldPlaceholder = QStringLiteral("Paste a link to save");

// The small indeterminate progress indicator: spokes turning once a second.
class BusyIndicator : public QWidget {
public:
    explicit BusyIndicator(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(16, 16);
        setAccessibleName(QStringLiteral("Saving"));
        m_turn.setStartValue(0.0);
        m_turn.setEndValue(1.0);
        m_turn.setDuration(1000);
        m_turn.setLoopCount(-1);
        QObject::connect(&m_turn, &QVariantAnimation::valueChanged, this, [this] { update(); });
    }

protected:
    void showEvent(QShowEvent*) override { m_turn.start(); }
    void hideEvent(QHideEvent*) override { m_turn.stop(); }
    void paintEvent(QPaintEvent*) override {
        constexpr int spokes = 8;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const int head = int(m_turn.currentValue().toDouble() * spokes);
        // The button is disabled meanwhile; the indicator keeps the active text colour.
        QColor color = palette().color(QPalette::Active, QPalette::WindowText);
        for (int i = 0; i < spokes; ++i) {
            const int age = (head - i + spokes) % spokes;
            color.setAlphaF(1.0 - 0.8 * age / spokes);
            painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
            painter.save();
            painter.rotate(360.0 * i / spokes);
            painter.drawLine(QPointF(0, -3.4), QPointF(0, -6.6));
            painter.restore();
        }
    }

private:
    QVariantAnimation m_turn;
};

// A horizontal hairline across the panel.
class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent) {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), PanelStyle::separator(palette()));
    }
};

// Trims spaces and tabs at both ends, but not line breaks.
QString trimmedOfSpaces(const QString& text) {
    const auto isSpace = [](QChar c) {
        return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
    };
    qsizetype start = 0, end = text.size();
    while (start < end && isSpace(text[start]))
        ++start;
    while (end > start && isSpace(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

QCoro::Task<> signOutTask(QPointer<QuickSaveModel> model, QuickSaveView::Library library) {
    // Awaited as a statement of its own: behind && GCC 12 leaks the coroutine's frame.
    if (model) {
        const bool signedOut = co_await model->signOut();
        if (!signedOut)
            co_return;
    }
    library.load(Config::api(QStringLiteral("signin")));
    if (model)
        co_await model->loadRecent();
}

} // namespace

QuickSaveView::Library QuickSaveView::Library::dashboard() {
    return {
        [] { LibraryWindow::show(); },
        [] { LibraryWindow::reload(); },
        [](const QUrl& url) { LibraryWindow::load(url); },
    };
}

QString QuickSaveView::libraryShortcutText() {
    return ShortcutFooter::keysText();
}

QMenu* QuickSaveView::menu() const {
    return m_footer->menu();
}

QuickSaveView::QuickSaveView(QuickSaveModel& model, Library library, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_library(std::move(library)) {
    setFixedWidth(panelWidth);
    build();
    updateColors();
    connect(&m_model, &QuickSaveModel::urlChanged, this, &QuickSaveView::showUrl);
    connect(&m_model, &QuickSaveModel::phaseChanged, this, &QuickSaveView::showPhase);
    connect(&m_model, &QuickSaveModel::recentChanged, this, &QuickSaveView::showRecent);
    showUrl();
    showPhase();
    showRecent();
}

void QuickSaveView::build() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildField());
    m_status = new SaveStatus(m_model, this);
    layout->addWidget(m_status);
    m_question = new ForeignQuestion(m_model, this);
    layout->addWidget(m_question);
    layout->addWidget(new Divider(this));
    m_recent = new RecentList(this);
    layout->addWidget(m_recent);
    layout->addWidget(new Divider(this));
    layout->addWidget(buildFooter());
}

QWidget* QuickSaveView::buildField() {
    auto* outer = new QWidget(this);
    auto* column = new QVBoxLayout(outer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* box = new QWidget(outer);
    column->addWidget(box);
    auto* foundBox = new QWidget(outer);
    auto* foundLayout = new QVBoxLayout(foundBox);
    foundLayout->setContentsMargins(inset, 0, inset, 10);
    m_foundText = new ClampedLabel(3, foundBox);
    m_foundText->setObjectName(QStringLiteral("foundText"));
    m_foundText->setFont(PanelStyle::font(11));
    m_foundText->setTint(PanelStyle::secondary);
    foundLayout->addWidget(m_foundText);
    column->addWidget(foundBox);
    foundBox->hide();
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(inset, inset, inset, inset);
    row->setSpacing(8);

    m_field = new QLineEdit(box);
    m_field->setObjectName(QStringLiteral("field"));
    m_field->setMaxLength(QuickSaveModel::maxFieldLength);
    m_field->setPlaceholderText(fieldPlaceholder);
    m_field->setAccessibleName(QStringLiteral("Link"));
    m_field->setClearButtonEnabled(false);
    connect(m_field, &QLineEdit::textEdited, &m_model, &QuickSaveModel::setUrl);
    connect(m_field, &QLineEdit::returnPressed, &m_model, &QuickSaveModel::save);
    row->addWidget(m_field, 1, Qt::AlignVCenter);

    m_save = new QPushButton(QStringLiteral("Save"), box);
    m_save->setObjectName(QStringLiteral("save"));
    m_save->setAccessibleName(QStringLiteral("Save"));
    m_save->setAutoDefault(false);
    m_save->setFixedWidth(
        std::max(56, m_save->fontMetrics().horizontalAdvance(m_save->text()) + 24));
    connect(m_save, &QPushButton::clicked, &m_model, &QuickSaveModel::save);
    auto* inside = new QHBoxLayout(m_save);
    inside->setContentsMargins(0, 0, 0, 0);
    m_busy = new BusyIndicator(m_save);
    m_busy->setObjectName(QStringLiteral("busy"));
    m_busy->hide();
    inside->addWidget(m_busy, 0, Qt::AlignCenter);
    row->addWidget(m_save, 0, Qt::AlignVCenter);
    return outer;
}

QWidget* QuickSaveView::buildFooter() {
    m_footer = new ShortcutFooter(this);
    connect(m_footer->openLibraryButton(), &QAbstractButton::clicked, this,
            &QuickSaveView::openLibrary);
    connect(m_footer->setShortcutButton(), &QAbstractButton::clicked, this,
            &QuickSaveView::explainShortcut);
    connect(m_footer->menu(), &QMenu::aboutToShow, this, &QuickSaveView::fillMenu);
    return m_footer;
}

void QuickSaveView::updateColors() {
    // The Save button is filled with the accent colour while it can be pressed.
    QPalette prominent = m_save->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, PanelStyle::accent(palette()));
        prominent.setColor(group, QPalette::ButtonText,
                           palette().color(QPalette::Active, QPalette::HighlightedText));
    }
    m_save->setPalette(prominent);

    m_footer->updateColors();
}

void QuickSaveView::fillMenu() {
    QMenu* menu = m_footer->menu();
    menu->clear();
    menu->addAction(QStringLiteral("Reload library"), this, &QuickSaveView::reloadLibrary);
    // The platform's registration, read afresh: not the stored wish, which may have failed.
    QAction* login = menu->addAction(QStringLiteral("Open at login"));
    login->setCheckable(true);
    login->setChecked(Platform::loginItems().status() == LoginItemService::Status::Enabled);
    connect(login, &QAction::triggered, this, [](bool on) { LoginItem::set(on); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Sign out"), this, &QuickSaveView::signOut);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit Pinlark"), this, &QuickSaveView::quit);
}

namespace {

// Under the field when it holds several links: "3 links", the ones left out, or why none goes.
QString foundLine(const FoundLinks& found) {
    if (found.cut)
        return QStringLiteral("That text is too long: Pinlark reads at most %L1 characters at "
                              "once. Paste fewer links.")
            .arg(FoundLinks::maxText);
    if (found.tooMany())
        return QStringLiteral("%1 links: at most %2 go in one save. Remove some to save them.")
            .arg(found.count)
            .arg(FoundLinks::maxLinks);
    QString line = QStringLiteral("%1 links, each saved once, in order").arg(found.count);
    if (found.leftOut == 1)
        line += QStringLiteral("; 1 word that isn't an http(s) link is left out");
    else if (found.leftOut > 1)
        line += QStringLiteral("; %1 words that aren't http(s) links are left out")
                    .arg(found.leftOut);
    return line + QLatin1Char('.');
}

} // namespace

void QuickSaveView::showUrl() {
    const QString url = m_model.url();
    if (m_field->text() != url)
        m_field->setText(url);
    const Phase& phase = m_model.phase();
    const auto* many = std::get_if<phase::Many>(&phase);
    const bool saving = std::holds_alternative<phase::Saving>(phase) || (many && many->running);
    const FoundLinks& found = m_model.found();
    const bool several = m_model.holdsMany();
    const QString title = saving                             ? QString()
                          : several && !found.tooMany() && !found.cut
                              ? QStringLiteral("Save %1 links").arg(found.count)
                              : QStringLiteral("Save");
    if (m_save->text() != title) {
        m_save->setText(title);
        m_save->setFixedWidth(std::max(56, m_save->fontMetrics().horizontalAdvance(
                                               saving ? QStringLiteral("Save") : title) +
                                               24));
    }
    m_save->setEnabled(!saving && !trimmedOfSpaces(url).isEmpty() &&
                       !(several && (found.tooMany() || found.cut)));
    if (several)
        m_foundText->setText(foundLine(found));
    m_foundText->parentWidget()->setVisible(several);
}

void QuickSaveView::showPhase() {
    const Phase& phase = m_model.phase();
    const auto* many = std::get_if<phase::Many>(&phase);
    const bool saving = std::holds_alternative<phase::Saving>(phase) || (many && many->running);
    m_busy->setVisible(saving);
    showUrl();
    m_status->showPhase(phase);
    const bool signedOut = std::holds_alternative<phase::SignedOut>(phase);
    m_recent->setEmptyText(signedOut
                               ? QStringLiteral("Your saves appear here once you're signed in.")
                               : QStringLiteral("Nothing saved yet."));
}

void QuickSaveView::showRecent() {
    // Links waiting in the outbox come first, the saves fill the list up to its length.
    m_recent->setRows(m_model.waiting(), m_model.recent());
    m_question->refresh();
    updateTabOrder();
}

void QuickSaveView::updateTabOrder() {
    QList<QWidget*> chain{m_field, m_save, m_status->signInButton()};
    for (RecentRow* row : m_recent->rows())
        chain.append(row);
    chain << m_footer->openLibraryButton() << m_footer->setShortcutButton()
          << m_footer->menuButton();
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void QuickSaveView::focusField() {
    m_field->setFocus(Qt::PopupFocusReason);
}

void QuickSaveView::openLibrary() {
    m_model.dismiss();
    m_library.show();
}

void QuickSaveView::reloadLibrary() {
    m_library.reloadFromOrigin();
}

void QuickSaveView::signOut() {
    // Not tracked: it runs to its end even if the panel closes meanwhile.
    signOutTask(QPointer<QuickSaveModel>(&m_model), m_library);
}

void QuickSaveView::quit() {
    // Ends the event loop at once, as terminating the app does; quit() would first ask every
    // window to close, and the library window turns a close into hiding.
    QCoreApplication::exit(0);
}

QSize QuickSaveView::sizeHint() const {
    const int height = heightForWidth(panelWidth);
    return {panelWidth, height >= 0 ? height : QWidget::sizeHint().height()};
}

bool QuickSaveView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        // The content changed height: tell the host, or size the window when shown on its own.
        updateGeometry();
        if (isWindow())
            resize(sizeHint());
    } else if (event->type() == QEvent::PaletteChange) {
        updateColors();
    }
    return handled;
}

void QuickSaveView::explainShortcut() {
    m_model.dismiss();
    m_footer->explainShortcut();
}

void QuickSaveView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_footer->showShortcut();
    focusField();
}

void QuickSaveView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        m_model.dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace pinlark

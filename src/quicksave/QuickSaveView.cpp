#include "quicksave/QuickSaveView.h"

#include "library/Dashboard.h"
#include "loginitem/LoginItem.h"
#include "menubar/Hotkey.h"
#include "platform/Error.h"
#include "platform/Platform.h"
#include "quicksave/ClampedLabel.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/RecentRow.h"
#include "quicksave/Symbol.h"
#include "service/Config.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace pinlark {

namespace {

constexpr int inset = 12;
constexpr int symbolSize = 14;
constexpr int menuSymbolSize = 16;

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

// A row of a symbol beside text, the symbol centred on the text's first line.
QHBoxLayout* symbolRow(QWidget* owner, Symbol* symbol, QWidget* text, const QFont& firstLine) {
    auto* row = new QHBoxLayout(owner);
    row->setContentsMargins(inset, 0, inset, 10);
    row->setSpacing(6);
    const QFontMetrics m(firstLine);
    const int offset = m.ascent() - m.capHeight() / 2 - symbolSize / 2;
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, std::max(0, offset), 0, 0);
    column->addWidget(symbol);
    column->addStretch();
    row->addLayout(column);
    auto* textColumn = new QVBoxLayout;
    textColumn->setContentsMargins(0, std::max(0, -offset), 0, 0);
    textColumn->addWidget(text);
    row->addLayout(textColumn, 1);
    return row;
}

// A one-message status line: a symbol and up to three lines of secondary text.
QWidget* note(QWidget* parent, const QString& name, ClampedLabel** text, Symbol** symbol) {
    auto* box = new QWidget(parent);
    box->setObjectName(name);
    *symbol = new Symbol(symbolSize, box);
    (*symbol)->setObjectName(name + QStringLiteral("Symbol"));
    *text = new ClampedLabel(3, box);
    (*text)->setObjectName(name + QStringLiteral("Text"));
    (*text)->setFont(PanelStyle::font(11));
    (*text)->setTint(PanelStyle::secondary);
    symbolRow(box, *symbol, *text, (*text)->font());
    return box;
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
        [] { Dashboard::shared().show(); },
        [] {
            Dashboard::shared().webView()->triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
        },
        [](const QUrl& url) { Dashboard::shared().load(url); },
    };
}

QString QuickSaveView::libraryShortcutText() {
    return Hotkey::text();
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
    layout->addWidget(buildStatus());
    layout->addWidget(buildQuestion());
    layout->addWidget(new Divider(this));
    layout->addWidget(buildRecent());
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

QWidget* QuickSaveView::buildQuestion() {
    m_question = new QWidget(this);
    m_question->setObjectName(QStringLiteral("question"));
    auto* block = new QVBoxLayout(m_question);
    block->setContentsMargins(0, 0, 0, 10);
    block->setSpacing(8);
    Symbol* symbol = nullptr;
    block->addWidget(note(m_question, QStringLiteral("questionNote"), &m_questionText, &symbol));
    m_questionText->setMaxLines(0);
    symbol->setName(QStringLiteral("person.crop.circle"));
    symbol->setTint(PanelStyle::secondary);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(inset, 0, inset, 0);
    const auto button = [&](const QString& title, void (QuickSaveModel::*answer)()) {
        auto* b = new QPushButton(title, m_question);
        b->setAutoDefault(false);
        b->setFont(PanelStyle::font(11));
        connect(b, &QPushButton::clicked, &m_model, answer);
        buttons->addWidget(b, 0, Qt::AlignLeft);
    };
    button(QStringLiteral("Send"), &QuickSaveModel::sendForeign);
    button(QStringLiteral("Discard"), &QuickSaveModel::discardForeign);
    buttons->addStretch();
    block->addLayout(buttons);
    return m_question;
}

void QuickSaveView::showQuestion() {
    // Links saved under another sign-in wait for the user's word; none goes before it.
    const QStringList links = m_model.foreign();
    m_question->setVisible(!links.isEmpty());
    if (links.isEmpty())
        return;
    constexpr int listed = 3;
    QString text =
        links.size() == 1
            ? QStringLiteral("Send the link saved before to this account?")
            : QStringLiteral("Send the %1 links saved before to this account?").arg(links.size());
    for (const QString& link : links.mid(0, listed))
        text += QLatin1Char('\n') + link;
    if (links.size() > listed)
        text += QStringLiteral("\nand %1 more").arg(links.size() - listed);
    m_questionText->setText(text);
}

QWidget* QuickSaveView::buildStatus() {
    m_status = new QWidget(this);
    m_status->setObjectName(QStringLiteral("status"));
    auto* layout = new QVBoxLayout(m_status);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The saved line: symbol, title and two lines of detail.
    m_savedLine = new QWidget(m_status);
    m_savedLine->setObjectName(QStringLiteral("savedLine"));
    m_savedSymbol = new Symbol(symbolSize, m_savedLine);
    m_savedSymbol->setObjectName(QStringLiteral("savedSymbol"));
    auto* texts = new QWidget(m_savedLine);
    auto* column = new QVBoxLayout(texts);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* title = m_savedTitle = new QLabel(texts);
    title->setObjectName(QStringLiteral("savedTitle"));
    title->setFont(PanelStyle::font(12, QFont::DemiBold));
    m_savedDetail = new ClampedLabel(2, texts);
    m_savedDetail->setObjectName(QStringLiteral("savedDetail"));
    m_savedDetail->setFont(PanelStyle::font(11));
    m_savedDetail->setTint(PanelStyle::secondary);
    column->addWidget(title);
    column->addWidget(m_savedDetail);
    symbolRow(m_savedLine, m_savedSymbol, texts, title->font());
    layout->addWidget(m_savedLine);

    Symbol* failedSymbol = nullptr;
    m_failedNote = note(m_status, QStringLiteral("failedNote"), &m_failedText, &failedSymbol);
    failedSymbol->setName(QStringLiteral("exclamationmark.circle.fill"));
    failedSymbol->setTint(PanelStyle::orange);
    layout->addWidget(m_failedNote);

    // Signed out: a note and the Sign in button.
    m_signInBlock = new QWidget(m_status);
    m_signInBlock->setObjectName(QStringLiteral("signInBlock"));
    auto* block = new QVBoxLayout(m_signInBlock);
    block->setContentsMargins(0, 0, 0, 10);
    block->setSpacing(8);
    ClampedLabel* signInText = nullptr;
    Symbol* signInSymbol = nullptr;
    block->addWidget(note(m_signInBlock, QStringLiteral("signInNote"), &signInText, &signInSymbol));
    signInText->setText(QStringLiteral("Sign in to save."));
    signInSymbol->setName(QStringLiteral("person.crop.circle"));
    signInSymbol->setTint(PanelStyle::secondary);
    m_signIn = new QPushButton(QStringLiteral("Sign in"), m_signInBlock);
    m_signIn->setObjectName(QStringLiteral("signIn"));
    m_signIn->setAutoDefault(false);
    m_signIn->setFont(PanelStyle::font(11));
    connect(m_signIn, &QPushButton::clicked, &m_model, &QuickSaveModel::signIn);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(inset, 0, inset, 0);
    buttonRow->addWidget(m_signIn, 0, Qt::AlignLeft);
    block->addLayout(buttonRow);
    layout->addWidget(m_signInBlock);
    return m_status;
}

QWidget* QuickSaveView::buildRecent() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_recentList = new QWidget(box);
    m_recentList->setObjectName(QStringLiteral("recentList"));
    m_rowsLayout = new QVBoxLayout(m_recentList);
    m_rowsLayout->setContentsMargins(0, 4, 0, 4);
    m_rowsLayout->setSpacing(0);
    layout->addWidget(m_recentList);

    m_emptyBox = new QWidget(box);
    auto* empty = new QVBoxLayout(m_emptyBox);
    empty->setContentsMargins(inset, inset, inset, inset);
    m_emptyText = new ClampedLabel(0, m_emptyBox);
    m_emptyText->setObjectName(QStringLiteral("emptyText"));
    m_emptyText->setFont(PanelStyle::font(11));
    m_emptyText->setTint(PanelStyle::secondary);
    empty->addWidget(m_emptyText);
    layout->addWidget(m_emptyBox);
    return box;
}

QWidget* QuickSaveView::buildFooter() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(inset, 9, inset, 9);
    row->setSpacing(0);

    auto* link = new LibraryLink(QStringLiteral("Open library"), libraryShortcutText(), box);
    link->setObjectName(QStringLiteral("openLibrary"));
    connect(link, &QAbstractButton::clicked, this, &QuickSaveView::openLibrary);
    m_openLibrary = link;
    row->addWidget(link, 0, Qt::AlignVCenter);
    // Where no shortcut is registered, the footer says how to make one instead of naming keys.
    auto* setShortcut = new LibraryLink(QStringLiteral("Set a shortcut\u2026"), QString(), box);
    setShortcut->setObjectName(QStringLiteral("setShortcut"));
    connect(setShortcut, &QAbstractButton::clicked, this, &QuickSaveView::explainShortcut);
    m_setShortcut = setShortcut;
    row->addSpacing(inset);
    row->addWidget(m_setShortcut, 0, Qt::AlignVCenter);
    showShortcut();
    row->addStretch(1);

    m_menu = new QMenu(this);
    connect(m_menu, &QMenu::aboutToShow, this, &QuickSaveView::fillMenu);
    m_menuButton = new QToolButton(box);
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
    return box;
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

    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(Symbol::pixmap(QStringLiteral("ellipsis.circle"),
                                      QSize(menuSymbolSize, menuSymbolSize),
                                      PanelStyle::secondary(palette()), ratio));
    m_menuButton->setIcon(icon);
}

void QuickSaveView::fillMenu() {
    m_menu->clear();
    m_menu->addAction(QStringLiteral("Reload library"), this, &QuickSaveView::reloadLibrary);
    // The platform's registration, read afresh: not the stored wish, which may have failed.
    QAction* login = m_menu->addAction(QStringLiteral("Open at login"));
    login->setCheckable(true);
    login->setChecked(Platform::loginItems().status() == LoginItemService::Status::Enabled);
    connect(login, &QAction::triggered, this, [](bool on) { LoginItem::set(on); });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Sign out"), this, &QuickSaveView::signOut);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit Pinlark"), this, &QuickSaveView::quit);
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
    if (many) {
        const bool trouble = many->failed > 0;
        m_savedSymbol->setName(!many->running && trouble
                                   ? QStringLiteral("exclamationmark.triangle.fill")
                               : many->running || many->queued
                                   ? QStringLiteral("clock.fill")
                                   : QStringLiteral("checkmark.circle.fill"));
        m_savedSymbol->setTint(!many->running && trouble ? PanelStyle::orange
                               : many->running || many->queued ? PanelStyle::secondary
                                                               : PanelStyle::green);
        m_savedTitle->setText(many->line());
        m_savedDetail->setText(many->running ? QString()
                               : many->queued
                                   ? QStringLiteral("Those saved on this computer go to your "
                                                    "library when you're back online.")
                                   : QString());
    }

    const auto* done = std::get_if<phase::Done>(&phase);
    const auto* failed = std::get_if<phase::Failed>(&phase);
    const bool signedOut = std::holds_alternative<phase::SignedOut>(phase);
    const auto* queued = std::get_if<phase::Queued>(&phase);
    if (done) {
        const SaveRow& row = done->row;
        const bool error = row.status == QLatin1String("error");
        m_savedSymbol->setName(error ? QStringLiteral("exclamationmark.triangle.fill")
                                     : QStringLiteral("checkmark.circle.fill"));
        m_savedSymbol->setTint(error ? PanelStyle::orange : PanelStyle::green);
        m_savedTitle->setText(done->existing ? QStringLiteral("Already in your library")
                              : row.status == QLatin1String("done")
                                  ? QStringLiteral("Saved")
                                  : QStringLiteral("Saved \u2014 filing it now"));
        // An empty error text is no text: the line would be blank.
        m_savedDetail->setText(!error ? row.display()
                               : row.error && !row.error->isEmpty()
                                   ? *row.error
                                   : QStringLiteral("That one couldn't be read."));
    }
    if (queued) {
        m_savedSymbol->setName(QStringLiteral("clock.fill"));
        m_savedSymbol->setTint(PanelStyle::secondary);
        m_savedTitle->setText(QStringLiteral("Saved on this computer"));
        m_savedDetail->setText(
            queued->message.isEmpty()
                ? QStringLiteral("It goes to your library when you're back online.")
                : queued->message + QStringLiteral(" Pinlark keeps the link and sends it again."));
    }
    if (failed)
        m_failedText->setText(failed->message);
    // A batch under way has no detail line.
    m_savedDetail->setVisible(!many || !m_savedDetail->text().isEmpty());
    m_savedLine->setVisible(done || queued || many);
    m_failedNote->setVisible(failed);
    m_signInBlock->setVisible(signedOut);
    m_status->setVisible(done || queued || failed || signedOut || many);

    m_emptyText->setText(signedOut ? QStringLiteral("Your saves appear here once you're signed in.")
                                   : QStringLiteral("Nothing saved yet."));
}

void QuickSaveView::showRecent() {
    // Saved rows are matched by id, so a row under the pointer or with focus stays the same
    // widget; waiting rows take neither and are made afresh. Links waiting in the outbox come
    // first, the saves fill the list up to its length.
    QMultiHash<QString, RecentRow*> previous;
    for (RecentRow* row : std::as_const(m_rows)) {
        if (row->isWaiting())
            delete row;
        else
            previous.insert(row->row().id, row);
    }
    QList<RecentRow*> rows;
    const QList<QuickSaveModel::Waiting> waiting =
        m_model.waiting().mid(0, QuickSaveModel::recentLimit);
    for (const QuickSaveModel::Waiting& link : waiting) {
        SaveRow save;
        save.url = link.url;
        rows.append(new RecentRow(save, m_recentList, link.why));
    }
    for (const SaveRow& save :
         m_model.recent().mid(0, QuickSaveModel::recentLimit - waiting.size())) {
        RecentRow* row = previous.take(save.id);
        if (row)
            row->setRow(save);
        else
            row = new RecentRow(save, m_recentList);
        rows.append(row);
    }
    for (RecentRow* gone : std::as_const(previous))
        delete gone;
    for (RecentRow* row : std::as_const(rows))
        m_rowsLayout->removeWidget(row);
    for (RecentRow* row : std::as_const(rows)) {
        m_rowsLayout->addWidget(row);
        row->show();
    }
    m_rows = rows;
    showQuestion();
    m_recentList->setVisible(!rows.isEmpty());
    m_emptyBox->setVisible(rows.isEmpty());
    updateTabOrder();
}

void QuickSaveView::updateTabOrder() {
    QList<QWidget*> chain{m_field, m_save, m_signIn};
    for (RecentRow* row : std::as_const(m_rows))
        chain.append(row);
    chain << m_openLibrary << m_setShortcut << m_menuButton;
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

void QuickSaveView::showShortcut() {
    const QString keys = libraryShortcutText();
    static_cast<LibraryLink*>(m_openLibrary)->setShortcut(keys);
    m_setShortcut->setVisible(keys.isEmpty());
}

void QuickSaveView::explainShortcut() {
    m_model.dismiss();
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
                      e.localizedDescription() + QStringLiteral(".\n\n") + Hotkey::setUpText(),
                      {QStringLiteral("OK")}});
            return;
        }
    }
    Platform::alerts().run(Alert{
        QStringLiteral("Set a shortcut for Pinlark"), Hotkey::setUpText(), {QStringLiteral("OK")}});
}

void QuickSaveView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showShortcut();
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

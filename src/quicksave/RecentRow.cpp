#include "quicksave/RecentRow.h"

#include "platform/Platform.h"
#include "quicksave/PanelStyle.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QUrl>

namespace pinlark {

namespace {

constexpr int horizontalInset = 12;
constexpr int verticalInset = 5;
constexpr int dotSize = 5;
constexpr int dotSpacing = 8;
constexpr int lineSpacing = 1;
constexpr int titleSize = 12;
constexpr int subtitleSize = 10;

bool isSettled(const SaveRow& row) {
    return row.status == QLatin1String("done") || row.status == QLatin1String("error");
}

// A row that cannot be opened is text to assistive technology, not a button.
QAccessibleInterface* accessibleRow(const QString& key, QObject* object) {
    if (key != QLatin1String(RecentRow::staticMetaObject.className()))
        return nullptr;
    auto* row = qobject_cast<RecentRow*>(object);
    if (!row || row->isOpenable())
        return nullptr;
    return new QAccessibleWidget(row, QAccessible::StaticText);
}

QString oneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

RecentRow::RecentRow(const SaveRow& row, QWidget* parent, QString waiting)
    : QAbstractButton(parent)
    , m_waiting(std::move(waiting)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleRow);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, &RecentRow::open);
    setRow(row);
}

void RecentRow::setRow(const SaveRow& row) {
    m_row = row;
    const QString label = m_row.display();
    setText(label);
    setAccessibleName(label);
    setAccessibleDescription(subtitle().value_or(QString()));
    const bool openable = isOpenable();
    setFocusPolicy(openable ? Qt::StrongFocus : Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents, !openable);
    if (!openable)
        setHovering(false);
    updateGeometry();
    update();
}

QColor RecentRow::dotColor() const {
    const QPalette& p = palette();
    if (isWaiting())
        return PanelStyle::tertiary(p);
    if (m_row.status == QLatin1String("error"))
        return PanelStyle::orange(p);
    if (m_row.status == QLatin1String("done")) {
        QColor faded = PanelStyle::secondary(p);
        faded.setAlphaF(faded.alphaF() * 0.35);
        return faded;
    }
    return PanelStyle::accent(p);
}

std::optional<QString> RecentRow::subtitle() const {
    if (isWaiting())
        return m_waiting;
    return subtitle(m_row);
}

std::optional<QString> RecentRow::subtitle(const SaveRow& row) {
    const QStringList tags = row.tags.value_or(QStringList()).mid(0, 2);
    const QString joined = tags.join(QStringLiteral(" \u00B7 "));
    if (!joined.isEmpty())
        return joined;
    if (isSettled(row))
        return row.platform;
    return QStringLiteral("Reading it\u2026");
}

QSize RecentRow::sizeHint() const {
    int height = 2 * verticalInset + QFontMetrics(PanelStyle::font(titleSize)).height();
    if (subtitle())
        height += lineSpacing + QFontMetrics(PanelStyle::font(subtitleSize)).height();
    return {340, height};
}

void RecentRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& p = palette();
    if (m_hovering || (hasFocus() && isOpenable()))
        painter.fillRect(rect(), PanelStyle::hover(p));

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dotColor());
    painter.drawEllipse(QRectF(horizontalInset, (height() - dotSize) / 2.0, dotSize, dotSize));

    const int left = horizontalInset + dotSize + dotSpacing;
    const int textWidth = width() - left - horizontalInset;
    const QFont titleFont = PanelStyle::font(titleSize);
    const QFontMetrics titleMetrics(titleFont);
    const std::optional<QString> sub = subtitle();
    const QFontMetrics subMetrics(PanelStyle::font(subtitleSize));
    const int content = titleMetrics.height() + (sub ? lineSpacing + subMetrics.height() : 0);
    const int top = (height() - content) / 2;

    painter.setFont(titleFont);
    painter.setPen(isWaiting() ? PanelStyle::tertiary(p) : PanelStyle::primary(p));
    painter.drawText(left, top + titleMetrics.ascent(),
                     titleMetrics.elidedText(oneLine(text()), Qt::ElideRight, textWidth));
    if (sub) {
        painter.setFont(PanelStyle::font(subtitleSize));
        painter.setPen(isWaiting() ? PanelStyle::tertiary(p) : PanelStyle::secondary(p));
        painter.drawText(left, top + titleMetrics.height() + lineSpacing + subMetrics.ascent(),
                         subMetrics.elidedText(oneLine(*sub), Qt::ElideRight, textWidth));
    }
}

void RecentRow::enterEvent(QEnterEvent* event) {
    setHovering(isOpenable());
    QAbstractButton::enterEvent(event);
}

void RecentRow::leaveEvent(QEvent* event) {
    setHovering(false);
    QAbstractButton::leaveEvent(event);
}

void RecentRow::setHovering(bool hovering) {
    if (m_hovering == hovering)
        return;
    m_hovering = hovering;
    update();
}

void RecentRow::open() {
    if (!isOpenable() || !m_row.url)
        return;
    const QUrl url(*m_row.url, QUrl::StrictMode);
    if (url.isValid())
        Platform::workspace().open(url);
}

} // namespace pinlark

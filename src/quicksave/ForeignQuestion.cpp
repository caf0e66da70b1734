#include "quicksave/ForeignQuestion.h"

#include "quicksave/ClampedLabel.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/QuickSaveModel.h"
#include "quicksave/Symbol.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace pinlark {

ForeignQuestion::ForeignQuestion(QuickSaveModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    setObjectName(QStringLiteral("question"));
    auto* block = new QVBoxLayout(this);
    block->setContentsMargins(0, 0, 0, 10);
    block->setSpacing(8);
    Symbol* symbol = nullptr;
    block->addWidget(PanelStyle::note(this, QStringLiteral("questionNote"), &m_text, &symbol));
    m_text->setMaxLines(0);
    symbol->setName(QStringLiteral("person.crop.circle"));
    symbol->setTint(PanelStyle::secondary);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(PanelStyle::inset, 0, PanelStyle::inset, 0);
    const auto button = [&](const QString& title, void (QuickSaveModel::*answer)()) {
        auto* b = new QPushButton(title, this);
        b->setAutoDefault(false);
        b->setFont(PanelStyle::font(11));
        connect(b, &QPushButton::clicked, &m_model, answer);
        buttons->addWidget(b, 0, Qt::AlignLeft);
    };
    button(QStringLiteral("Send"), &QuickSaveModel::sendForeign);
    button(QStringLiteral("Discard"), &QuickSaveModel::discardForeign);
    buttons->addStretch();
    block->addLayout(buttons);
}

void ForeignQuestion::refresh() {
    const QStringList links = m_model.foreign();
    setVisible(!links.isEmpty());
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
    m_text->setText(text);
}

} // namespace pinlark

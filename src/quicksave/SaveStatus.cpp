#include "quicksave/SaveStatus.h"

#include "quicksave/ClampedLabel.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/QuickSaveModel.h"
#include "quicksave/Symbol.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pinlark {

SaveStatus::SaveStatus(QuickSaveModel& model, QWidget* parent)
    : QWidget(parent) {
    constexpr int inset = PanelStyle::inset;
    setObjectName(QStringLiteral("status"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The saved line: symbol, title and two lines of detail.
    m_savedLine = new QWidget(this);
    m_savedLine->setObjectName(QStringLiteral("savedLine"));
    m_savedSymbol = new Symbol(PanelStyle::symbolSize, m_savedLine);
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
    PanelStyle::symbolRow(m_savedLine, m_savedSymbol, texts, title->font());
    layout->addWidget(m_savedLine);

    Symbol* failedSymbol = nullptr;
    m_failedNote =
        PanelStyle::note(this, QStringLiteral("failedNote"), &m_failedText, &failedSymbol);
    failedSymbol->setName(QStringLiteral("exclamationmark.circle.fill"));
    failedSymbol->setTint(PanelStyle::orange);
    layout->addWidget(m_failedNote);

    // Signed out: a note and the Sign in button.
    m_signInBlock = new QWidget(this);
    m_signInBlock->setObjectName(QStringLiteral("signInBlock"));
    auto* block = new QVBoxLayout(m_signInBlock);
    block->setContentsMargins(0, 0, 0, 10);
    block->setSpacing(8);
    ClampedLabel* signInText = nullptr;
    Symbol* signInSymbol = nullptr;
    block->addWidget(
        PanelStyle::note(m_signInBlock, QStringLiteral("signInNote"), &signInText, &signInSymbol));
    signInText->setText(QStringLiteral("Sign in to save."));
    signInSymbol->setName(QStringLiteral("person.crop.circle"));
    signInSymbol->setTint(PanelStyle::secondary);
    m_signIn = new QPushButton(QStringLiteral("Sign in"), m_signInBlock);
    m_signIn->setObjectName(QStringLiteral("signIn"));
    m_signIn->setAutoDefault(false);
    m_signIn->setFont(PanelStyle::font(11));
    connect(m_signIn, &QPushButton::clicked, &model, &QuickSaveModel::signIn);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(inset, 0, inset, 0);
    buttonRow->addWidget(m_signIn, 0, Qt::AlignLeft);
    block->addLayout(buttonRow);
    layout->addWidget(m_signInBlock);
}

void SaveStatus::showPhase(const Phase& phase) {
    const auto* many = std::get_if<phase::Many>(&phase);
    if (many) {
        const bool trouble = many->failed > 0;
        m_savedSymbol->setName(
            !many->running && trouble       ? QStringLiteral("exclamationmark.triangle.fill")
            : many->running || many->queued ? QStringLiteral("clock.fill")
                                            : QStringLiteral("checkmark.circle.fill"));
        m_savedSymbol->setTint(!many->running && trouble       ? PanelStyle::orange
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
    setVisible(done || queued || failed || signedOut || many);
}

} // namespace pinlark

#include "quicksave/RecentList.h"

#include "quicksave/ClampedLabel.h"
#include "quicksave/PanelStyle.h"
#include "quicksave/RecentRow.h"

#include <QMultiHash>
#include <QVBoxLayout>

namespace pinlark {

RecentList::RecentList(QWidget* parent)
    : QWidget(parent) {
    constexpr int inset = PanelStyle::inset;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_list = new QWidget(this);
    m_list->setObjectName(QStringLiteral("recentList"));
    m_rowsLayout = new QVBoxLayout(m_list);
    m_rowsLayout->setContentsMargins(0, 4, 0, 4);
    m_rowsLayout->setSpacing(0);
    layout->addWidget(m_list);

    m_emptyBox = new QWidget(this);
    auto* empty = new QVBoxLayout(m_emptyBox);
    empty->setContentsMargins(inset, inset, inset, inset);
    m_emptyText = new ClampedLabel(0, m_emptyBox);
    m_emptyText->setObjectName(QStringLiteral("emptyText"));
    m_emptyText->setFont(PanelStyle::font(11));
    m_emptyText->setTint(PanelStyle::secondary);
    empty->addWidget(m_emptyText);
    layout->addWidget(m_emptyBox);
}

void RecentList::setRows(const QList<QuickSaveModel::Waiting>& waiting,
                         const QList<SaveRow>& recent) {
    QMultiHash<QString, RecentRow*> previous;
    for (RecentRow* row : std::as_const(m_rows)) {
        if (row->isWaiting())
            delete row;
        else
            previous.insert(row->row().id, row);
    }
    QList<RecentRow*> rows;
    const QList<QuickSaveModel::Waiting> listed = waiting.mid(0, QuickSaveModel::recentLimit);
    for (const QuickSaveModel::Waiting& link : listed) {
        SaveRow save;
        save.url = link.url;
        rows.append(new RecentRow(save, m_list, link.why));
    }
    for (const SaveRow& save : recent.mid(0, QuickSaveModel::recentLimit - listed.size())) {
        RecentRow* row = previous.take(save.id);
        if (row)
            row->setRow(save);
        else
            row = new RecentRow(save, m_list);
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
    m_list->setVisible(!rows.isEmpty());
    m_emptyBox->setVisible(rows.isEmpty());
}

void RecentList::setEmptyText(const QString& text) {
    m_emptyText->setText(text);
}

} // namespace pinlark

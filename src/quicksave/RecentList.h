#pragma once

#include "quicksave/QuickSaveModel.h"

#include <QList>
#include <QWidget>

class QVBoxLayout;

namespace pinlark {

class ClampedLabel;
class RecentRow;

// The panel's list of recent saves, below the links waiting in the outbox; where there are none,
// a line of text in its place.
class RecentList : public QWidget {
    Q_OBJECT
public:
    explicit RecentList(QWidget* parent);

    // Shows `waiting` first, then `recent` up to the list's length (QuickSaveModel::recentLimit).
    // Saved rows are matched by id, so a row under the pointer or with focus stays the same
    // widget; waiting rows take neither and are made afresh.
    void setRows(const QList<QuickSaveModel::Waiting>& waiting, const QList<SaveRow>& recent);
    // The rows as listed, top first.
    const QList<RecentRow*>& rows() const { return m_rows; }
    // What stands in the list's place while it is empty.
    void setEmptyText(const QString& text);

private:
    QWidget* m_list = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QList<RecentRow*> m_rows;
    QWidget* m_emptyBox = nullptr;
    ClampedLabel* m_emptyText = nullptr;
};

} // namespace pinlark

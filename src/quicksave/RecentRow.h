#pragma once

#include "service/SaveRow.h"

#include <QAbstractButton>

#include <optional>

namespace pinlark {

// One entry of the panel's recent saves: a dot for the state of the save, its label, and a
// subtitle with its tags, its source or a note that it is still being read. A row whose link
// can be opened is a button that opens it in the browser and lights up under the pointer; any
// other row neither reacts to the pointer nor takes focus. A waiting row holds a link still in
// the outbox: greyed, never openable.
class RecentRow : public QAbstractButton {
    Q_OBJECT
public:
    // `waiting`, when given, says what the link in the outbox waits for.
    explicit RecentRow(const SaveRow& row, QWidget* parent = nullptr, QString waiting = {});

    const SaveRow& row() const { return m_row; }
    // A new state of the same save (rows are identified by id).
    void setRow(const SaveRow& row);

    bool isWaiting() const { return !m_waiting.isEmpty(); }
    bool isOpenable() const { return !isWaiting() && m_row.isOpenable(); }
    bool isHovering() const { return m_hovering; }
    QColor dotColor() const;
    std::optional<QString> subtitle() const;

    // The first two tags joined with " · "; else the platform of a settled save; else a note
    // that the service is still reading it.
    static std::optional<QString> subtitle(const SaveRow& row);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void open();
    void setHovering(bool hovering);

    SaveRow m_row;
    QString m_waiting;
    bool m_hovering = false;
};

} // namespace pinlark

#pragma once

#include "quicksave/Phase.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace pinlark {

class ClampedLabel;
class QuickSaveModel;
class Symbol;

// The panel's status section, under the link field: what became of the last save (saved,
// already there, being filed, kept on this computer, a batch's progress), why it failed, or the
// request to sign in with its button. Hidden while there is nothing to say.
class SaveStatus : public QWidget {
    Q_OBJECT
public:
    SaveStatus(QuickSaveModel& model, QWidget* parent);

    // Shows what `phase` says, or hides.
    void showPhase(const Phase& phase);
    QPushButton* signInButton() const { return m_signIn; }

private:
    QWidget* m_savedLine = nullptr;
    Symbol* m_savedSymbol = nullptr;
    QLabel* m_savedTitle = nullptr;
    ClampedLabel* m_savedDetail = nullptr;
    QWidget* m_failedNote = nullptr;
    ClampedLabel* m_failedText = nullptr;
    QWidget* m_signInBlock = nullptr;
    QPushButton* m_signIn = nullptr;
};

} // namespace pinlark

#pragma once

#include <QWidget>

namespace pinlark {

class ClampedLabel;
class QuickSaveModel;

// The panel's question about links saved under another sign-in: whether they go to the account
// now signed in (Send) or not at all (Discard). None goes before the user's word; the question
// shows only while such links wait.
class ForeignQuestion : public QWidget {
    Q_OBJECT
public:
    ForeignQuestion(QuickSaveModel& model, QWidget* parent);

    // Asks about the model's links of another session, or hides where there are none.
    void refresh();

private:
    QuickSaveModel& m_model;
    ClampedLabel* m_text = nullptr;
};

} // namespace pinlark

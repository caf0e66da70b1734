#pragma once

#include "quicksave/QuickSaveModel.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLineEdit;
class QMenu;
class QPushButton;

namespace pinlark {

class ClampedLabel;
class ForeignQuestion;
class RecentList;
class SaveStatus;
class ShortcutFooter;

// The quick-save panel: the link field with its Save button, a status line about the last save
// (SaveStatus), the question about links of another sign-in (ForeignQuestion), the recent saves
// (RecentList) and a footer with the library button and a menu of app commands
// (ShortcutFooter). It holds no
// state of its own: every notification of the model redraws it from the model's url, phase and
// recent saves, and every action calls into the model or another subsystem.
//
// A host (the status item's popover) embeds the view in a window of its own and sets the
// model's dismiss callback, which the view calls to close the panel: on Escape and before
// showing the library window. The view is 340 wide; its height follows its content, announced
// through sizeHint() and updateGeometry().
class QuickSaveView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 340;

    // What the panel asks of the library window.
    struct Library {
        std::function<void()> show;
        std::function<void()> reloadFromOrigin;
        std::function<void(const QUrl&)> load;
        // The shared library window, created on first use.
        static Library dashboard();
    };

    explicit QuickSaveView(QuickSaveModel& model, Library library = Library::dashboard(),
                           QWidget* parent = nullptr);

    // Puts keyboard focus into the link field; done each time the view comes on screen.
    void focusField();

    // The footer's commands.
    void openLibrary();
    void reloadLibrary();
    // Signs out and leaves the panel open: deletes the session cookies, loads the sign-in page
    // into the library window without showing it, then refreshes the recent saves, which moves
    // the panel to its signed-out state.
    void signOut();
    void quit();

    // The footer's menu; rebuilt each time it opens.
    QMenu* menu() const;

    QSize sizeHint() const override;

    // The shortcut of the library window as the platform writes it, while one is registered;
    // else empty, and the footer offers to set one.
    static QString libraryShortcutText();
    // Opens the explanation of the desktop's own shortcut settings, closing the panel first.
    void explainShortcut();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void build();
    QWidget* buildField();
    QWidget* buildFooter();
    void fillMenu();
    // The colours that do not follow the palette by themselves.
    void updateColors();

    void showUrl();
    void showPhase();
    void showRecent();
    void updateTabOrder();

    QuickSaveModel& m_model;
    Library m_library;

    QLineEdit* m_field = nullptr;
    QPushButton* m_save = nullptr;
    QWidget* m_busy = nullptr;
    // What the field holds when it holds several links: how many, and what was left out.
    ClampedLabel* m_foundText = nullptr;

    SaveStatus* m_status = nullptr;
    ForeignQuestion* m_question = nullptr;
    RecentList* m_recent = nullptr;
    ShortcutFooter* m_footer = nullptr;
};

} // namespace pinlark

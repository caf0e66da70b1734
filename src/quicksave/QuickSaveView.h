#pragma once

#include "quicksave/QuickSaveModel.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace pinlark {

class ClampedLabel;
class RecentRow;
class Symbol;

// The quick-save panel: the link field with its Save button, a status line about the last save,
// the recent saves and a footer with the library button and a menu of app commands. It holds no
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
    QMenu* menu() const { return m_menu; }

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
    // The footer's shortcut text, or its offer to set one.
    void showShortcut();
    QWidget* buildField();
    QWidget* buildStatus();
    QWidget* buildQuestion();
    QWidget* buildRecent();
    QWidget* buildFooter();
    void fillMenu();
    // The colours that do not follow the palette by themselves.
    void updateColors();

    void showUrl();
    void showPhase();
    void showRecent();
    void showQuestion();
    void updateTabOrder();

    QuickSaveModel& m_model;
    Library m_library;

    QLineEdit* m_field = nullptr;
    QPushButton* m_save = nullptr;
    QWidget* m_busy = nullptr;
    // What the field holds when it holds several links: how many, and what was left out.
    ClampedLabel* m_foundText = nullptr;

    QWidget* m_status = nullptr;
    QWidget* m_savedLine = nullptr;
    Symbol* m_savedSymbol = nullptr;
    QLabel* m_savedTitle = nullptr;
    ClampedLabel* m_savedDetail = nullptr;
    QWidget* m_failedNote = nullptr;
    ClampedLabel* m_failedText = nullptr;
    QWidget* m_signInBlock = nullptr;
    QPushButton* m_signIn = nullptr;
    QWidget* m_question = nullptr;
    ClampedLabel* m_questionText = nullptr;

    QWidget* m_recentList = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QList<RecentRow*> m_rows;
    QWidget* m_emptyBox = nullptr;
    ClampedLabel* m_emptyText = nullptr;

    QWidget* m_openLibrary = nullptr;
    QWidget* m_setShortcut = nullptr;
    QToolButton* m_menuButton = nullptr;
    QMenu* m_menu = nullptr;
};

} // namespace pinlark

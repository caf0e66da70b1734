// Renders the quick-save panel in each phase, in a light and a dark palette, into PNG files:
//   panel_screenshots OUTPUT_FOLDER
// Run it through panel-screenshots, which starts an X server for it.
#include "QuickSaveModelAccess.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

using namespace pinlark;

namespace {

SaveRow row(const char* id, const char* status, const char* title, QStringList tags = {},
            std::optional<QString> platform = std::nullopt,
            QString url = QStringLiteral("https://example.com/a")) {
    SaveRow r;
    r.id = QString::fromUtf8(id);
    r.url = url;
    r.status = QString::fromUtf8(status);
    if (*title)
        r.title = QString::fromUtf8(title);
    r.tags = tags;
    r.platform = platform;
    return r;
}

QList<SaveRow> recentSaves() {
    return {
        row("1", "queued", "", {}, std::nullopt,
            QStringLiteral("https://www.nytimes.com/2026/12/06/x")),
        row("2", "done", "How the Qt layout system distributes space between widgets",
            {QStringLiteral("programming"), QStringLiteral("qt"), QStringLiteral("layouts")}),
        row("3", "done",
            "A very long title that goes on and on well past the width of the panel itself", {},
            QStringLiteral("YouTube")),
        row("4", "error", "Paywalled article"),
        row("5", "done", "", {}, std::nullopt, QStringLiteral("screenshot:5")),
    };
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(50, 50, 52), text(235, 235, 240), base(30, 30, 32), button(70, 70, 74);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, button.lighter(130));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::PlaceholderText, QColor(235, 235, 240, 110));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(235, 235, 240, 90));
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    return p;
}

struct Shot {
    const char* name;
    Phase phase;
    QString url;
    QList<SaveRow> recent;
    int hoveredRow = -1;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        qWarning("usage: panel_screenshots OUTPUT_FOLDER");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    FakePlatform::install();

    const QString link = QStringLiteral("https://example.com/articles/how-to-save-links");
    SaveRow filed = row("9", "done", "How to save links without losing them");
    filed.url = link;
    SaveRow queued = filed;
    queued.status = QStringLiteral("queued");
    queued.title.reset();
    SaveRow unreadable = filed;
    unreadable.status = QStringLiteral("error");
    unreadable.error =
        QStringLiteral("The page asked for a sign-in, so there was nothing to read.");
    const QString longFailure = QStringLiteral(
        "The service refused this link because the address is far too long for it to store, and "
        "it will not try again until you shorten it. Nothing was saved; your text is still in "
        "the field so that you can fix it and try again.");

    const QList<Shot> shots{
        {"1-idle-empty", phase::Idle{}, QString(), {}},
        {"2-idle-listed-hover", phase::Idle{}, link, recentSaves(), 1},
        {"3-saving", phase::Saving{}, link, recentSaves()},
        {"4-done-filing", phase::Done{queued, false}, QString(), recentSaves()},
        {"5-done-saved", phase::Done{filed, false}, QString(), recentSaves()},
        {"6-done-existing", phase::Done{filed, true}, QString(), recentSaves()},
        {"7-done-error", phase::Done{unreadable, false}, QString(), recentSaves()},
        {"8-failed", phase::Failed{longFailure}, link, recentSaves()},
        {"9-signed-out", phase::SignedOut{}, link, {}},
    };
    const QPalette light = QApplication::style()->standardPalette();
    for (const auto& [theme, palette] :
         {std::pair{"light", light}, std::pair{"dark", darkPalette()}}) {
        QApplication::setPalette(palette);
        for (const Shot& shot : shots) {
            QuickSaveModel model;
            QuickSaveModelAccess::setRecent(model, shot.recent);
            QuickSaveModelAccess::setPhase(model, shot.phase);
            model.setUrl(shot.url);
            QuickSaveView view(model);
            view.show();
            if (!QTest::qWaitForWindowExposed(&view)) {
                qWarning("the panel was not shown");
                return 1;
            }
            if (shot.hoveredRow >= 0) {
                QWidget* hovered = view.findChildren<RecentRow*>().value(shot.hoveredRow);
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                QCoreApplication::sendEvent(hovered, &enter);
            }
            QTest::qWait(50);
            const QString file = out.filePath(
                QStringLiteral("%1-%2.png").arg(QLatin1String(shot.name), QLatin1String(theme)));
            if (!view.grab().save(file)) {
                qWarning("could not write %s", qPrintable(file));
                return 1;
            }
        }
    }
    return 0;
}

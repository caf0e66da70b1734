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
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

using namespace pinlark;

namespace {

SaveRow row(const char* status, const char* title, QStringList tags = {},
            std::optional<QString> platform = {}, const char* url = "https://www.example.com/a") {
    static int ids = 0;
    const auto text = [](const char* t) {
        return *t ? std::optional<QString>(QString::fromUtf8(t)) : std::nullopt;
    };
    return {QString::number(++ids), text(url), platform,    text(status), text(title),
            std::nullopt,           tags,      std::nullopt};
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2)
        qFatal("usage: panel_screenshots OUTPUT_FOLDER");
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    FakePlatform::install();
    // Away from the panel, so that no row lights up by chance.
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight());

    const QList<SaveRow> recent{
        row("queued", "", {}, {}, "https://www.nytimes.com/2026/12/06/x"),
        row("done", "How the Qt layout system distributes space between widgets",
            {"programming", "qt", "layouts"}),
        row("done", "A very long title that goes on and on well past the width of the panel", {},
            "YouTube"),
        row("error", "Paywalled article"),
        row("done", "", {}, {}, "screenshot:5"),
    };
    const QString link = QStringLiteral("https://example.com/articles/how-to-save-links");
    const SaveRow queued = row("queued", ""), filed = row("done", "How to save links");
    SaveRow unreadable = row("error", "");
    unreadable.error =
        QStringLiteral("The page asked for a sign-in, so there was nothing to read.");
    const QString longFailure = QStringLiteral(
        "The service refused this link because the address is far too long for it to store. "
        "Nothing was saved; your text is still in the field so that you can fix it and try again.");
    struct Shot {
        const char* name;
        Phase phase;
        QString url;
        QList<SaveRow> recent;
    };
    const QList<Shot> shots{
        {"1-idle-empty", phase::Idle{}, QString(), {}},
        {"2-idle-listed-hover", phase::Idle{}, link, recent},
        {"3-saving", phase::Saving{}, link, recent},
        {"4-done-filing", phase::Done{queued, false}, QString(), recent},
        {"5-done-saved", phase::Done{filed, false}, QString(), recent},
        {"6-done-existing", phase::Done{filed, true}, QString(), recent},
        {"7-done-error", phase::Done{unreadable, false}, QString(), recent},
        {"8-failed", phase::Failed{longFailure}, link, recent},
        {"9-signed-out", phase::SignedOut{}, link, {}},
    };
    QPalette dark(QColor(70, 70, 74), QColor(50, 50, 52));
    dark.setColor(QPalette::Highlight, QColor(10, 132, 255));
    const std::pair<const char*, QPalette> themes[] = {
        {"light", QApplication::style()->standardPalette()}, {"dark", dark}};
    for (const auto& [theme, palette] : themes) {
        QApplication::setPalette(palette);
        for (const Shot& shot : shots) {
            QuickSaveModel model;
            QuickSaveModelAccess::setRecent(model, shot.recent);
            QuickSaveModelAccess::setPhase(model, shot.phase);
            model.setUrl(shot.url);
            QuickSaveView view(model);
            view.show();
            if (!QTest::qWaitForWindowExposed(&view))
                qFatal("the panel was not shown");
            if (QByteArray(shot.name).endsWith("hover")) {
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                QCoreApplication::sendEvent(view.findChildren<RecentRow*>().value(1), &enter);
            }
            QTest::qWait(50);
            const QString file = out.filePath(QStringLiteral("%1-%2.png").arg(shot.name, theme));
            if (!view.grab().save(file))
                qFatal("could not write %s", qPrintable(file));
        }
    }
    return 0;
}

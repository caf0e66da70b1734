#include "menubar/ClipboardSave.h"

#include "platform/Error.h"
#include "platform/Platform.h"
#include "quicksave/LinkFinder.h"
#include "quicksave/QuickSaveModel.h"

#include <QPointer>

namespace pinlark::ClipboardSave {

namespace {

using Tell = std::function<void(const QString& title, const QString& body)>;

QCoro::Task<> notify(NotificationRequest request, std::function<void()> instead) {
    try {
        co_await Platform::notifications().addIfAllowed(std::move(request));
    } catch (const Error&) {
        instead();
    }
}

void tell(const QString& title, const QString& body, const Tell& instead) {
    const auto fallback = [instead, title, body] { instead(title, body); };
    if (!Platform::bundle().identifier()) {
        fallback();
        return;
    }
    notify(NotificationRequest{QStringLiteral("save-clipboard"), title, body, {}}, fallback);
}

} // namespace

void start(QuickSaveModel& model, Tell instead) {
    const QString text = Platform::pasteboard().string().value_or(QString());
    const FoundLinks found = findLinks(text);
    const QString nothing = QStringLiteral("Nothing saved");
    if (found.cut) {
        tell(nothing,
             QStringLiteral("The clipboard holds more than Pinlark reads at once (%L1 "
                            "characters). Copy fewer links.")
                 .arg(FoundLinks::maxText),
             instead);
        return;
    }
    if (found.count == 0) {
        tell(nothing,
             text.trimmed().isEmpty()
                 ? QStringLiteral("The clipboard is empty.")
                 : QStringLiteral("The clipboard holds no http or https link."),
             instead);
        return;
    }
    if (found.tooMany()) {
        tell(nothing,
             QStringLiteral("The clipboard holds %1 links: at most %2 go in one save.")
                 .arg(found.count)
                 .arg(FoundLinks::maxLinks),
             instead);
        return;
    }
    const QString first = found.links.first();
    const QPointer<QuickSaveModel> alive(&model);
    const bool started =
        model.saveLinks(found.links, [alive, first, instead](const phase::Many& many) {
            if (!alive)
                return;
            if (many.signedOut) {
                tell(QStringLiteral("Sign in to save"),
                     QStringLiteral("Pinlark keeps the link until you sign in."), instead);
            } else if (many.total == 1) {
                tell(many.failed ? QStringLiteral("Pinlark couldn't save the link") : many.line(),
                     many.failed   ? first + QStringLiteral("\n") + many.failure
                     : many.queued ? first + QStringLiteral("\nIt goes to your library when you're "
                                                            "back online.")
                                   : first,
                     instead);
            } else {
                tell(many.failed ? QStringLiteral("Not every link could be saved")
                                 : QStringLiteral("Links saved"),
                     many.line(), instead);
            }
        });
    if (!started)
        tell(nothing, QStringLiteral("A save is under way; try again once it has ended."), instead);
}

} // namespace pinlark::ClipboardSave

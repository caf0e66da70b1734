#include "library/ErrorPage.h"

namespace pinlark {

namespace {

const char head[] =
    "<!doctype html><html><head>"
    "<meta name=\"color-scheme\" content=\"light dark\"><style>"
    "html{font:-apple-system-body;font-family:-apple-system,BlinkMacSystemFont,sans-serif}"
    "body{margin:0;height:100vh;display:grid;place-content:center;justify-items:center;gap:6px;"
    "text-align:center;padding:24px;color:CanvasText;background:Canvas}"
    "h1{font-size:17px;font-weight:600;margin:0}"
    "p{font-size:13px;opacity:.6;margin:0;max-width:34ch;line-height:1.5}"
    "</style></head><body><h1>Can&rsquo;t reach Pinlark</h1><p>";

const char tail[] = "</p><p>Close this window and open it again to retry.</p></body></html>";

} // namespace

std::optional<QString> ErrorPage::forFailure(int errorCode, const QString& description) {
    if (errorCode == abortedCode)
        return std::nullopt;
    return html(description);
}

QString ErrorPage::html(const QString& description) {
    return QLatin1String(head) + description.toHtmlEscaped() + QLatin1String(tail);
}

} // namespace pinlark

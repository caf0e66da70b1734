#include "app/ViewActions.h"

#include "library/Dashboard.h"

#include <QWebEnginePage>
#include <QWebEngineView>

namespace pinlark::ViewActions {

void reload() {
    Dashboard::shared().webView()->page()->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}

void goHome() {
    Dashboard::shared().load(Dashboard::homeURL());
}

void goBack() {
    Dashboard::shared().webView()->back();
}

void goForward() {
    Dashboard::shared().webView()->forward();
}

} // namespace pinlark::ViewActions

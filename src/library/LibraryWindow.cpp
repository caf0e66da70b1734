#include "library/LibraryWindow.h"

#include "platform/Alerts.h"
#include "platform/Log.h"
#include "platform/Platform.h"
#include "service/Config.h"

#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPointer>

#include <dlfcn.h>

#include <optional>

namespace pinlark::LibraryWindow {

namespace {

std::optional<Module> module;
bool unavailable = false;
QPointer<QMenuBar> pendingMenuBar;

// The module lies beside the library this code is linked into.
QString modulePath() {
    Dl_info self{};
    if (!dladdr(reinterpret_cast<void*>(&modulePath), &self) || !self.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(self.dli_fname)).absolutePath() +
           QLatin1String("/libPinlarkLibrary.so");
}

// The module, loaded on the first call; none where it can't be (said once, in an alert).
const Module* loaded() {
    if (module || unavailable)
        return module ? &*module : nullptr;
    const QString path = modulePath();
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    using Entry = const Module* (*)();
    const auto entry =
        handle ? reinterpret_cast<Entry>(dlsym(handle, "pinlark_library_module")) : nullptr;
    if (!entry) {
        unavailable = true;
        const QString error = QString::fromLocal8Bit(dlerror());
        logLine(QStringLiteral("[Pinlark] the library window can't open: ") + error);
        // "libQt6WebEngineCore.so.6: cannot open shared object file: …" names what is missing.
        const bool libraryMissing = QFileInfo(path).isReadable() &&
                                    error.contains(QLatin1String(": cannot open shared object"));
        Platform::alerts().run(Alert{
            QStringLiteral("The library window can't open"),
            libraryMissing
                ? QStringLiteral("A library it runs on is not installed (%1). On Debian, this "
                                 "installs what Pinlark needs:\n\nsudo apt-get install %2")
                      .arg(error.section(QLatin1Char(':'), 0, 0),
                           QLatin1String(PINLARK_DEBIAN_PACKAGES))
                : error,
            {QStringLiteral("OK")}});
        return nullptr;
    }
    module = *entry();
    return &*module;
}

Controller* made() {
    return module ? module->existing() : nullptr;
}

template <typename F>
void withController(F f) {
    if (const Module* m = loaded())
        f(m->shared());
}

} // namespace

void show(bool quietly) {
    withController([quietly](Controller& c) { c.show(quietly); });
}

void hide() {
    if (Controller* c = made())
        c->hide();
}

bool isVisible() {
    const Controller* c = made();
    return c && c->isVisible();
}

bool isMade() {
    return made();
}

void load(const QUrl& url) {
    withController([&url](Controller& c) { c.load(url); });
}

void reload() {
    withController([](Controller& c) { c.reload(); });
}

void back() {
    withController([](Controller& c) { c.back(); });
}

void forward() {
    withController([](Controller& c) { c.forward(); });
}

bool edit(QWidget* focus, Edit edit) {
    Controller* c = made();
    return c && c->edit(focus, edit);
}

QUrl homeURL() {
    return Config::api(QStringLiteral("saves"));
}

void setMenuBar(QMenuBar* bar) {
    pendingMenuBar = bar;
}

QMenuBar* menuBar() {
    return pendingMenuBar;
}

void provide(Module given) {
    module = given;
    unavailable = false;
}

} // namespace pinlark::LibraryWindow

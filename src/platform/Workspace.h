#pragma once

#include <QUrl>

namespace pinlark {

// Opens URLs with the user's default applications (the browser for web links).
class Workspace {
public:
    virtual ~Workspace() = default;
    // Whether the URL was handed to an application.
    virtual bool open(const QUrl& url) = 0;
};

} // namespace pinlark

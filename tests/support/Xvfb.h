#pragma once

#include "TestSupport.h"

#include <QProcess>

// A private X server for a test process. Xvfb picks a free display number itself and writes it
// to its standard output once it accepts connections (-displayfd), so parallel runs never
// clash.
class XvfbServer {
public:
    explicit XvfbServer(const QString& screen = "640x480x24") {
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setChildProcessModifier(pinlark::diesWithParent);
        m_process.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", screen});
        // A watchdog for a server that never comes up, not a timing assertion.
        while (!m_process.canReadLine() && m_process.waitForReadyRead(20000)) {
        }
        const QByteArray number = m_process.readLine().trimmed();
        if (!number.isEmpty())
            m_display = ":" + number;
    }
    ~XvfbServer() {
        m_process.terminate();
        m_process.waitForFinished();
    }
    bool running() const { return !m_display.isEmpty(); }
    // ":N", or empty when the server did not start.
    const QByteArray& display() const { return m_display; }
    // Points the application object yet to be made at this server, on the xcb platform.
    void useForApp() const {
        if (running()) {
            qputenv("DISPLAY", m_display);
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
    }

private:
    QProcess m_process;
    QByteArray m_display;
};

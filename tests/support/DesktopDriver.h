#pragma once
// Helpers for end-to-end tests that drive the real player on an X display:
// running the desktop tools (xdotool, xwininfo) and waiting for a condition
// without ever blocking the test's own event loop.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

namespace velmora::testing {

// Runs a tool to its end (10 s at most) and returns its trimmed output.
inline QString runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

inline QString xdotool(const QStringList &args)
{
    return runTool(QStringLiteral("xdotool"), args);
}

// Polls condition every 50 ms, processing events, until it holds or ms pass.
inline bool waitFor(const std::function<bool()> &condition, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace velmora::testing

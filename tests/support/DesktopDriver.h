#pragma once
// Helpers for end-to-end tests that drive the real player on an X display:
// running the desktop tools (xdotool, xwininfo) and waiting for a condition
// without ever blocking the test's own event loop.

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <cmath>
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

// Position (absolute) and size of a window, or of the frame around it;
// null while it is not on screen.
inline QRect xwininfoRect(const QString &id, bool frame)
{
    QStringList args{"-id", id};
    if (frame)
        args.prepend(QStringLiteral("-frame"));
    QHash<QString, QString> info;
    for (const QString &line : runTool(QStringLiteral("xwininfo"), args).split(u'\n'))
        info.insert(line.section(u':', 0, 0).trimmed(), line.section(u':', 1).trimmed());
    if (info.value("Map State") != QLatin1String("IsViewable"))
        return {};
    return QRect(info.value("Absolute upper-left X").toInt(), info.value("Absolute upper-left Y").toInt(),
                 info.value("Width").toInt(), info.value("Height").toInt());
}

inline QString text(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Twips per pixel as the player computes it (same display, same dpi).
inline double twipsPerPixel()
{
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchX();
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

inline int pixels(double twips) { return int(std::lround(twips / twipsPerPixel())); }

} // namespace velmora::testing

#pragma once
// Brings the player's two windows up offscreen on a scripted engine, with
// private settings and scratch folders, and with the timers stopped so the
// status poll does not run between the test's steps.

#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "tests/support/ScriptedEngine.h"
#include "widgets/ProgressBar.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace velmora::testing {

struct ShellFixture
{
    QTemporaryDir home;
    QPointer<ScriptedEngine> engine; // the engine of the newest video window
    QStringList messages;            // seek bar validation messages
    bool timersWereStarted = false;
    bool exposed = false;

    // Call before the first form is referenced.
    void setUp()
    {
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString dir = home.filePath(QString::fromLatin1(name));
            QDir().mkpath(dir);
            qputenv(name, dir.toUtf8());
        }
        ProgressBar::setMessageHandler([this](QWidget *, const QString &text) { messages.append(text); });
        setEngineFactory([this](QWidget *host) {
            auto *scripted = new ScriptedEngine(host);
            engine = scripted;
            return scripted;
        });
    }

    // Creates and shows the control panel (which brings up the video window).
    Form6 &start()
    {
        Form6 &panel = form6();
        timersWereStarted = panel.Timer1->isActive() && panel.Timer2->isActive();
        panel.Timer1->stop();
        panel.Timer2->stop();
        if (panel.isHidden())
            panel.show();
        exposed = QTest::qWaitForWindowExposed(&panel);
        return panel;
    }
};

} // namespace velmora::testing

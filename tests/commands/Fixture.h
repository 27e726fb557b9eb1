#pragma once
// Shared set-up of the command and poll tests: private config and cache
// folders, the scripted engine in every new video window, recorded message
// boxes, and an exit that throws instead of ending the test.

#include "commands/Commands.h"
#include "commands/Res.h"
#include "services/Settings.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "tests/support/ScriptedEngine.h"

#include <QPair>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace velmora::testing {

// What the process end throws in tests (not a std::exception, so no error
// trap swallows it).
struct ExitCalled
{
    int status;
};

class CommandFixture
{
public:
    CommandFixture()
    {
        // The stores read these at each call; the store objects on first use.
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_CACHE_HOME", m_home.filePath(QStringLiteral("cache")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", m_home.filePath(QStringLiteral("run")).toLocal8Bit());
        setEngineFactory([](QWidget *host) -> DvdEngine * { return new ScriptedEngine(host); });
        setMessageBoxFunction([this](const QString &text, const QString &title) {
            messages.append({text, title});
        });
        setProcessEnd([this](int status) {
            exits.append(status);
            throw ExitCalled{status};
        });
    }

    // A fresh video window and engine, nothing recorded, the panel's timers
    // stopped (the tests run the ticks themselves), no saved folder.
    void reset()
    {
        unloadForm4();
        form6().Timer1->stop();
        form6().Timer2->stop();
        form4();
        engine().calls.clear();
        engine().failures.clear();
        messages.clear();
        exits.clear();
        SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QString());
        SaveSetting(DvdSettingsAppMenuStop, DvdSettingsSection, DvdDirectoryKey, QString());
    }

    static ScriptedEngine &engine()
    {
        auto *e = qobject_cast<ScriptedEngine *>(form4().DVD);
        Q_ASSERT(e);
        return *e;
    }

    // The engine calls without the surface placements (Move) that showing
    // and resizing the video window makes.
    static QStringList calls()
    {
        QStringList out;
        for (const QString &c : engine().calls) {
            if (!c.startsWith(QLatin1String("Move(")))
                out << c;
        }
        return out;
    }

    // Runs f while a timer closes the first modal dialog or popup that opens.
    template <class F>
    static void whileClosing(F f, std::function<void(QWidget *)> close)
    {
        auto *timer = new QTimer;
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, close] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w)
                w = QApplication::activePopupWidget();
            if (w) {
                timer->stop();
                close(w);
            }
        });
        timer->start();
        f();
        delete timer;
    }

    QList<QPair<QString, QString>> messages; // (text, title)
    QList<int> exits;

private:
    QTemporaryDir m_home;
};

} // namespace velmora::testing

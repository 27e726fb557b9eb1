#pragma once
// Shared set-up of the command and poll tests: private config folders, the
// scripted engine in every new video window, recorded message boxes, and an
// exit that throws instead of ending the test.

#include "commands/Commands.h"
#include "commands/Res.h"
#include "services/Settings.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "tests/support/ScriptedEngine.h"

#include <QLabel>
#include <QPair>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace velmora::testing {

// Thrown by the test's process end; not a std::exception, so no trap takes it.
struct ExitCalled
{
    int status;
};

using Messages = QList<QPair<QString, QString>>; // (text, title)

class CommandFixture
{
public:
    CommandFixture()
    {
        for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            qputenv(var, m_home.filePath(QLatin1String(var)).toLocal8Bit());
        setEngineFactory([](QWidget *host) -> DvdEngine * { return new ScriptedEngine(host); });
        setMessageBoxFunction([this](const QString &text, const QString &title) { messages.append({text, title}); });
        setProcessEnd([this](int status) {
            exits.append(status);
            throw ExitCalled{status};
        });
    }

    // A fresh video window and engine, nothing recorded, no saved folder, the
    // panel's timers stopped (the tests run the ticks).
    void reset()
    {
        unloadForm4();
        form6().Timer1->stop();
        form6().Timer2->stop();
        form4();
        engine().calls.clear();
        messages.clear();
        exits.clear();
        saveFolder(DvdSettingsApp, QString());
        saveFolder(DvdSettingsAppMenuStop, QString());
    }

    static void saveFolder(const QString &app, const QString &folder)
    {
        SaveSetting(app, DvdSettingsSection, DvdDirectoryKey, folder);
    }

    static ScriptedEngine &engine() { return *qobject_cast<ScriptedEngine *>(form4().DVD); }

    // The engine calls, without the surface placements (Move) of layouts.
    static QStringList calls()
    {
        QStringList out;
        for (const QString &c : engine().calls) {
            if (!c.startsWith(QLatin1String("Move(")))
                out << c;
        }
        return out;
    }

    // Runs f while a timer hands the first modal dialog or popup to close.
    static void whileOpen(const std::function<void()> &f, const std::function<void(QWidget *)> &close)
    {
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w)
                w = QApplication::activePopupWidget();
            if (w) {
                timer.stop();
                close(w);
            }
        });
        timer.start();
        f();
    }

    // The label of a folder dialog that carries the prompt.
    static QString promptOf(QWidget *dialog)
    {
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (label->text().contains(QStringLiteral("*.VOB, *.IFO")))
                return label->text();
        }
        return {};
    }

    Messages messages;
    QList<int> exits;

private:
    QTemporaryDir m_home;
};

} // namespace velmora::testing

#pragma once
// The door from Qt into engine code.
//
// Qt must never see an exception: one leaving a slot, an event handler or a
// connected lambda ends the program. Every place where Qt calls into the
// engine on its own (signals of the surface, queued events from the engine's
// threads, timers) runs its work through guarded(), which catches whatever
// is thrown and hands the message to onError (an on-screen message, a log
// line) instead.
//
// Threads: the thread Qt calls on (the UI thread); onError runs there too.

#include "engine/EngineError.h"

#include <QLoggingCategory>
#include <QString>

#include <exception>
#include <utility>

namespace velmora::core {

// Runs work; returns false when it threw (onError has had the message).
template <class Work, class OnError>
bool guarded(const char *where, Work &&work, OnError &&onError) noexcept
{
    QString message;
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const EngineError &e) {
        message = e.message();
    } catch (const std::exception &e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unexpected failure");
    }
    try {
        qWarning("%s: %s", where, qPrintable(message));
        std::forward<OnError>(onError)(message);
    } catch (...) {
        // Reporting failed as well; nothing more can be done here.
    }
    return false;
}

} // namespace velmora::core

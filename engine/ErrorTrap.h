#pragma once
// How a handler treats the failures of its steps.
//
// Every user-facing handler runs its steps through one ErrorTrap:
//   SkipAndContinue    a failing step is skipped, its code remembered, the next step runs;
//   JumpToReport       the first failure ends the steps; the handler then reports code();
//   EndOnFirstFailure  the first failure ends the handler silently.
// A handler may switch modes between steps ("from here on, failures are ignored").
// Single-threaded: one trap belongs to one handler invocation on the UI thread.

#include "EngineError.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <utility>

namespace velmora {

class ErrorTrap
{
public:
    enum class Mode { SkipAndContinue, JumpToReport, EndOnFirstFailure };

    explicit ErrorTrap(Mode mode) : m_mode(mode) {}

    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }

    // Runs step() unless an earlier failure has ended the handler.
    // Returns true when the step ran and did not throw.
    template <class Step>
    bool run(Step &&step)
    {
        if (m_stopped)
            return false;
        try {
            std::forward<Step>(step)();
            return true;
        } catch (const EngineError &e) {
            fail(e.code(), e.message());
        } catch (const std::exception &e) {
            fail(ErrorCode::Unexpected, QString::fromLocal8Bit(e.what()));
        }
        return false;
    }

    // True once a step failed in a mode that ends the steps.
    bool stopped() const { return m_stopped; }
    // True when any step failed.
    bool failed() const { return m_code != 0; }
    // Code and message of the most recent failure; 0 and empty when none.
    std::int32_t code() const { return m_code; }
    const QString &message() const { return m_message; }

private:
    void fail(std::int32_t code, const QString &message)
    {
        m_code = code;
        m_message = message;
        if (m_mode != Mode::SkipAndContinue)
            m_stopped = true;
    }

    Mode m_mode;
    bool m_stopped = false;
    std::int32_t m_code = 0;
    QString m_message;
};

} // namespace velmora

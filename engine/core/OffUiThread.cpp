#include "engine/core/OffUiThread.h"

#include "engine/EngineError.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <atomic>
#include <exception>
#include <thread>

namespace velmora::core {

void OffUiThread::run(const std::function<void()> &work)
{
    if (m_busy)
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("The disc is still being opened"));
    m_busy = true;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QGuiApplication::restoreOverrideCursor();
    m_busy = false;
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace velmora::core

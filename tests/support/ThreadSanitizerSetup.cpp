// Linked into every QtTest program; does something only in a build with
// ThreadSanitizer (scripts/test --tsan).
//
// Qt's global thread pool (QtGui spreads large image scaling over it) keeps
// its task queue under QtCore's futex-based lock, which ThreadSanitizer cannot
// see: two pool threads taking tasks look like a race inside QtCore, with no
// frame to tell it apart from one of ours. One pool thread, kept for the whole
// run, takes every task; our own threads are left as they are.
#if defined(__SANITIZE_THREAD__)
#include <QCoreApplication>
#include <QThreadPool>

namespace {

void onePoolThread()
{
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(1);
    pool->setExpiryTimeout(-1);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(onePoolThread)
#endif

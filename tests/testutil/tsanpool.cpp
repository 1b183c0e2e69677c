// Linked into every test program of the ThreadSanitizer build. Qt paints
// large areas on its global thread pool and hands each task over on a
// futex the checker cannot see; with more than one pool thread, or threads
// that end when idle and are made again, the pool's own queue looks
// unguarded between them. One pool thread that lives as long as the program
// keeps that hand-over on one thread. Our code never runs on the pool.
#include <QCoreApplication>
#include <QThreadPool>

namespace {

void onePoolThread()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(1);
    pool->setExpiryTimeout(-1);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(onePoolThread)

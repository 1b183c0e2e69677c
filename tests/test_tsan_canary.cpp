// The thread checker's own check. Each row writes a value on a worker and
// reads it on the window's thread with nothing between the two that orders
// them (the only hand-over is a relaxed atomic, which orders nothing), in
// the places where the program's own reads happen: a test slot, a handler
// that Qt's event loop calls, a handler called while a ProgressGate waits
// for its pass, and bytes that Qt copies for us. Built and run only under
// ThreadSanitizer, which must report every row; if it reports fewer,
// something has blinded it (a suppression that names a frame every
// window-thread stack holds, a library whose calls are ignored) and this
// test fails.
#include <QByteArray>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <thread>

#include "common/progressgate.h"

using namespace vemlo;

namespace {

// Written by the worker, read by the window's thread: one per row, so that
// each row is a report of its own.
int g_inSlot = 0;
int g_inEventLoop = 0;
int g_duringGate = 0;
char g_bytes[8] = {};

std::atomic<int> g_written{0};  // relaxed: tells, but orders nothing
std::atomic<int> g_read{0};

void waitRelaxed(const std::atomic<int>& flag, int value)
{
    while (flag.load(std::memory_order_relaxed) != value)
        std::this_thread::yield();
}

// The worker's half: the unguarded write, then a relaxed "done", then waits
// until the window's thread has read, so that the end of the thread (which
// does order) comes only after the racing read.
void writeThenWait(int* target, int row)
{
    *target = 40 + row;
    g_written.store(row, std::memory_order_relaxed);
    waitRelaxed(g_read, row);
}

// The window's half.
int readAfterWrite(const int* source, int row)
{
    waitRelaxed(g_written, row);
    const int seen = *source;
    g_read.store(row, std::memory_order_relaxed);
    return seen;
}

}  // namespace

class TsanCanary : public QObject {
    Q_OBJECT
private slots:
    void readInSlot()
    {
        std::thread worker(writeThenWait, &g_inSlot, 1);
        const int seen = readAfterWrite(&g_inSlot, 1);
        worker.join();
        QCOMPARE(seen, 41);
    }

    void readInEventLoopHandler()
    {
        std::thread worker(writeThenWait, &g_inEventLoop, 2);
        int seen = 0;
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            seen = readAfterWrite(&g_inEventLoop, 2);
            loop.quit();
        });
        loop.exec();
        worker.join();
        QCOMPARE(seen, 42);
    }

    void readWhileGateWaits()
    {
        ProgressGate gate(QStringLiteral("正在检查…"));
        int seen = 0;
        QTimer reader;
        reader.setSingleShot(true);
        QObject::connect(&reader, &QTimer::timeout,
                         [&] { seen = readAfterWrite(&g_duringGate, 3); });
        reader.start(0);
        gate.run([] { writeThenWait(&g_duringGate, 3); });
        QCOMPARE(seen, 43);
    }

    void bytesCopiedByQt()
    {
        std::thread worker([] {
            std::memcpy(g_bytes, "written", sizeof g_bytes);
            g_written.store(4, std::memory_order_relaxed);
            waitRelaxed(g_read, 4);
        });
        waitRelaxed(g_written, 4);
        const QByteArray seen(g_bytes, sizeof g_bytes - 1);  // Qt's copy reads them
        g_read.store(4, std::memory_order_relaxed);
        worker.join();
        QCOMPARE(seen, QByteArray("written"));
    }
};

QTEST_MAIN(TsanCanary)
#include "test_tsan_canary.moc"

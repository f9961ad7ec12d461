#include <QTest>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/debugger_probe.h"
#include "platform/dispatch.h"
#include "platform/repeating_timer.h"
#include "platform/time_source.h"
#include "support/test_support.h"

using namespace sonavel;

class DispatchTest : public QObject {
    Q_OBJECT
private slots:
    void mainQueueKeepsSubmissionOrderFromManyThreads();
    void mainSyncRunsOnMainAndReturnsAfterwards();
    void poolsRunManyBlockingTasksAtOnce();
    void delayedTasksRunInDueOrder();
    void timeSourceScales();
    void repeatingTimerRepeatsUntilInvalidated();
    void tracerPidParsing();
};

void DispatchTest::mainQueueKeepsSubmissionOrderFromManyThreads() {
    // Per submitting thread the order must hold; the log relies on it.
    QVector<int> seen[4];
    std::atomic<int> done{0};
    for (int t = 0; t < 4; ++t) {
        dispatchAsync(QoS::Default, [t, &seen, &done] {
            for (int i = 0; i < 200; ++i) {
                mainAsync([t, i, &seen] {
                    Q_ASSERT(isMainThread());
                    seen[t].append(i);
                });
            }
            ++done;
        });
    }
    QVERIFY(test::waitUntil([&] {
        return done == 4 && seen[0].size() == 200 && seen[1].size() == 200 &&
               seen[2].size() == 200 && seen[3].size() == 200;
    }));
    for (auto& list : seen) {
        QVERIFY(std::is_sorted(list.begin(), list.end()));
    }
    // A task queued from the main thread runs later, not inside the call.
    bool ran = false;
    mainAsync([&] { ran = true; });
    QVERIFY(!ran);
    QVERIFY(test::waitUntil([&] { return ran; }));
}

void DispatchTest::mainSyncRunsOnMainAndReturnsAfterwards() {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returned{false};
    dispatchAsync(QoS::UserInitiated, [&] {
        mainSync([&] { ranOnMain = isMainThread(); });
        returned = true;
    });
    QVERIFY(test::waitUntil([&] { return returned.load(); }));
    QVERIFY(ranOnMain);
    // From the main thread it runs at once.
    bool inline_ = false;
    mainSync([&] { inline_ = true; });
    QVERIFY(inline_);
}

void DispatchTest::poolsRunManyBlockingTasksAtOnce() {
    // 40 tasks that all wait for each other: a pool sized to the cores would never finish them.
    constexpr int kTasks = 40;
    std::mutex mutex;
    std::condition_variable cv;
    int arrived = 0;
    std::atomic<int> finished{0};
    for (int i = 0; i < kTasks; ++i) {
        dispatchAsync(QoS::UserInitiated, [&] {
            std::unique_lock lock(mutex);
            ++arrived;
            cv.notify_all();
            const bool all =
                cv.wait_for(lock, std::chrono::seconds(20), [&] { return arrived == kTasks; });
            // Released before counting: once the count is complete, this test's stack (which holds
            // the mutex) may be gone.
            lock.unlock();
            if (all) {
                ++finished;
            }
        });
    }
    QVERIFY(test::waitUntil([&] { return finished == kTasks; }, 20000));
}

void DispatchTest::delayedTasksRunInDueOrder() {
    std::mutex mutex;
    QStringList order;
    auto record = [&](const char* name) {
        return [&, name] {
            std::lock_guard lock(mutex);
            order << QString::fromLatin1(name);
        };
    };
    dispatchAfter(QoS::Utility, std::chrono::milliseconds(120), record("late"));
    dispatchAfter(QoS::Utility, std::chrono::milliseconds(20), record("early"));
    dispatchAfter(QoS::Utility, std::chrono::milliseconds(0), record("now"));
    QVERIFY(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 3;
    }));
    QCOMPARE(order, (QStringList{"now", "early", "late"}));
}

void DispatchTest::timeSourceScales() {
    const TimeSource real;
    QCOMPARE(real.duration(10.0), std::chrono::milliseconds(10000));
    QCOMPARE(real.duration(0.3), std::chrono::milliseconds(300));
    const TimeSource fast(0.001);
    QCOMPARE(fast.duration(5.0), std::chrono::milliseconds(5));
    // A short pause never collapses to "no pause" (ordering between steps depends on it).
    QCOMPARE(fast.duration(0.3), std::chrono::milliseconds(1));
    QCOMPARE(fast.duration(0.0), std::chrono::milliseconds(0));
    QCOMPARE(TimeSource(-1).scale(), 1.0);
}

void DispatchTest::repeatingTimerRepeatsUntilInvalidated() {
    // 10 s of flow time at a scale of 0.001: a tick every 10 ms.
    const TimeSource fast(0.001);
    int ticks = 0;
    RepeatingTimer timer(fast, 10.0, [&] { ++ticks; });
    QVERIFY(timer.isValid());
    QVERIFY(test::waitUntil([&] { return ticks >= 3; }));
    timer.invalidate();
    QVERIFY(!timer.isValid());
    const int stoppedAt = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks, stoppedAt);
}

void DispatchTest::tracerPidParsing() {
    QCOMPARE(tracerPidFromStatus("Name:\tsonavel\nTracerPid:\t4242\nUid:\t0\n"), 4242L);
    QCOMPARE(tracerPidFromStatus("Name:\tsonavel\nTracerPid:\t0\n"), 0L);
    QCOMPARE(tracerPidFromStatus("Name:\tsonavel\n"), 0L);
    QCOMPARE(tracerPidFromStatus("TracerPid:\tgarbage\n"), 0L);
    QCOMPARE(tracerPidFromStatus("Uid:\t0\nTracerPid:\t77"), 77L);  // a read cut after the field
    QCOMPARE(tracerPidFromStatus("NotTracerPid:\t5\nTracerPid:\t0\n"), 0L);
    // Under the test runner nobody traces us (unless a developer runs it in gdb).
    if (qEnvironmentVariableIsEmpty("SONAVEL_UNDER_DEBUGGER")) {
        QVERIFY(!isDebuggerAttached());
    }
}

QTEST_GUILESS_MAIN(DispatchTest)
#include "tst_dispatch.moc"

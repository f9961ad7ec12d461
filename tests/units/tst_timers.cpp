#include <QTest>
#include <atomic>
#include <limits>

#include "platform/debugger_probe.h"
#include "platform/dispatch.h"
#include "platform/time_source.h"
#include "platform/virtual_clock.h"
#include "platform/worker_timer.h"

using namespace sonavel;

// The timer of periodic background work, on a virtual clock and in (scaled) real time, and an
// answer kept for a while.
class TimersTest : public QObject {
    Q_OBJECT
private slots:
    void workerTimerOnVirtualClock();
    void workerTimerInRealTime();
    void cachedAnswer();
};

namespace {

struct Ticks {
    std::atomic<int> count{0};
    std::atomic<bool> onMainThread{false};
    Task counter() {
        return [this] {
            if (isMainThread()) {
                onMainThread = true;
            }
            ++count;
        };
    }
};

bool poolIdle() {
    return QTest::qWaitFor([] { return poolTasksInFlight() == 0; }, 20000);
}

}  // namespace

void TimersTest::workerTimerOnVirtualClock() {
    const auto clock = std::make_shared<VirtualClock>();
    const TimeSource time(1.0, clock);
    Ticks ticks;
    WorkerTimer timer(time, QoS::Utility, 10.0, ticks.counter());
    QVERIFY(timer.isValid());
    QVERIFY(!clock->step(9.9));  // the first tick comes after one interval, not at once
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(clock->step(std::numeric_limits<double>::infinity()));
        QCOMPARE(clock->now(), 10.0 * i);
        QVERIFY(poolIdle());
        QCOMPARE(ticks.count.load(), i);
    }
    QVERIFY(!ticks.onMainThread);

    timer.invalidate();
    QVERIFY(!timer.isValid());
    QVERIFY(!clock->step(std::numeric_limits<double>::infinity()));  // its next tick is gone
    QVERIFY(poolIdle());
    QCOMPARE(ticks.count.load(), 3);
}

void TimersTest::workerTimerInRealTime() {
    const TimeSource time(0.001);  // ten seconds last ten milliseconds
    Ticks ticks;
    auto timer = std::make_unique<WorkerTimer>(time, QoS::Utility, 10.0, ticks.counter());
    QVERIFY(QTest::qWaitFor([&] { return ticks.count >= 3; }, 20000));
    QVERIFY(!ticks.onMainThread);

    timer.reset();
    QVERIFY(poolIdle());
    const int stopped = ticks.count;
    QTest::qWait(100);  // ten intervals
    QVERIFY(poolIdle());
    QCOMPARE(ticks.count.load(), stopped);
}

void TimersTest::cachedAnswer() {
    CachedAnswer cached(100);
    int asked = 0;
    bool traced = false;
    const auto ask = [&] {
        ++asked;
        return traced;
    };
    QCOMPARE(cached.get(5000, ask), false);  // the first call always asks
    traced = true;
    QCOMPARE(cached.get(5099, ask), false);  // within the window: the last answer
    QCOMPARE(asked, 1);
    QCOMPARE(cached.get(5100, ask), true);  // the window has passed: asked again
    QCOMPARE(cached.get(5150, ask), true);
    QCOMPARE(asked, 2);
    traced = false;
    QCOMPARE(cached.get(5200, ask), false);
    QCOMPARE(asked, 3);
}

QTEST_GUILESS_MAIN(TimersTest)
#include "tst_timers.moc"

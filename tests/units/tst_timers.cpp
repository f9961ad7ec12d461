#include <QTest>
#include <atomic>
#include <limits>

#include "platform/dispatch.h"
#include "platform/time_source.h"
#include "platform/virtual_clock.h"
#include "platform/worker_timer.h"

using namespace sonavel;

// The timer of periodic background work, on a virtual clock and in (scaled) real time.
class TimersTest : public QObject {
    Q_OBJECT
private slots:
    void workerTimerOnVirtualClock();
    void workerTimerInRealTime();
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

QTEST_GUILESS_MAIN(TimersTest)
#include "tst_timers.moc"

// How long the main event loop stalls while many phones come and go. A 10 ms heartbeat timer on
// the main thread records the gap between its ticks while the application, with its real window
// shown (offscreen), starts with no phone, lists the phones, has every row's relay switch clicked,
// loses every relay at once (each fake scrcpy is ended from outside, as a phone that leaves does)
// and gets them back through its reconnect loop, several times, then has every switch clicked
// off. Real time by default: the reconnect loop's 10-second interval and every pause of the flows
// are as in use. Baseline in the same run: the same heartbeat before the window exists.
//
// Per gap it prints three figures: its length (what a user would see on this machine now), its
// length less the time the main thread was ready but waited for a core (other programs' load,
// from the scheduler's statistics), and the main thread's own CPU time in it. The gaps with the
// most CPU time are broken down by the kind of event that ran in them.
//
// Usage: bench_responsiveness [phones=16] [loss cycles=3] [time scale=1]
#include <signal.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "app/controller.h"
#include "app/root_view.h"
#include "fake_phones.h"
#include "relay/scrcpy_process.h"
#include "ui/device_block.h"
#include "ui/main_view.h"
#include "ui/switch_button.h"

using namespace sonavel;

namespace {

constexpr int kHeartbeatMs = 10;
constexpr double kGoalMs = 16;
// A gap with this much main-thread CPU time is broken down by what ran in it.
constexpr double kBusyMs = 8;

// How long this thread has waited to be run while ready (the machine was busy with others), from
// the scheduler's statistics: "<ns on CPU> <ns waiting on a run queue> <time slices>".
double threadQueuedMs() {
    FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    unsigned long long running = 0, waiting = 0;
    if (f) {
        if (std::fscanf(f, "%llu %llu", &running, &waiting) != 2) {
            waiting = 0;
        }
        std::fclose(f);
    }
    return waiting / 1e6;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times every outermost event delivery on the main thread: keeps the longest ones, and adds up
// what each kind of delivery cost since the last heartbeat.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    struct Delivery {
        double wallMs;
        double cpuMs;     // this thread's CPU time
        double queuedMs;  // ready to run but waiting for a core
        QString what;
    };

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0 || !recording) {
            ++depth_;
            const bool result = QApplication::notify(receiver, event);
            --depth_;
            return result;
        }
        const QString what =
            QString::fromLatin1(receiver->metaObject()->className()) + QLatin1Char(' ') +
            QString::fromLatin1(QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type()));
        ++depth_;
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = threadCpuMs();
        const double queuedBefore = threadQueuedMs();
        const bool result = QApplication::notify(receiver, event);
        firstFramePainted = firstFramePainted || event->type() == QEvent::Expose;
        const double cpuMs = threadCpuMs() - cpuBefore;
        const double queuedMs = threadQueuedMs() - queuedBefore;
        const double ms = timer.nsecsElapsed() / 1e6;
        --depth_;
        if (ms >= 2) {
            longest.push_back({ms, cpuMs, queuedMs, what});
        }
        Share& share = sinceTick[what];
        ++share.count;
        share.cpuMs += cpuMs;
        return result;
    }

    struct Share {
        int count = 0;
        double cpuMs = 0;
    };

    bool recording = false;
    // The window has been drawn on screen once (its first expose delivered).
    bool firstFramePainted = false;
    std::vector<Delivery> longest;
    std::map<QString, Share> sinceTick;

private:
    int depth_ = 0;
};

// One interval between heartbeat ticks: its length, and how much of it the main thread spent
// working (its CPU time). The rest was waiting: for the system to run it, or for an event.
struct Gap {
    bool upToFirstFrame;  // ended before, or with, the window's first frame
    double wallMs;
    double cpuMs;
    double queuedMs;  // of the wall time, ready to run but waiting for a core
    double netMs;     // the wall time less that wait: what the program itself took
};

// A gap in which the main thread was busy for long, and what it was busy with.
struct BusyGap {
    Gap gap;
    std::map<QString, TimedApplication::Share> shares;
};

struct Heartbeat {
    explicit Heartbeat(TimedApplication& app) {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this, &app] {
            const qint64 now = clock.nsecsElapsed();
            const double cpu = threadCpuMs();
            const double queued = threadQueuedMs();
            const double wall = (now - last) / 1e6;
            const Gap gap{!firstFrameSeen, wall, cpu - lastCpu, queued - lastQueued,
                          wall - (queued - lastQueued)};
            firstFrameSeen = app.firstFramePainted;
            lastQueued = queued;
            gaps.push_back(gap);
            if (gap.cpuMs >= kBusyMs) {
                busiest.push_back({gap, app.sinceTick});
            }
            app.sinceTick.clear();
            last = now;
            lastCpu = cpu;
        });
    }
    void start() {
        gaps.clear();
        clock.start();
        last = 0;
        lastCpu = threadCpuMs();
        lastQueued = threadQueuedMs();
        timer.start(kHeartbeatMs);
    }
    std::vector<Gap> take() {
        std::vector<Gap> taken;
        taken.swap(gaps);
        return taken;
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    bool firstFrameSeen = false;
    double lastCpu = 0;
    double lastQueued = 0;
    std::vector<Gap> gaps;
    std::vector<BusyGap> busiest;
};

struct Phase {
    const char* name;
    double seconds;
    std::vector<Gap> gaps;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

struct Figures {
    double longest = 0;
    double p99 = 0;
    long over = 0;  // gaps over the goal
};

Figures figuresOf(const std::vector<Gap>& gaps, double Gap::*field) {
    std::vector<double> values;
    for (const Gap& gap : gaps) {
        values.push_back(gap.*field);
    }
    Figures f;
    f.longest = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    f.p99 = percentile(values, 0.99);
    f.over = std::count_if(values.begin(), values.end(), [](double v) { return v > kGoalMs; });
    return f;
}

void report(const Phase& phase) {
    const Figures wall = figuresOf(phase.gaps, &Gap::wallMs);
    const Figures net = figuresOf(phase.gaps, &Gap::netMs);
    const Figures cpu = figuresOf(phase.gaps, &Gap::cpuMs);
    std::printf("%-24s %6.1f s %5zu | %6.1f %6.1f %4ld | %6.1f %6.1f %4ld | %6.1f %6.1f\n",
                phase.name, phase.seconds, phase.gaps.size(), wall.longest, wall.p99, wall.over,
                net.longest, net.p99, net.over, cpu.longest, cpu.p99);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TimedApplication app(argc, argv);
    const int phones = argc > 1 ? std::max(1, atoi(argv[1])) : 16;
    const int cycles = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const double scale = argc > 3 ? atof(argv[3]) : 1.0;
    const QStringList endpoints = bench::phoneEndpoints(phones);

    test::FakeResources res;
    // No phone at start: the window and the controller start up on their own first.
    bench::installPhoneTools(res, {});
    test::TestEnvironment env(&res, scale);
    env.config.debuggerProbe = [] { return false; };  // as in normal use: no debugger, no log
    Heartbeat heartbeat(app);
    std::vector<Phase> phases;
    QElapsedTimer phaseClock;
    const auto endPhase = [&](const char* name) {
        phases.push_back({name, phaseClock.nsecsElapsed() / 1e9, heartbeat.take()});
        phaseClock.restart();
    };
    heartbeat.start();
    phaseClock.start();
    app.recording = true;

    // Baseline: the same heartbeat with nothing else in the program, on the same machine now.
    test::waitUntil([] { return false; }, 3000);
    endPhase("baseline: heartbeat only");

    auto window = std::make_unique<RootView>(env.config);
    window->show();
    ZovAdizuZadiRizov& c = *window->controller();
    // Its first gap holds the window's construction, before anything is on screen.
    test::waitUntil([] { return false; }, 1000);
    endPhase("start-up, no phone");
    const auto allRunning = [&] {
        for (const QString& endpoint : endpoints) {
            const QProcess* p = c.scrcpyProcesses.value(endpoint).data();
            if (!p || p->state() != QProcess::Running) {
                return false;
            }
        }
        return true;
    };
    const auto pids = [&] {
        QList<qint64> list;
        for (const QString& endpoint : endpoints) {
            const QProcess* p = c.scrcpyProcesses.value(endpoint).data();
            list << (p ? p->processId() : 0);
        }
        return list;
    };

    res.setScript(QStringLiteral("adb"), bench::phonesAdbScript(endpoints));
    c.refreshDevices();
    bench::spinUntil(
        [&] {
            return c.connectedTCPIPDevices().size() == phones &&
                   window->mainView()->rows().size() == phones;
        },
        "the phones' rows");
    // The new rows are laid out and painted on the next turns: part of the listing.
    test::waitUntil([] { return false; }, 200);
    endPhase("phones appear");

    // Every row's relay switch clicked, one every 20 ms, as a quick hand would.
    const auto clickEverySwitch = [&] {
        QTimer clicker;
        int next = 0;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            if (next < window->mainView()->rows().size()) {
                QWidget* relay = window->mainView()->rows()[next++]->relayControl()->relaySwitch();
                QTest::mouseClick(relay, Qt::LeftButton, {}, QPoint(4, relay->height() / 2));
            }
        });
        clicker.start(20);
        bench::spinUntil([&] { return next == phones; }, "every switch clicked");
    };
    clickEverySwitch();
    bench::spinUntil(allRunning, "every relay running");
    endPhase("relay all");

    for (int cycle = 0; cycle < cycles; ++cycle) {
        const QList<qint64> before = pids();
        for (const qint64 pid : before) {
            ::kill(static_cast<pid_t>(pid), SIGTERM);
        }
        bench::spinUntil(
            [&] {
                const QList<qint64> now = pids();
                for (int i = 0; i < now.size(); ++i) {
                    if (now[i] == before[i]) {
                        return false;
                    }
                }
                return allRunning();
            },
            "every relay back after a loss");
        endPhase("lose all, reconnect");
    }

    clickEverySwitch();
    bench::spinUntil(
        [&] {
            return liveScrcpyProcessCount() == 0 && c.statusText() == c.text(TextKey::statusIdle);
        },
        "every relay ended");
    endPhase("switch all off");
    app.recording = false;
    heartbeat.timer.stop();

    std::printf("%d phones, %d loss cycles, time scale %.3g, heartbeat %d ms, platform %s\n",
                phones, cycles, scale, kHeartbeatMs, qPrintable(QGuiApplication::platformName()));
    std::printf("%-24s %8s %5s | %-18s | %-18s | %-13s\n", "", "", "", "gap between ticks",
                "less core wait", "main CPU");
    std::printf("%-24s %8s %5s | %6s %6s %4s | %6s %6s %4s | %6s %6s\n", "phase", "length", "ticks",
                "max ms", "p99", ">16", "max ms", "p99", ">16", "max ms", "p99");
    std::vector<Gap> all;
    double total = 0;
    for (size_t i = 0; i < phases.size(); ++i) {
        report(phases[i]);
        if (i > 0) {  // the baseline is not part of the application's run
            all.insert(all.end(), phases[i].gaps.begin(), phases[i].gaps.end());
            total += phases[i].seconds;
        }
    }
    report({"application, all phases", total, all});
    const Figures run = figuresOf(all, &Gap::wallMs);
    const Figures idle = figuresOf(phases.front().gaps, &Gap::wallMs);
    const Figures runNet = figuresOf(all, &Gap::netMs);
    const Figures idleNet = figuresOf(phases.front().gaps, &Gap::netMs);
    std::printf(
        "ratio to baseline: gap longest %.2f, p99 %.2f; less core wait longest %.2f, "
        "p99 %.2f\n",
        run.longest / idle.longest, run.p99 / idle.p99, runNet.longest / idleNet.longest,
        runNet.p99 / idleNet.p99);
    // The goal leaves out the gaps up to the window's first frame: it is built and drawn once
    // before anything is on screen, so no frame is late in them.
    double firstFrame = 0;
    double busiestAfterFirstFrame = 0;
    for (const Gap& gap : all) {
        double& busiest = gap.upToFirstFrame ? firstFrame : busiestAfterFirstFrame;
        busiest = std::max(busiest, gap.cpuMs);
    }
    std::printf("main-thread CPU, busiest gap up to the first frame: %.1f ms\n", firstFrame);
    std::printf("main-thread CPU, busiest gap after the first frame: %.1f ms (goal <= %.0f)\n",
                busiestAfterFirstFrame, kGoalMs);
    std::printf("window redraws: %d\n", window->mainView()->redrawCount());
    std::sort(heartbeat.busiest.begin(), heartbeat.busiest.end(),
              [](const BusyGap& a, const BusyGap& b) { return a.gap.cpuMs > b.gap.cpuMs; });
    std::printf(
        "gaps with %.0f ms or more main-thread CPU: %zu; the busiest, by what ran in them "
        "(count, CPU ms):\n",
        kBusyMs, heartbeat.busiest.size());
    for (size_t i = 0; i < std::min<size_t>(5, heartbeat.busiest.size()); ++i) {
        const BusyGap& busy = heartbeat.busiest[i];
        std::printf("  gap %.1f ms, %.1f ms CPU:", busy.gap.wallMs, busy.gap.cpuMs);
        for (const auto& [what, share] : busy.shares) {
            if (share.cpuMs >= 0.5) {
                std::printf(" [%s x%d %.1f]", qPrintable(what), share.count, share.cpuMs);
            }
        }
        std::printf("\n");
    }

    // What the longest deliveries were, grouped by receiver and event type.
    struct Group {
        int count = 0;
        TimedApplication::Delivery longest{0, 0, 0, {}};
    };
    std::map<QString, Group> byWhat;
    for (const auto& delivery : app.longest) {
        Group& group = byWhat[delivery.what];
        ++group.count;
        if (delivery.wallMs > group.longest.wallMs) {
            group.longest = delivery;
        }
    }
    std::printf(
        "main-thread event deliveries of 2 ms or more: count; the longest: its CPU time, "
        "its wait for a core, the rest (blocked)\n");
    for (const auto& [what, group] : byWhat) {
        const TimedApplication::Delivery& d = group.longest;
        std::printf("  %-44s %4d %6.1f ms: %5.1f CPU %5.1f queued %5.1f blocked\n",
                    qPrintable(what), group.count, d.wallMs, d.cpuMs, d.queuedMs,
                    d.wallMs - d.cpuMs - d.queuedMs);
    }
    // The watcher and the last battery queries end with the controller, before their folder goes.
    window.reset();
    test::waitUntil([] { return false; }, 500);
    return 0;
}

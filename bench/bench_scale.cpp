// How the time to start every relay grows with the number of phones. For 1, 4 and 16 wireless
// phones (fake tools): from switching every relay on, in a row as a user would, to every scrcpy
// running, seen from the main event loop. Baseline in the same run: the tool calls the design
// requires for them, made directly and one after another with QProcess: per phone one
// "adb connect" to its end, then the start of its scrcpy. Real time; the relay start has no pause
// of its own. Rounds alternate which side goes first. Prints medians and their ratio.
//
// Usage: bench_scale [rounds=7]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/controller.h"
#include "fake_phones.h"
#include "relay/scrcpy_args.h"
#include "relay/scrcpy_process.h"

using namespace sonavel;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int adbCallCount(const test::FakeResources& res, const QString& word) {
    int count = 0;
    for (const QStringList& arguments : res.arguments(QStringLiteral("adb"))) {
        count += arguments.contains(word) ? 1 : 0;
    }
    return count;
}

// Waits until no adb runs but the watcher: the battery queries that each start sets off end
// before the next measurement begins.
void waitForQuietAdb(const QString& adbPath) {
    bench::spinUntil([&] { return test::childProcesses(adbPath).size() <= 1; }, "quiet adb");
}

double relayAll(ZovAdizuZadiRizov& c, const QStringList& endpoints, const QString& adbPath) {
    QElapsedTimer timer;
    timer.start();
    for (const QString& endpoint : endpoints) {
        c.setRelayEnabled(endpoint, true);
    }
    bench::spinUntil(
        [&] {
            for (const QString& endpoint : endpoints) {
                const QProcess* p = c.scrcpyProcesses.value(endpoint).data();
                if (!p || p->state() != QProcess::Running) {
                    return false;
                }
            }
            return true;
        },
        "every relay running");
    const double ms = timer.nsecsElapsed() / 1e6;
    for (const QString& endpoint : endpoints) {
        c.setRelayEnabled(endpoint, false);
    }
    bench::spinUntil(
        [&] {
            return liveScrcpyProcessCount() == 0 && c.statusText() == c.text(TextKey::statusIdle);
        },
        "every relay ended");
    waitForQuietAdb(adbPath);
    return ms;
}

double directCalls(const test::FakeResources& res, const QStringList& endpoints) {
    std::vector<std::unique_ptr<QProcess>> relays;
    QElapsedTimer timer;
    timer.start();
    for (const QString& endpoint : endpoints) {
        QProcess connect;
        connect.setStandardInputFile(QProcess::nullDevice());
        connect.start(res.path(QStringLiteral("adb")), {QStringLiteral("connect"), endpoint});
        connect.waitForFinished(-1);
        auto relay = std::make_unique<QProcess>();
        relay->setStandardInputFile(QProcess::nullDevice());
        relay->start(res.path(QStringLiteral("scrcpy")),
                     scrcpyArguments(endpoint, false, kDefaultAudioBufferMs));
        relay->waitForStarted(-1);
        relays.push_back(std::move(relay));
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    for (auto& relay : relays) {
        relay->terminate();
        relay->waitForFinished(-1);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 7;
    const QStringList all = bench::phoneEndpoints(16);

    test::FakeResources res;
    bench::installPhoneTools(res, all);
    test::TestEnvironment env(&res, 1.0);
    env.config.debuggerProbe = [] { return false; };  // as in normal use: no debugger, no log
    auto owner = std::make_unique<ZovAdizuZadiRizov>(env.config);
    ZovAdizuZadiRizov& controller = *owner;
    // Start-up (stray-process clean-up, first USB check, watcher) settles before measuring.
    test::waitUntil([] { return false; }, 1000);
    const QString adbPath = res.path(QStringLiteral("adb"));

    std::printf("%-7s %12s %12s %7s %14s\n", "phones", "relay (ms)", "direct (ms)", "ratio",
                "relay/phone");
    double firstPerPhone = 0;
    std::vector<double> batteryPerRound;
    for (const int phones : {1, 4, 16}) {
        const QStringList endpoints = all.mid(0, phones);
        std::vector<double> relay, direct;
        const int connectsBefore = adbCallCount(res, QStringLiteral("connect"));
        const int batteryBefore = adbCallCount(res, QStringLiteral("dumpsys"));
        for (int i = 0; i < rounds + 1; ++i) {
            double r = 0, d = 0;
            if (i % 2 == 0) {
                r = relayAll(controller, endpoints, adbPath);
                d = directCalls(res, endpoints);
            } else {
                d = directCalls(res, endpoints);
                r = relayAll(controller, endpoints, adbPath);
            }
            if (i > 0) {  // warm-up
                relay.push_back(r);
                direct.push_back(d);
            }
        }
        // Both sides made the calls they are credited with: each phone connected once per round
        // on each side. (A fake scrcpy ended right after its start may not have written its
        // journal yet, so its starts are known from the process state alone.)
        const int expected = 2 * (rounds + 1) * phones;
        const int connects = adbCallCount(res, QStringLiteral("connect")) - connectsBefore;
        if (connects != expected) {
            std::printf("tool calls: %d connects, expected %d\n", connects, expected);
        }
        // Not part of the direct side: what else the relays' start set off.
        batteryPerRound.push_back((adbCallCount(res, QStringLiteral("dumpsys")) - batteryBefore) /
                                  double(rounds + 1));
        const double mr = median(relay), md = median(direct);
        if (phones == 1) {
            firstPerPhone = mr;
        }
        std::printf("%-7d %12.1f %12.1f %7.2f %10.2f ms (x%.2f of 1 phone)\n", phones, mr, md,
                    mr / md, mr / phones, (mr / phones) / firstPerPhone);
    }
    std::printf("(medians of %d rounds; ratio = relay / direct sequential tool calls)\n", rounds);
    std::printf("battery queries the relays' start set off, per round: %.0f, %.0f, %.0f\n",
                batteryPerRound[0], batteryPerRound[1], batteryPerRound[2]);
    // The watcher ends with the controller, before its folder goes.
    owner.reset();
    test::waitUntil([] { return false; }, 500);
    return 0;
}

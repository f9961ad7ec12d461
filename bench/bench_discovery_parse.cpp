// Parsing a 64-device "adb devices -l" listing (parseDeviceListing) and evaluating a 64-device
// track-devices table (parseTrackEntries and evaluateTrackSnapshot over the table's lines), each
// against splitting the same text into lines, in one run. Rounds alternate between the work
// and its baseline so that both see the same machine load. Prints per-call medians and ratios;
// asserts nothing.
#include <time.h>

#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "discovery/device_listing.h"
#include "discovery/track_stream.h"

using namespace sonavel;

namespace {

constexpr int kDevices = 64;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Half USB phones, half their wireless endpoints, as adb lists them.
QString listingText() {
    QString text = QStringLiteral("List of devices attached\n");
    for (int i = 0; i < kDevices / 2; ++i) {
        const QString n = QString::number(i);
        text += QStringLiteral(
                    "R58M%1       device usb:1-%1 product:p%1 model:Pixel_%1 "
                    "device:d%1 transport_id:%1\n")
                    .arg(n);
        text += QStringLiteral(
                    "192.168.1.%1:5555      device product:p%1 model:Pixel_%1 "
                    "device:d%1 transport_id:%2\n")
                    .arg(n, QString::number(i + 100));
    }
    return text;
}

QString tableText() {
    QString text;
    for (int i = 0; i < kDevices; ++i) {
        text += i % 2 ? QStringLiteral("192.168.1.%1:5555\tdevice\n").arg(i)
                      : QStringLiteral("R58M%1\tdevice\n").arg(i);
    }
    return text;
}

double threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Nanoseconds of this thread's CPU time per call of f, over `repeat` calls. CPU time rather than
// wall time: the machine this runs on is shared, and a round that is preempted would otherwise
// count the other processes' time.
template <class F>
double perCall(int repeat, F&& f) {
    const double start = threadCpuNs();
    for (int i = 0; i < repeat; ++i) {
        f();
    }
    return (threadCpuNs() - start) / repeat;
}

volatile qsizetype sink = 0;

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(5, atoi(argv[1])) : 101;
    constexpr int kRepeat = 50;

    const QString listing = listingText();
    const QString table = tableText();
    // The watcher evaluates the lines its stream decoder has already cut.
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    TrackContext context;
    context.observedUSBSerial = QStringLiteral("R58M0");
    for (int i = 0; i < kDevices; i += 2) {
        context.knownPhysicalSerials.insert(QStringLiteral("R58M%1").arg(i));
    }
    context.endpoint = QStringLiteral("192.168.1.1:5555");

    std::vector<double> parse, parseBase, evaluate, evaluateBase;
    for (int r = 0; r < rounds; ++r) {
        parseBase.push_back(perCall(kRepeat, [&] { sink = sink + listing.split('\n').size(); }));
        parse.push_back(
            perCall(kRepeat, [&] { sink = sink + parseDeviceListing(listing).rows.size(); }));
        evaluateBase.push_back(perCall(kRepeat, [&] { sink = sink + table.split('\n').size(); }));
        evaluate.push_back(perCall(kRepeat, [&] {
            const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
            sink =
                sink + evaluateTrackSnapshot(parseTrackEntries(lines), context).newlyReady.size();
        }));
    }

    const double p = median(parse), pb = median(parseBase);
    const double e = median(evaluate), eb = median(evaluateBase);
    std::printf(
        "parseDeviceListing, %d devices: %.0f ns per call; line split %.0f ns; ratio %.2f\n",
        kDevices, p, pb, p / pb);
    std::printf(
        "track table evaluation, %d devices: %.0f ns per call; line split %.0f ns; "
        "ratio %.2f\n",
        kDevices, e, eb, e / eb);
    return 0;
}

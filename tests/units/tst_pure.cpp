#include <QDirIterator>

#include "battery/alert_decision.h"
#include "battery/alert_notice.h"
#include "battery/battery_dump_parser.h"
#include "connect/ip_probe.h"
#include "connect/usb_setup.h"
#include "discovery/device_listing.h"
#include "discovery/track_stream.h"
#include "platform/debugger_probe.h"
#include "platform/time_source.h"
#include "relay/connect_result.h"
#include "relay/output_lines.h"
#include "relay/relay_targets.h"
#include "relay/scrcpy_args.h"
#include "settings/endpoint_maps.h"
#include "support/rig.h"
#include "ui/presentation.h"
#include "ui/style.h"

using namespace sonavel;
using namespace sonavel::test;

// The parsers and decisions, without a controller or a process (but for the stored settings).
//
// tests/data/<parser>/<case>.txt holds a tool's output as captured, <case>.expected what is made
// of it, one field a line, written as below. A new case needs only the two files.

namespace {

template <class T>
QString orNone(const std::optional<T>& value) {
    return value ? QVariant::fromValue(*value).toString() : QStringLiteral("none");
}

// Pipes cut a stream anywhere: every cut into two reads, and byte by byte, must read the same.
QStringList sameForEveryCut(const QByteArray& bytes,
                            const std::function<QStringList(const QList<QByteArray>&)>& read) {
    QList<QList<QByteArray>> ways{{}};
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        ways[0] << bytes.mid(i, 1);
        ways << QList{bytes.left(i), bytes.mid(i)};
    }
    const QStringList whole = read({bytes});
    for (const QList<QByteArray>& reads : ways) {
        if (QStringList other = read(reads); other != whole) {
            return other << QStringLiteral("(read as %1 + ...)").arg(reads[0].size());
        }
    }
    return whole;
}

QString alertOf(const QMap<QString, int>& levels, const QMap<QString, bool>& charging) {
    const auto found = findBatteryAlertCondition(levels, charging);
    const bool low = found && found->kind == BatteryAlertKind::Low;
    return found ? found->identifier + (low ? " low" : " high") : QStringLiteral("none");
}

// One alert evaluation over readings "a:2 b:90+" (+ for charging), the condition sounding so far
// and the stops, as "<sounding after> | <stops after>": "b high | a low".
QString evaluated(const QString& readings, const QString& sounding = {},
                  const QString& stops = {}) {
    const auto condition = [](const QString& text) {
        const QStringList p = text.split(' ');
        return BatteryAlertCondition{p[1] == "low" ? BatteryAlertKind::Low : BatteryAlertKind::High,
                                     p[0], 0};
    };
    QMap<QString, int> levels;
    QMap<QString, bool> charging;
    for (const QString& r : readings.split(' ', Qt::SkipEmptyParts)) {
        const QString id = r.section(':', 0, 0), level = r.section(':', 1);
        levels[id] = QString(level).remove('+').toInt();
        charging[id] = level.endsWith('+');
    }
    StoppedBatteryAlerts stopped;
    for (const QString& stop : stops.split(", ", Qt::SkipEmptyParts)) {
        stopped.insert(condition(stop).identifier, condition(stop).kind);
    }
    const BatteryAlertDecision d = decideBatteryAlert(
        levels, charging, sounding.isEmpty() ? std::nullopt : std::optional(condition(sounding)),
        stopped);
    const auto name = [](BatteryAlertKind kind) {
        return kind == BatteryAlertKind::Low ? "low" : "high";
    };
    QStringList after;
    for (auto it = d.stopped.cbegin(); it != d.stopped.cend(); ++it) {
        after << it.key() + ' ' + name(it.value());
    }
    return (d.sounding ? d.sounding->identifier + ' ' + name(d.sounding->kind) : "none") + " | " +
           after.join(", ");
}

QStringList battery(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    const BatteryDump dump = parseBatteryDump(text);
    QStringList out{"level: " + orNone(dump.level),
                    "first level: " + orNone(parseFirstBatteryLevel(text)),
                    QStringLiteral("charging: ") + (dump.charging ? "yes" : "no")};
    if (dump.level) {
        const int stored = clampBatteryLevel(*dump.level);
        out << "stored level: " + QString::number(stored)
            << "alert: " + alertOf({{"a", stored}}, {{"a", dump.charging}});
    }
    return out;
}

QStringList listing(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    const DeviceListing parsed = parseDeviceListing(text);
    QStringList out;
    for (const DiscoveredDevice& d : parsed.rows) {
        out << "row: " +
                   QStringList{d.serial, d.name, d.state, d.transport, orNone(d.ip)}.join(" | ");
    }
    for (const QString& serial : parsed.ignoredTLSSerials) {
        out << "ignored: " + serial;
    }
    // The window before the refresh: wireless rows of a phone switched on, one relaying, one whose
    // battery was read and an idle one, which leaves once adb no longer lists it; a switch left on
    // for a phone never seen. The endpoints 10.0.0.1 to .4 have answered with their phones'
    // serial numbers: each USB Pixel_7 is paired with its own endpoint, whatever the listing order.
    static const RowsInUse before{
        {wirelessRow("192.168.1.20:5555", "Pixel_7"), wirelessRow("10.0.0.6:5555", "Moto"),
         wirelessRow("10.0.0.7:5555", "Nokia"), wirelessRow("10.0.0.8:5555", "Sony")},
        {"192.168.1.20:5555", "10.0.0.99:5555"},
        {"10.0.0.6:5555"},
        {"10.0.0.7:5555"},
        {{"10.0.0.1:5555", "B2"},
         {"10.0.0.2:5555", "A1"},
         {"10.0.0.3:5555", "R3CR30AB12"},
         {"10.0.0.4:5555", "R3CR30CD34"}}};
    const QVector<DiscoveredDevice> shown = buildVisibleRows(parsed.rows, before);
    const QVector<DiscoveredDevice> merged = mergeWithPreviousRows(shown, before);
    const QStringList names = distinctRowNames(merged, before.serialNumbers);
    for (qsizetype i = 0; i < merged.size(); ++i) {
        const DiscoveredDevice& d = merged[i];
        out << (shown.contains(d) ? "shown: " : "kept: ") + d.serial + " via " + orNone(d.ip) +
                   (names[i] != d.name ? " as " + names[i] : QString());
    }
    const USBPresence usb = findUSBDevice(text);
    return out << "cable: " + (usb.found ? usb.serial + " " + usb.state : QStringLiteral("none"));
}

// Each table is judged by two watchers: a new one, and one that has seen R58M12345 plugged in,
// knows it and OLD1, waits for the user to allow R58M12345, and relays 127.0.0.1:5601.
const TrackContext kWatchers[] = {
    {}, {"R58M12345", {"R58M12345", "OLD1"}, {"R58M12345"}, "127.0.0.1:5601"}};

QString verdict(const TrackEvaluation& ev) {
    const auto fact = [](bool on, const QString& text) { return on ? text : QString(); };
    QStringList facts{
        fact(ev.observedInitialized, "observe " + ev.observedUSBSerial.value_or(QString())),
        fact(ev.observedOffline, "observed offline"),
        fact(ev.observedMissing, "observed missing"),
        fact(ev.switchedTo.has_value(), "switch to " + ev.switchedTo.value_or(QString())),
        fact(ev.usbConnected, "cable"),
        fact(ev.wirelessOnline, "wireless"),
        fact(!ev.awaitingAdded.isEmpty(), "await " + ev.awaitingAdded.join(' ')),
        fact(!ev.awaitingCleared.isEmpty(), "allowed " + ev.awaitingCleared.join(' ')),
        fact(!ev.newlyReady.isEmpty(), "set up " + ev.newlyReady.join(' '))};
    facts.removeAll(QString());
    return facts.isEmpty() ? QStringLiteral("nothing") : facts.join(", ");
}

QStringList track(const QList<QByteArray>& reads) {
    QByteArray buffer;
    QStringList pending, out;
    std::optional<bool> framed;
    for (const QByteArray& read : reads) {
        for (const TrackSnapshot& table : feedTrackStream({buffer, pending, framed}, read)) {
            out << (table.complete ? "table" : "table (blank-line end)");
            const QVector<TrackEntry> entries = parseTrackEntries(table.lines);
            for (const TrackEntry& entry : entries) {
                out << "  " + entry.serial + " " + entry.state;
            }
            for (const TrackContext& watcher : kWatchers) {
                out << "  => " + verdict(evaluateTrackSnapshot(entries, watcher));
            }
        }
    }
    return out << "format: " + (framed ? (*framed ? "framed" : "blank lines") : QString("unknown"));
}

QStringList scrcpy(const QList<QByteArray>& reads) {
    static const char* const names[] = {"Android too old", "phone locked", "no audio output",
                                        "tool missing"};
    QByteArray pending;
    QStringList out;
    for (const QByteArray& read : reads) {
        for (const QByteArray& line : takeCompleteLines(pending, read)) {
            if (const auto cause = silenceCauseOfLine(decodeOutputLine(line).value_or(QString()))) {
                out << QStringLiteral("silent: ") + names[int(*cause)];
            }
        }
    }
    return pending.isEmpty() ? out : out << "unfinished: " + QString::fromUtf8(pending);
}

const QMap<QString, std::function<QStringList(const QByteArray&)>> parsers{
    {"battery", battery},
    {"listing", listing},
    {"track", [](auto b) { return sameForEveryCut(b, track); }},
    {"scrcpy", [](auto b) { return sameForEveryCut(b, scrcpy); }},
    {"connect",
     [](auto b) {
         const QString out = QString::fromUtf8(b);
         return QStringList{
             QStringLiteral("exit 0: ") + (connectSucceeded({0, out}) ? "yes" : "no"),
             QStringLiteral("exit 1: ") + (connectSucceeded({1, out}) ? "yes" : "no")};
     }},
    {"ip_probe", [](auto b) { return QStringList{"ip: " + orNone(addressFromProbeOutput(b))}; }},
    {"settings_map",
     [](const QByteArray& b) {
         const auto [switches, buffers] = std::pair(decodeBoolMap(b), decodeIntMap(b));
         return QStringList{"switches: " + (switches ? encodeBoolMap(*switches) : "rejected"),
                            "buffers: " + (buffers ? encodeIntMap(*buffers) : "rejected")};
     }},
    {"proc_status",
     [](const QByteArray& b) {
         return QStringList{"tracer: " + QString::number(tracerPidFromStatus(b))};
     }},
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class PureTest : public QObject {
    Q_OBJECT
private slots:
    void capturedOutputs_data();
    void capturedOutputs();
    void decisions();
    void batteryAlerts();
    void storedSettings();
    void windowColoursAndTexts();
};

void PureTest::capturedOutputs_data() {
    QTest::addColumn<QString>("capture");
    const QString root = QFINDTESTDATA("data");
    QVERIFY(!root.isEmpty());
    QDirIterator it(root, {"*.txt"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QTest::newRow(qPrintable(QDir(root).relativeFilePath(path))) << path;
    }
}

void PureTest::capturedOutputs() {
    QFETCH(QString, capture);
    const QFileInfo info(capture);
    const QString expectedPath = info.path() + '/' + info.completeBaseName() + ".expected";
    const QStringList made = parsers.value(info.dir().dirName())(readAll(capture));
    // Run with SONAVEL_WRITE_EXPECTED=1 to write what is made as expected; review the diff.
    if (qEnvironmentVariableIsSet("SONAVEL_WRITE_EXPECTED")) {
        QFile out(expectedPath);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write((made.join('\n') + '\n').toUtf8());
    }
    QCOMPARE(made, QString::fromUtf8(readAll(expectedPath)).split('\n', Qt::SkipEmptyParts));
}

void PureTest::decisions() {
    // The alert thresholds are read from dumps above; here what one dump cannot show.
    QCOMPARE(alertOf({{"a", 2}}, {}), "a low");  // charging never read counts as unplugged
    QCOMPARE(alertOf({{"b", 1}, {"a", 95}, {"c", 50}}, {{"a", true}}), "a high");  // key order

    QCOMPARE(scrcpyArguments("R58N", false, 150),
             (QStringList{"-s", "R58N", "--no-window", "--no-video", "--no-control",
                          "--audio-source=output", "--audio-buffer=150"}));
    QCOMPARE(scrcpyArguments("10.0.0.5:5555", true, 300),
             (QStringList{"-s", "10.0.0.5:5555", "--audio-source=output", "--audio-buffer=300"}));
    QList<int> buffers;
    for (const int ms : {95, 100, 155, 299, 300, 1000, INT_MIN, INT_MAX}) {
        buffers << normalizedAudioBuffer(ms);
    }
    QCOMPARE(buffers, (QList<int>{100, 100, 150, 290, 300, 300, 100, 300}));

    const QVector wifi{wirelessRow("10.0.0.2:5555"), wirelessRow("10.0.0.3:5555")};
    const QVector off{usbRow("A", "", "unauthorized"), usbRow("B", "", "offline")};
    QCOMPARE(relayCandidates(off, wifi), (QStringList{"10.0.0.2:5555", "10.0.0.3:5555"}));
    QCOMPARE(relayCandidates(off + QVector{usbRow("C")} + wifi, wifi), QStringList{"C"});
    const RelayTargets seeded = chooseRelayTargets({"B", "A"}, {});
    QCOMPARE(seeded.targets, (QStringList{"B", "A"}));
    QCOMPARE(seeded.seededEnabled, std::optional(QSet<QString>{"A", "B"}));
    QCOMPARE(chooseRelayTargets({"A", "B", "C"}, {"C", "A"}).targets, (QStringList{"A", "C"}));

    // A listing is news only when adb answered with its table, also right after starting its
    // server; a failed call says nothing of the phones.
    QVERIFY(deviceListingAnswered(0,
                                  "* daemon not running; starting now at tcp:5037\n* daemon "
                                  "started successfully\nList of devices attached\n\n"));
    QVERIFY(!deviceListingAnswered(1, "List of devices attached\n"));
    QVERIFY(!deviceListingAnswered(0, "error: protocol fault (couldn't read status)\n"));

    // A USB check wakes the window only with news of the cable.
    const USBPresence none;
    const USBPresence ready{true, "R58M", "device"};
    const USBPresence waiting{true, "R58M", "unauthorized"};
    const USBView empty;
    const USBView known{"R58M", true, {}};
    const USBView awaited{"R58M", true, {"R58M"}};
    QList<bool> news;
    for (const auto& [found, view] :
         QList<std::pair<USBPresence, USBView>>{{none, empty},
                                                {none, known},
                                                {ready, empty},
                                                {ready, known},
                                                {ready, {"OTHER", true, {}}},
                                                {ready, awaited},
                                                {waiting, awaited},
                                                {ready, {std::nullopt, true, {}}}}) {
        news << usbFindingChangesView(found, view);
    }
    QCOMPARE(news, (QList<bool>{false, true, true, false, true, true, false, true}));

    // A switched-on phone back at another endpoint takes its switch there; one back at its own
    // endpoint, or a stranger at a new one, moves nothing.
    const SerialNumbers away{{"10.0.0.2:5555", "PHONE_A"}, {"10.0.0.3:5555", "PHONE_B"}};
    QCOMPARE(endpointsMoved(away, {{"10.0.0.9:41234", "PHONE_A"},
                                   {"10.0.0.3:5555", "PHONE_B"},
                                   {"10.0.0.4:5555", "PHONE_C"}}),
             (QMap<QString, QString>{{"10.0.0.2:5555", "10.0.0.9:41234"}}));
    QVERIFY(endpointsMoved(away, {}).isEmpty());

    const TimeSource fast(0.001);
    QCOMPARE(fast.duration(5.0), std::chrono::milliseconds(5));
    QCOMPARE(fast.duration(0.3), std::chrono::milliseconds(1));  // "later" never becomes "now"

    QList<bool> japanese;
    for (const QStringList& list : QList<QStringList>{
             {"ja-JP"}, {"ja"}, {"ja-Jpan-JP", "en"}, {"en-US", "ja-JP"}, {"JA"}, {}, {"", "ja"}}) {
        japanese << (languageFor(list) == Language::Japanese);
    }
    QCOMPARE(japanese, (QList<bool>{true, true, true, false, false, false, false}));

    // Whatever the state, the guide's symbol belongs to its text.
    const QMap<QString, TextKey> pairs{{"waveform", TextKey::guideRelayActive},
                                       {"iphone", TextKey::guideRelayStarting},
                                       {"arrow.triangle.2.circlepath", TextKey::guideReconnecting},
                                       {"checkmark.circle", TextKey::guideConnectionReady},
                                       {"cable.connector", TextKey::guideAndroidDetected},
                                       {"info.circle", TextKey::guideSetup}};
    for (int bits = 0; bits < 256; ++bits) {
        WindowState s;
        std::tie(s.scrcpyActive, s.hasRelayProcesses, s.isUSBDeviceConnected, s.isRunning) =
            std::tuple(bits & 1, bits & 2, bits & 4, bits & 8);
        // No wireless row, one without an address, or two or three with one.
        s.connectedTCPIPDevices.fill(wirelessRow(bits & 32 ? "10.0.0.2:5555" : ""),
                                     (bits >> 4) & 3);
        if (bits & 128) {
            s.enabledEndpoints = {"10.0.0.2:5555"};
        }
        if (bits & 64) {
            s.missingTools = QStringList{"scrcpy"};
        }
        const TextKey key = connectionGuideKey(s);
        QCOMPARE(int(pairs.value(guideIconName(s), TextKey::guideToolsMissing)), int(key));
        QCOMPARE(key == TextKey::guideToolsMissing, bool(bits & 64));  // whatever else holds
    }
}

void PureTest::batteryAlerts() {
    // The first condition sounds, and keeps sounding while it holds, whoever else joins.
    QCOMPARE(evaluated("a:1 b:90+ c:50"), "a low | ");
    QCOMPARE(evaluated("a:1 b:90+", "b high"), "b high | ");
    QCOMPARE(evaluated("a:1 b:80+", "b high"), "a low | ");
    // A stop holds while its condition does, and while its phone has no reading to say otherwise;
    // another phone or the other threshold sounds meanwhile.
    QCOMPARE(evaluated("a:95+", "", "a high"), "none | a high");
    QCOMPARE(evaluated("b:2", "", "a low"), "b low | a low");
    QCOMPARE(evaluated("a:2", "", "a high"), "a low | ");
    QCOMPARE(evaluated("a:3", "", "a low"), "none | ");
    QCOMPARE(evaluated("a:-1", "", "a low"), "none | a low");  // -1 is no reading

    // The notice and the window's row name the phone; a phone without a row goes by identifier.
    const auto tr = [](Language language) {
        return [language](TextKey key) { return text(key, language); };
    };
    const BatteryAlertCondition low{BatteryAlertKind::Low, "SER1", 2};
    const QVector rows{usbRow("SER1", "Pixel_7")};
    QCOMPARE(batteryAlertNotice(low, alertDeviceName(rows, "SER1"), tr(Language::English)),
             (AlertNotice{"Low battery", "Pixel_7 is at 2 %: charge it"}));
    QCOMPARE(batteryAlertNotice({BatteryAlertKind::High, "10.0.0.2:5555", 85},
                                alertDeviceName(rows, "10.0.0.2:5555"), tr(Language::Japanese)),
             (AlertNotice{"充電がほぼ完了しました",
                          "10.0.0.2:5555は85%で充電中です。充電器を外してください"}));
    WindowState s;
    s.discoveredDevices = rows;
    QCOMPARE(alertRowText(s, tr(Language::English)), "Battery alert is playing");
    s.alertIdentifier = "SER1";
    QCOMPARE(alertRowText(s, tr(Language::English)), "Battery alert for Pixel_7 is playing");
    s.alertHasNoSoundOutput = true;
    QCOMPARE(alertRowText(s, tr(Language::Japanese)),
             "Pixel_7のバッテリー警告：音声の出力先が見つかりません");
}

void PureTest::storedSettings() {
    // A buffer of 0 is no choice; a corrupt map is dropped, the other one kept.
    Rig r({.prepare = [](TestEnvironment& env) {
        const auto s = env.settings();
        s->setValue("audioBufferMs", 0);
        s->setValue("endpoint", "192.168.1.20:5555");
        s->setValue("videoEnabledByEndpoint", QByteArray(R"({"a":tru)"));
        // An older or edited file: buffers out of range are used clamped.
        s->setValue("audioBufferMsByEndpoint", QByteArray(R"({"a":120,"b":5000,"c":-5,"d":155})"));
    }});
    QVERIFY(waitUntil([&] { return r.c->endpoint() == "192.168.1.20:5555"; }));
    drainMainQueue();
    QCOMPARE(r.c->audioBufferMs(), 200);
    QVERIFY(r.c->videoEnabledByEndpoint().isEmpty());
    QCOMPARE(r.c->audioBufferMsByEndpoint(),
             (QMap<QString, int>{{"a", 120}, {"b", 300}, {"c", 100}, {"d", 150}}));
}

void PureTest::windowColoursAndTexts() {
    // WCAG's own reference points: black on white, grey #767676 just passing 4.5:1 on white.
    QCOMPARE(qRound(contrastRatio(Qt::black, Qt::white) * 100), 2100);
    QCOMPARE(qRound(contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white) * 100), 454);
    QCOMPARE(contrastRatio(QColor(0, 0, 0, 0), Qt::white), 1.0);  // a transparent text is invisible

    // However poor a palette's own text colour, the window's text colours stay legible on every
    // surface they are drawn on.
    QPalette murky;
    murky.setColor(QPalette::Window, QColor(90, 90, 90));
    murky.setColor(QPalette::WindowText, QColor(120, 120, 120));
    const Theme t = themeFor(murky);
    for (const QColor& text : {t.primaryText, t.secondaryText, t.relayGreen, t.warning}) {
        for (const QColor& surface :
             {t.backgroundTop, t.backgroundBottom, compositeOver(t.cardFill, t.backgroundTop),
              compositeOver(t.cardFill, t.backgroundBottom)}) {
            QVERIFY(contrastRatio(text, surface) >= kMinimumTextContrast);
        }
    }

    // Elsewhere than on macOS the texts name the computer, and the macOS wording stays as it was.
    // The Japanese texts say リレー, and put no space between Japanese and Latin letters.
    const QRegularExpression spaced(R"([\x{3040}-\x{30ff}\x{4e00}-\x{9fff}] [A-Za-z0-9]|)"
                                    R"([A-Za-z0-9] [\x{3040}-\x{30ff}\x{4e00}-\x{9fff}])");
    for (int key = 0; key <= int(TextKey::listSeparator); ++key) {
        for (const Language language : {Language::English, Language::Japanese}) {
            const QString other = text(TextKey(key), language, Platform::Other);
            QVERIFY2(!other.contains("Mac") && !other.contains("Apple"), qPrintable(other));
        }
        const QString japanese = text(TextKey(key), Language::Japanese, Platform::Mac);
        QVERIFY2(!japanese.contains("中継") && !japanese.contains(spaced), qPrintable(japanese));
    }
    QVERIFY(text(TextKey::guideSetup, Language::English, Platform::Mac)
                .endsWith("your Mac and Android are on the same Wi-Fi network.\n\n"
                          "Apple Developer notarized\n"));
    QCOMPARE(text(TextKey::guideRelayActive, Language::Japanese, Platform::Other),
             "音声リレー中です。Androidの音声がコンピュータに転送されています。");
}
QTEST_GUILESS_MAIN(PureTest)
#include "tst_pure.moc"

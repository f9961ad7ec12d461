#include <QTest>

#include "relay/connect_result.h"
#include "relay/output_lines.h"
#include "relay/relay_targets.h"
#include "relay/scrcpy_args.h"
#include "relay/silence_cause.h"
#include "relay_rig.h"

using namespace sonavel;

class RelayLogicTest : public QObject {
    Q_OBJECT
private slots:
    void scrcpyArgumentLists();
    void audioBufferIsClampedAndRoundedDown();
    void connectOutcomeReadsTheOutput_data();
    void connectOutcomeReadsTheOutput();
    void outputIsCutOnlyAtLineFeeds();
    void candidatesPreferUsbAndChooseEnabled();
    void silenceCauseOfOutputLine_data();
    void silenceCauseOfOutputLine();
};

void RelayLogicTest::scrcpyArgumentLists() {
    QCOMPARE(scrcpyArguments("R58N", false, 150),
             (QStringList{"-s", "R58N", "--no-window", "--no-video", "--no-control",
                          "--audio-source=output", "--audio-buffer=150"}));
    QCOMPARE(scrcpyArguments("10.0.0.5:5555", true, 300),
             (QStringList{"-s", "10.0.0.5:5555", "--audio-source=output", "--audio-buffer=300"}));
    // Text from adb's output stays one argument, whatever it holds.
    const QString hostile = "x; rm -rf ~ $(id) 'a b'";
    QCOMPARE(scrcpyArguments(hostile, false, 100).at(1), hostile);
}

void RelayLogicTest::audioBufferIsClampedAndRoundedDown() {
    const QList<QPair<int, int>> cases{{95, 100},      {155, 150},    {299, 290}, {1000, 300},
                                       {-5, 100},      {100, 100},    {300, 300}, {209, 200},
                                       {INT_MIN, 100}, {INT_MAX, 300}};
    for (const auto& [in, out] : cases) {
        QCOMPARE(normalizedAudioBuffer(in), out);
    }
}

void RelayLogicTest::connectOutcomeReadsTheOutput_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("connected");
    QTest::newRow("connected") << 0 << "connected to 192.168.1.20:5555\n" << true;
    QTest::newRow("already") << 0 << "already connected to 192.168.1.20:5555\n" << true;
    QTest::newRow("after daemon start")
        << 0
        << "* daemon not running; starting now at tcp:5037\r\n* daemon started successfully\r\n"
           "connected to 192.168.1.20:5555\r\n"
        << true;
    // Debian's adb 29.0.6 and 34.0.5 exit 0 here.
    QTest::newRow("refused, status 0")
        << 0 << "failed to connect to '127.0.0.1:5599': Connection refused\n"
        << false;
    QTest::newRow("unable") << 0 << "unable to connect to 10.0.0.9:5555: Connection timed out\n"
                            << false;
    QTest::newRow("no daemon") << 0 << "cannot connect to daemon at tcp:5037: Connection refused\n"
                               << false;
    QTest::newRow("non-zero status") << 1 << "connected to 192.168.1.20:5555\n" << false;
    QTest::newRow("adb missing") << -1 << "" << false;
    QTest::newRow("silent") << 0 << "" << false;
}

void RelayLogicTest::connectOutcomeReadsTheOutput() {
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(bool, connected);
    QCOMPARE(connectSucceeded(AdbResult{status, output}), connected);
}

void RelayLogicTest::outputIsCutOnlyAtLineFeeds() {
    QByteArray pending;
    QCOMPARE(takeCompleteLines(pending, "INFO: scrcpy 2.4 <ht"), QList<QByteArray>{});
    QCOMPARE(takeCompleteLines(pending, "tps://github.com/Genymobile/scrcpy>\r\nINFO: Devi"),
             QList<QByteArray>{"INFO: scrcpy 2.4 <https://github.com/Genymobile/scrcpy>\r"});
    QCOMPARE(pending, QByteArray("INFO: Devi"));
    QCOMPARE(takeCompleteLines(pending, "ce: [samsung] SM-G991B\n\n"),
             (QList<QByteArray>{"INFO: Device: [samsung] SM-G991B", ""}));
    QVERIFY(pending.isEmpty());

    QCOMPARE(decodeOutputLine("done\r"), std::optional<QString>("done"));
    QCOMPARE(decodeOutputLine(""), std::optional<QString>(""));
    // A UTF-8 sequence split across two chunks decodes once the line is whole.
    QByteArray split;
    takeCompleteLines(split, "caf\xc3");
    const QList<QByteArray> lines = takeCompleteLines(split, "\xa9\n");
    QCOMPARE(decodeOutputLine(lines.value(0)), std::optional<QString>(QStringLiteral("caf\u00e9")));
    QCOMPARE(decodeOutputLine("\xff\xfe bad"), std::nullopt);
}

void RelayLogicTest::candidatesPreferUsbAndChooseEnabled() {
    using test::usbRows;
    using test::wirelessRows;
    const auto wireless = wirelessRows({"10.0.0.2:5555", "10.0.0.3:5555"});
    // Only usable USB rows count; then USB wins over wireless.
    QCOMPARE(relayCandidates(usbRows({"A"}, "unauthorized") + usbRows({"B"}, "offline"), wireless),
             (QStringList{"10.0.0.2:5555", "10.0.0.3:5555"}));
    QCOMPARE(relayCandidates(usbRows({"A"}) + wireless, wireless), QStringList{"A"});
    QCOMPARE(relayCandidates({}, {}), QStringList{});

    // One candidate: relayed whatever is enabled, nothing seeded.
    RelayTargets one = chooseRelayTargets({"A"}, {"Z"});
    QCOMPARE(one.targets, QStringList{"A"});
    QVERIFY(!one.seededEnabled);
    // Several with nothing enabled: all, in candidate order, and all become enabled.
    RelayTargets seeded = chooseRelayTargets({"B", "A"}, {});
    QCOMPARE(seeded.targets, (QStringList{"B", "A"}));
    QCOMPARE(seeded.seededEnabled, std::optional<QSet<QString>>(QSet<QString>{"A", "B"}));
    // Several with others enabled: none.
    QCOMPARE(chooseRelayTargets({"A", "B"}, {"C"}).targets, QStringList{});
    QCOMPARE(chooseRelayTargets({"A", "B", "C"}, {"C", "A"}).targets, (QStringList{"A", "C"}));
}

void RelayLogicTest::silenceCauseOfOutputLine_data() {
    using C = std::optional<SilenceCause>;
    QTest::addColumn<QString>("line");
    QTest::addColumn<C>("cause");
    // Lines of scrcpy 3.3.4 and of phones seen in the field.
    QTest::newRow("old android warning")
        << "[server] WARN: Audio disabled: it is not supported before Android 11"
        << C(SilenceCause::AndroidTooOld);
    QTest::newRow("locked android 11")
        << "[server] ERROR: On Android 11, audio capture must be started in the foreground, make "
           "sure that the device is unlocked when starting scrcpy."
        << C(SilenceCause::PhoneLocked);
    QTest::newRow("no sound output")
        << "ERROR: Could not open audio device: ALSA: Couldn't open audio device: No such file or "
           "directory"
        << C(SilenceCause::NoAudioOutput);
    QTest::newRow("android 10") << "[server] INFO: Device: [HUAWEI] HONOR HLK-AL00 (Android 10)"
                                << C(SilenceCause::AndroidTooOld);
    QTest::newRow("android 8.1.0")
        << "[server] INFO: Device: [QUALCOMM] FD THINKLET LC01 (Android 8.1.0)\r"
        << C(SilenceCause::AndroidTooOld);
    // Look-alikes.
    QTest::newRow("android 11") << "[server] INFO: Device: [Google] google Pixel 5 (Android 11)"
                                << C();
    QTest::newRow("android 14, model in parentheses")
        << "[server] INFO: Device: [acme] acme Phone (Android 9) (Android 14)" << C();
    QTest::newRow("preview code name")
        << "[server] INFO: Device: [Google] google Pixel 8 (Android VanillaIceCream)" << C();
    QTest::newRow("android 10 not at the end")
        << "[server] INFO: Device: [x] y (Android 10) z" << C();
    QTest::newRow("version 10 elsewhere") << "INFO: scrcpy 3.3.4 (Android 10 SDK)" << C();
    QTest::newRow("stream disabled")
        << "WARN: Demuxer 'audio': stream explicitly disabled by the device" << C();
    QTest::newRow("demuxer error") << "ERROR: Demuxer error" << C();
    QTest::newRow("disconnected") << "WARN: Device disconnected" << C();
    QTest::newRow("failed capture alone") << "[server] ERROR: Failed to start audio capture" << C();
    QTest::newRow("audio device opened") << "INFO: Opened audio device" << C();
    QTest::newRow("empty") << "" << C();
}

void RelayLogicTest::silenceCauseOfOutputLine() {
    QFETCH(QString, line);
    QFETCH(std::optional<SilenceCause>, cause);
    QCOMPARE(silenceCauseOfLine(line), cause);
}

QTEST_GUILESS_MAIN(RelayLogicTest)
#include "tst_relay_logic.moc"

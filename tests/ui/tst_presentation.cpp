#include <QTest>

#include "support/rows.h"
#include "ui/presentation.h"
#include "ui/spring.h"

using namespace sonavel;

namespace {

DiscoveredDevice wireless(const QString& ip, const QString& name = QStringLiteral("Pixel_7")) {
    return test::wirelessRow(ip, name);
}

DiscoveredDevice usb(const QString& serial, const QString& name = QStringLiteral("SM_S918B")) {
    return test::usbRow(serial, name);
}

TextLookup lookup(Language language) {
    return [language](TextKey key) { return text(key, language); };
}

const TextLookup english = lookup(Language::English);
const TextLookup japanese = lookup(Language::Japanese);

}  // namespace

class PresentationTest : public QObject {
    Q_OBJECT
private slots:
    void statusAndGuideFollowFirstMatch_data();
    void statusAndGuideFollowFirstMatch();
    void guideIconAndTextAlwaysAgree();
    void summaryRowName_data();
    void summaryRowName();
    void summaryRowEndpointAndFlags();
    void summaryRowNeverShowsCharging();
    void deviceRowFields();
    void placeholderNames();
    void silenceCauseOnlyWhileSwitchedOn();
    void statusLineRules_data();
    void statusLineRules();
    void bufferLabel();
    void springSettlesWithSmallOvershoot();
};

void PresentationTest::statusAndGuideFollowFirstMatch_data() {
    QTest::addColumn<bool>("scrcpyActive");
    QTest::addColumn<bool>("processes");
    QTest::addColumn<bool>("isRunning");
    QTest::addColumn<bool>("wirelessIP");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<int>("guide");
    auto row = [](const char* name, bool a, bool p, bool r, bool w, bool u, TextKey s,
                  const char* icon, TextKey g) {
        QTest::newRow(name) << a << p << r << w << u << int(s) << QString::fromLatin1(icon)
                            << int(g);
    };
    row("nothing", false, false, false, false, false, TextKey::unavailable, "info.circle",
        TextKey::guideSetup);
    row("usb only", false, false, false, false, true, TextKey::usbDetected, "cable.connector",
        TextKey::guideAndroidDetected);
    row("wireless ip", false, false, false, true, true, TextKey::readyToConnect, "checkmark.circle",
        TextKey::guideConnectionReady);
    row("running beats ready", false, false, true, true, true, TextKey::connecting,
        "checkmark.circle", TextKey::guideConnectionReady);
    // Processes already run while scrcpyActive is still false: the guide shows the relay, the
    // status bar does not yet.
    row("processes, not active", false, true, true, true, false, TextKey::connecting, "waveform",
        TextKey::guideRelayActive);
    row("processes, idle", false, true, false, false, false, TextKey::unavailable, "waveform",
        TextKey::guideRelayActive);
    row("active", true, true, true, true, true, TextKey::audioRelayActive, "waveform",
        TextKey::guideRelayActive);
}

void PresentationTest::statusAndGuideFollowFirstMatch() {
    QFETCH(bool, scrcpyActive);
    QFETCH(bool, processes);
    QFETCH(bool, isRunning);
    QFETCH(bool, wirelessIP);
    QFETCH(bool, usb);
    WindowState s;
    s.scrcpyActive = scrcpyActive;
    s.hasRelayProcesses = processes;
    s.isRunning = isRunning;
    s.isUSBDeviceConnected = usb;
    if (wirelessIP) {
        s.connectedTCPIPDevices = {wireless(QStringLiteral("192.168.1.20:5555"))};
    }
    QTEST(int(statusLabel(s)), "status");
    QTEST(guideIconName(s), "icon");
    QTEST(int(connectionGuideKey(s)), "guide");
}

void PresentationTest::guideIconAndTextAlwaysAgree() {
    const QMap<QString, TextKey> pairs = {{"waveform", TextKey::guideRelayActive},
                                          {"checkmark.circle", TextKey::guideConnectionReady},
                                          {"cable.connector", TextKey::guideAndroidDetected},
                                          {"info.circle", TextKey::guideSetup}};
    for (int bits = 0; bits < 32; ++bits) {
        WindowState s;
        s.scrcpyActive = bits & 1;
        s.hasRelayProcesses = bits & 2;
        s.isUSBDeviceConnected = bits & 4;
        s.isRunning = bits & 8;
        if (bits & 16) {
            s.connectedTCPIPDevices = {wireless(QStringLiteral("10.0.0.2:5555"))};
        }
        QCOMPARE(int(pairs.value(guideIconName(s))), int(connectionGuideKey(s)));
    }
    // A wireless entry whose ip is empty does not count as reachable.
    WindowState s;
    DiscoveredDevice blank = wireless(QString());
    s.connectedTCPIPDevices = {blank};
    QCOMPARE(guideIconName(s), QStringLiteral("info.circle"));
}

void PresentationTest::summaryRowName_data() {
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("discovered");
    QTest::addColumn<bool>("usbConnected");
    QTest::addColumn<bool>("wirelessConnected");
    QTest::addColumn<QString>("name");
    QTest::newRow("selected wins") << true << true << true << true << "Selected_Phone";
    QTest::newRow("first discovered") << false << true << false << false << "SM_S918B";
    QTest::newRow("nothing") << false << false << false << false << "Not detected";
    QTest::newRow("usb seen, not listed")
        << false << false << true << false << "Detecting Android\u2026";
    QTest::newRow("wireless without rows") << false << false << false << true << "Connected";
}

void PresentationTest::summaryRowName() {
    QFETCH(bool, selected);
    QFETCH(bool, discovered);
    QFETCH(bool, usbConnected);
    QFETCH(bool, wirelessConnected);
    WindowState s;
    if (selected) {
        s.selectedDevice = usb(QStringLiteral("SEL"), QStringLiteral("Selected_Phone"));
    }
    if (discovered) {
        s.discoveredDevices = {usb(QStringLiteral("R5C")), usb(QStringLiteral("OTHER"), "X")};
    }
    s.isUSBDeviceConnected = usbConnected;
    s.wirelessConnected = wirelessConnected;
    QTEST(summaryRowFields(s, english).name, "name");
}

void PresentationTest::summaryRowEndpointAndFlags() {
    // Nothing at all: no endpoint, no control, nothing drawn under the name.
    WindowState none;
    DeviceBlockFields f = summaryRowFields(none, english);
    QVERIFY(!f.endpoint && !f.relayControlEndpoint && !f.usbOK && !f.audioOK && !f.batteryLevel);
    QCOMPARE(statusLines(f, english), StatusLines{});

    // The stored endpoint counts only when it is wireless.
    WindowState stored;
    stored.endpoint = QStringLiteral("R5CT1234");
    QVERIFY(!summaryRowFields(stored, english).endpoint);
    stored.endpoint = QStringLiteral("192.168.1.20:5555");
    f = summaryRowFields(stored, english);
    QCOMPARE(f.endpoint, std::optional<QString>(QStringLiteral("192.168.1.20:5555")));
    QCOMPARE(f.relayControlEndpoint, f.endpoint);
    QVERIFY(f.wirelessOK);
    QVERIFY(!f.audioOK);

    // The selected device's ip beats the stored endpoint; audio is that endpoint's relay test.
    WindowState sel = stored;
    sel.selectedDevice = wireless(QStringLiteral("10.0.0.7:5555"));
    sel.enabledEndpoints = {QStringLiteral("10.0.0.7:5555")};
    sel.runningRelayEndpoints = {QStringLiteral("10.0.0.7:5555")};
    sel.hasRelayProcesses = true;
    f = summaryRowFields(sel, english);
    QCOMPARE(*f.endpoint, QStringLiteral("10.0.0.7:5555"));
    QVERIFY(f.audioOK);

    // Without an endpoint, audio means any relay at all and usbOK any USB row.
    WindowState relaying;
    relaying.hasRelayProcesses = true;
    relaying.discoveredDevices = {usb(QStringLiteral("R5C"))};
    f = summaryRowFields(relaying, english);
    QVERIFY(f.audioOK);
    QVERIFY(f.usbOK);
    QVERIFY(!f.relayControlEndpoint);
}

void PresentationTest::summaryRowNeverShowsCharging() {
    WindowState s;
    s.selectedDevice = wireless(QStringLiteral("10.0.0.7:5555"));
    s.batteryLevel = 90;
    s.batteryCharging = {{QStringLiteral("10.0.0.7:5555"), true}};
    const DeviceBlockFields f = summaryRowFields(s, english);
    QCOMPARE(f.batteryLevel, std::optional<int>(90));
    QVERIFY(!f.charging);
}

void PresentationTest::deviceRowFields() {
    WindowState s;
    const DiscoveredDevice phone = wireless(QStringLiteral("192.168.1.20:5555"));
    s.batteryLevels = {{QStringLiteral("192.168.1.20:5555"), 0}};
    s.batteryCharging = {{QStringLiteral("192.168.1.20:5555"), true}};
    DeviceBlockFields f = sonavel::deviceRowFields(s, phone);
    QCOMPARE(f.name, QStringLiteral("Pixel_7"));
    QCOMPARE(f.batteryLevel, std::optional<int>(0));
    QVERIFY(f.charging);
    QVERIFY(f.wirelessOK);
    QVERIFY(!f.usbOK);
    QCOMPARE(*f.relayControlEndpoint, QStringLiteral("192.168.1.20:5555"));

    // A paired entry without ip: keyed by serial, no battery, no charging, still a control.
    DiscoveredDevice bare = usb(QStringLiteral("R5CT1234"));
    s.batteryLevels.insert(QStringLiteral("R5CT1234"), 50);
    s.batteryCharging.insert(QStringLiteral("R5CT1234"), true);
    f = sonavel::deviceRowFields(s, bare);
    QVERIFY(!f.batteryLevel);
    QVERIFY(!f.charging);
    QVERIFY(!f.wirelessOK);
    QVERIFY(f.usbOK);
    QCOMPARE(*f.relayControlEndpoint, QStringLiteral("R5CT1234"));
    QCOMPARE(relayControlKey(bare), QStringLiteral("R5CT1234"));
}

void PresentationTest::placeholderNames() {
    QVERIFY(isPlaceholderName(QString(), english));
    QVERIFY(isPlaceholderName(QStringLiteral(" \n\t"), english));
    QVERIFY(isPlaceholderName(QStringLiteral("Not detected"), english));
    QVERIFY(isPlaceholderName(QStringLiteral("  Not detected\n"), english));
    QVERIFY(isPlaceholderName(QStringLiteral("\u672a\u691c\u51fa"), japanese));
    // The English wording still counts while the interface is Japanese.
    QVERIFY(isPlaceholderName(QStringLiteral("Not detected"), japanese));
    QVERIFY(!isPlaceholderName(QStringLiteral("\u672a\u691c\u51fa"), english));
    QVERIFY(!isPlaceholderName(QStringLiteral("Pixel_7"), english));
    QVERIFY(!isPlaceholderName(QStringLiteral("not detected"), english));
}

void PresentationTest::silenceCauseOnlyWhileSwitchedOn() {
    const QString ip = QStringLiteral("192.168.1.20:5555");
    WindowState s;
    s.silenceCauses = {{ip, SilenceCause::PhoneLocked}};
    s.endpoint = ip;
    QVERIFY(!sonavel::deviceRowFields(s, wireless(ip)).silenceCause);
    QVERIFY(!summaryRowFields(s, english).silenceCause);

    s.enabledEndpoints = {ip};
    const DeviceBlockFields f = sonavel::deviceRowFields(s, wireless(ip));
    QCOMPARE(f.silenceCause, std::optional<SilenceCause>(SilenceCause::PhoneLocked));
    // The summary row too, while it carries the endpoint's control.
    QCOMPARE(summaryRowFields(s, english).silenceCause, f.silenceCause);
    s.endpoint = QStringLiteral("R5CT1234");
    QVERIFY(!summaryRowFields(s, english).silenceCause);

    // A third line; the other two stay as they were.
    const StatusLines lines = statusLines(f, japanese);
    QCOMPARE(lines.audio, std::optional<TextKey>(TextKey::readyToConnect));
    QCOMPARE(lines.wireless, std::optional<TextKey>(TextKey::wirelessReady));
    QCOMPARE(japanese(*lines.silenceCause),
             QStringLiteral("\u7aef\u672b\u306e\u30ed\u30c3\u30af\u3092\u89e3\u9664\u3059"
                            "\u308b\u3068\u97f3\u58f0\u304c\u59cb\u307e\u308a\u307e\u3059"));
}

void PresentationTest::statusLineRules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("usbOK");
    QTest::addColumn<bool>("audioOK");
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QString>("wireless");
    QTest::newRow("placeholder, nothing") << "Not detected"
                                          << "" << false << false << ""
                                          << "";
    QTest::newRow("usb only") << "Pixel_7"
                              << "" << true << false << "USB detected"
                              << "Preparing wireless connection\u2026";
    QTest::newRow("endpoint, named") << "Pixel_7"
                                     << "192.168.1.20:5555" << true << false << "Ready"
                                     << "Wireless ready";
    QTest::newRow("endpoint, placeholder") << "Not detected"
                                           << "192.168.1.20:5555" << false << false << ""
                                           << "";
    QTest::newRow("blank endpoint") << "Pixel_7"
                                    << "  " << false << false << ""
                                    << "";
    QTest::newRow("relaying") << "Pixel_7"
                              << "192.168.1.20:5555" << false << true << "Audio relay active"
                              << "Ready";
}

void PresentationTest::statusLineRules() {
    QFETCH(QString, name);
    QFETCH(QString, endpoint);
    QFETCH(bool, usbOK);
    QFETCH(bool, audioOK);
    DeviceBlockFields f;
    f.name = name;
    if (!endpoint.isEmpty()) {
        f.endpoint = endpoint;
    }
    f.usbOK = usbOK;
    f.audioOK = audioOK;
    const StatusLines lines = statusLines(f, english);
    QTEST(lines.audio ? english(*lines.audio) : QString(), "audio");
    QTEST(lines.wireless ? english(*lines.wireless) : QString(), "wireless");
}

void PresentationTest::bufferLabel() {
    QCOMPARE(audioBufferLabel(150), QStringLiteral("150ms"));
    // The two "Ready" lines differ in Japanese.
    DeviceBlockFields ready;
    ready.name = QStringLiteral("Pixel_7");
    ready.endpoint = QStringLiteral("192.168.1.20:5555");
    QCOMPARE(japanese(*statusLines(ready, japanese).audio),
             QStringLiteral("\u63a5\u7d9a\u6e96\u5099\u5b8c\u4e86"));
    ready.audioOK = true;
    QCOMPARE(japanese(*statusLines(ready, japanese).wireless),
             QStringLiteral("\u6e96\u5099\u5b8c\u4e86"));
}

void PresentationTest::springSettlesWithSmallOvershoot() {
    const double settle = springSettleTime(kStatusSpringResponse, kStatusSpringDamping);
    QCOMPARE(springPosition(0, kStatusSpringResponse, kStatusSpringDamping), 0.0);
    QVERIFY(settle > 0.3 && settle < 1.5);
    double peak = 0;
    for (double t = 0; t <= settle; t += 0.005) {
        peak = std::max(peak, springPosition(t, kStatusSpringResponse, kStatusSpringDamping));
    }
    // Damping 0.85 overshoots by well under 1 %.
    QVERIFY(peak > 1.0 && peak < 1.01);
    QVERIFY(qAbs(springPosition(settle, kStatusSpringResponse, kStatusSpringDamping) - 1) < 0.001);
    QVERIFY(qAbs(springPosition(2 * settle, 0.5, 1.0) - 1) < 0.001);
}

QTEST_GUILESS_MAIN(PresentationTest)
#include "tst_presentation.moc"

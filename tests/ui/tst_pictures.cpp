// Renders the window in its main states, in English and Japanese, to PNG files for review.
// With SONAVEL_PICTURES_DIR set (scripts/render_window.sh does) the files are kept there;
// otherwise they go to a temporary folder and the test only checks that each state renders.
#include <QDir>
#include <QTest>

#include "app/root_view.h"
#include "ui/device_block.h"
#include "ui/main_view.h"
#include "window_rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kPhoneA = QStringLiteral("192.168.1.20:5555");
const QString kPhoneB = QStringLiteral("192.168.1.21:5555");

const QMap<QString, SilenceCause> kSilenceCauses{
    {QStringLiteral("silent-android-10"), SilenceCause::AndroidTooOld},
    {QStringLiteral("silent-locked"), SilenceCause::PhoneLocked},
    {QStringLiteral("silent-no-output"), SilenceCause::NoAudioOutput},
    {QStringLiteral("silent-tool-missing"), SilenceCause::ToolMissing},
};

bool relaying(ZovAdizuZadiRizov& c, const QString& endpoint) {
    const QProcess* p = c.scrcpyProcesses.value(endpoint).data();
    return c.scrcpyActive() && p && p->state() == QProcess::Running;
}

}  // namespace

class PicturesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void render_data();
    void render();

private:
    QString outputDir_;
    QTemporaryDir temp_;
};

void PicturesTest::initTestCase() {
    outputDir_ = qEnvironmentVariable("SONAVEL_PICTURES_DIR");
    if (outputDir_.isEmpty()) {
        outputDir_ = temp_.path();
    }
    QVERIFY(QDir().mkpath(outputDir_));
}

void PicturesTest::render_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("language");
    for (const char* language : {"en", "ja"}) {
        for (const char* state : {"no-device", "usb-detected", "wireless-ready",
                                  "two-phones-relaying", "alert-playing"}) {
            QTest::addRow("%s-%s", state, language) << state << language;
        }
        for (const QString& state : kSilenceCauses.keys()) {
            QTest::addRow("%s-%s", qPrintable(state), language) << state << language;
        }
    }
}

void PicturesTest::render() {
    QFETCH(QString, state);
    QFETCH(QString, language);
    WindowRig rig({language}, false);
    RootView window(rig.env.config, [](const QString&) {});
    ZovAdizuZadiRizov& c = *window.controller();
    rig.settle(c);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    if (state == QStringLiteral("usb-detected")) {
        c.isUSBDeviceConnected.set(true);
    } else if (state == QStringLiteral("wireless-ready")) {
        c.isUSBDeviceConnected.set(true);
        c.connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"))});
        c.batteryLevels.set({{kPhoneA, 64}});
    } else if (state == QStringLiteral("two-phones-relaying")) {
        c.connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7")),
                                     wirelessEntry(kPhoneB, QStringLiteral("SM_S918B"))});
        c.setRelayEnabled(kPhoneA, true);
        QVERIFY(waitUntil([&] { return relaying(c, kPhoneA); }));
        rig.waitForQuietAdb();
        c.batteryLevels.set({{kPhoneA, 85}, {kPhoneB, 42}});
        c.batteryCharging.set({{kPhoneA, true}});
    } else if (kSilenceCauses.contains(state)) {
        // The switch on, the relay silent: the state alone, nothing started.
        c.connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"))});
        c.batteryLevels.set({{kPhoneA, 64}});
        c.enabledEndpoints.set({kPhoneA});
        c.silenceCauses.set({{kPhoneA, kSilenceCauses.value(state)}});
    } else if (state == QStringLiteral("alert-playing")) {
        c.connectedTCPIPDevices.set({wirelessEntry(kPhoneA, QStringLiteral("Pixel_7"))});
        c.batteryLevels.set({{kPhoneA, 2}});
        c.isAlertPlaying.set(true);
    }
    QTest::qWait(50);
    QTRY_VERIFY(!window.mainView()->statusLabel()->isAnimating());

    const QString file = QDir(outputDir_).filePath(state + QLatin1Char('-') + language + ".png");
    const QPixmap picture = window.grab();
    QVERIFY(!picture.isNull());
    QVERIFY(picture.save(file));
}

QTEST_MAIN(PicturesTest)
#include "tst_pictures.moc"

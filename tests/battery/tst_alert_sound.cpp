// The real alert sound on this machine. Build machines have no audio device; the sound must still
// load, "play" and stop without taking the process down.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include "app/controller.h"
#include "battery/system_alert_sound.h"
#include "platform/dispatch.h"
#include "support/test_support.h"

using namespace sonavel;

namespace {

// The resources folder the build lays out next to the programs.
QString builtResourcesDir() {
#if defined(Q_OS_MACOS)
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../Sonavel.app/Contents/Resources"));
#else
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../share/sonavel"));
#endif
}

}  // namespace

class AlertSoundTest : public QObject {
    Q_OBJECT
private slots:
    void shippedSoundLoopsAndStops();
    void missingOrForeignFileGivesNoSound();
    void controllerPlaysThePlatformSound();
};

void AlertSoundTest::shippedSoundLoopsAndStops() {
    const QString resources = builtResourcesDir();
#if !defined(Q_OS_MACOS)
    QVERIFY2(QFile::exists(QDir(resources).filePath(QStringLiteral("sounds/alert.wav"))),
             qPrintable(resources));
#endif
    std::unique_ptr<AlertSound> sound = loadPlatformAlertSound(resources);
    QVERIFY(sound);
    sound->play();
    QTest::qWait(300);
    sound->play();  // a restart while playing
    QTest::qWait(100);
    sound->stop();
    sound->stop();
    sound.reset();
    QTest::qWait(50);
}

void AlertSoundTest::missingOrForeignFileGivesNoSound() {
#if defined(Q_OS_MACOS)
    QSKIP("macOS finds its own system sounds");
#else
    QCOMPARE(systemSoundCandidates(QStringLiteral("Ping"), QStringLiteral("/nowhere")),
             QStringList());
    QVERIFY(!loadPlatformAlertSound(std::nullopt));
    test::FakeResources resources;
    QVERIFY(!loadPlatformAlertSound(resources.dir()));
    // An AIFF under the WAV's name is not something QSoundEffect can play.
    QDir(resources.dir()).mkpath(QStringLiteral("sounds"));
    resources.writeFile(QStringLiteral("sounds/alert.wav"), QByteArray("FORM\0\0\0\0AIFF", 12),
                        false);
    QVERIFY(!loadPlatformAlertSound(resources.dir()));
    // The system beep that stands in then is harmless too.
    playSystemBeep();
#endif
}

void AlertSoundTest::controllerPlaysThePlatformSound() {
    test::FakeResources resources;
    resources.installFake(QStringLiteral("adb"));
    QDir(resources.dir()).mkpath(QStringLiteral("sounds"));
    QFile shipped(QDir(builtResourcesDir()).filePath(QStringLiteral("sounds/alert.wav")));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    resources.writeFile(QStringLiteral("sounds/alert.wav"), shipped.readAll(), false);
    test::TestEnvironment env(&resources);  // makeAlertSound left empty: the platform's sound
    {
        ZovAdizuZadiRizov controller(env.config);
        controller.batteryLevels.set({{QStringLiteral("a"), 1}});
        controller.evaluateBatteryAlerts();
        QVERIFY(controller.isAlertPlaying());
        QTest::qWait(200);
        controller.stopAlertSound(true);
        QVERIFY(!controller.isAlertPlaying());
        // Started again once the condition cleared and came back: the same sound plays again.
        controller.batteryLevels.set({{QStringLiteral("a"), 50}});
        controller.evaluateBatteryAlerts();
        controller.batteryLevels.set({{QStringLiteral("a"), 2}});
        controller.evaluateBatteryAlerts();
        QVERIFY(controller.isAlertPlaying());
        QTest::qWait(100);
        // Destroyed while it plays.
    }
    drainMainQueue();
}

QTEST_MAIN(AlertSoundTest)
#include "tst_alert_sound.moc"

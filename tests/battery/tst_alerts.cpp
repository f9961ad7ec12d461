#include <QTest>

#include "app/controller.h"
#include "battery/alert_decision.h"
#include "platform/dispatch.h"
#include "recording_alert_sound.h"
#include "support/test_support.h"

using namespace sonavel;

namespace {

using Levels = QMap<QString, int>;
using Charging = QMap<QString, bool>;

}  // namespace

class BatteryAlertsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void conditions_data();
    void conditions();
    void firstMatchInKeyOrderIsReported();

    void lowBatteryStartsOnceAndLogsEveryTime();
    void clearedConditionStopsTheSound();
    void userStopSuppressesUntilConditionsClear();
    void withoutASoundEachAlertBeepsAndStaysQuiet();
    void stoppingTwiceIsHarmless();

private:
    // Sets the readings and evaluates, as an applied reading does.
    void evaluate(const Levels& levels, const Charging& charging);
    QStringList alertLog();

    std::unique_ptr<test::FakeResources> resources_;
    std::unique_ptr<test::TestEnvironment> env_;
    std::shared_ptr<test::AlertSoundJournal> sound_;
    std::unique_ptr<ZovAdizuZadiRizov> controller_;
};

void BatteryAlertsTest::init() {
    resources_ = std::make_unique<test::FakeResources>();
    resources_->installFake(QStringLiteral("adb"));
    env_ = std::make_unique<test::TestEnvironment>(resources_.get());
    sound_ = std::make_shared<test::AlertSoundJournal>();
    env_->config.makeAlertSound = test::recordingSoundFactory(sound_);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);
}

void BatteryAlertsTest::cleanup() {
    controller_.reset();
    drainMainQueue();
    env_.reset();
    resources_.reset();
}

void BatteryAlertsTest::evaluate(const Levels& levels, const Charging& charging) {
    controller_->batteryLevels.set(levels);
    controller_->batteryCharging.set(charging);
    controller_->evaluateBatteryAlerts();
}

QStringList BatteryAlertsTest::alertLog() {
    drainMainQueue();  // log entries reach `logs` through the main queue
    return test::logMessages(controller_->logs()).filter(QStringLiteral("[BatteryAlert]"));
}

void BatteryAlertsTest::conditions_data() {
    QTest::addColumn<Levels>("levels");
    QTest::addColumn<Charging>("charging");
    QTest::addColumn<QString>("line");  // empty: no condition
    const QString a = QStringLiteral("a");
    QTest::newRow("2% unplugged") << Levels{{a, 2}} << Charging{{a, false}}
                                  << QStringLiteral("[BatteryAlert] Low battery alert: 2%");
    QTest::newRow("3% unplugged") << Levels{{a, 3}} << Charging{{a, false}} << QString();
    QTest::newRow("1%, charging never read")
        << Levels{{a, 1}} << Charging{} << QStringLiteral("[BatteryAlert] Low battery alert: 1%");
    QTest::newRow("-1% unplugged") << Levels{{a, -1}} << Charging{{a, false}}
                                   << QStringLiteral("[BatteryAlert] Low battery alert: -1%");
    QTest::newRow("1% charging") << Levels{{a, 1}} << Charging{{a, true}} << QString();
    QTest::newRow("90% charging") << Levels{{a, 90}} << Charging{{a, true}}
                                  << QStringLiteral(
                                         "[BatteryAlert] High battery alert: 90% charging");
    QTest::newRow("85% charging") << Levels{{a, 85}} << Charging{{a, true}}
                                  << QStringLiteral(
                                         "[BatteryAlert] High battery alert: 85% charging");
    QTest::newRow("84% charging") << Levels{{a, 84}} << Charging{{a, true}} << QString();
    QTest::newRow("100% unplugged") << Levels{{a, 100}} << Charging{{a, false}} << QString();
    QTest::newRow("charging without level") << Levels{} << Charging{{a, true}} << QString();
}

void BatteryAlertsTest::conditions() {
    QFETCH(Levels, levels);
    QFETCH(Charging, charging);
    QFETCH(QString, line);
    const auto condition = findBatteryAlertCondition(levels, charging);
    QCOMPARE(condition.has_value(), !line.isEmpty());
    if (condition) {
        QCOMPARE(batteryAlertLogLine(*condition), line);
    }
}

void BatteryAlertsTest::firstMatchInKeyOrderIsReported() {
    const Levels levels{
        {QStringLiteral("b"), 1}, {QStringLiteral("a"), 95}, {QStringLiteral("c"), 50}};
    const auto condition = findBatteryAlertCondition(levels, {{QStringLiteral("a"), true}});
    QVERIFY(condition);
    QCOMPARE(condition->identifier, QStringLiteral("a"));
    QCOMPARE(condition->kind, BatteryAlertKind::High);
}

void BatteryAlertsTest::lowBatteryStartsOnceAndLogsEveryTime() {
    evaluate({{QStringLiteral("a"), 2}}, {{QStringLiteral("a"), false}});
    QVERIFY(controller_->isAlertPlaying());
    evaluate({{QStringLiteral("a"), 2}}, {{QStringLiteral("a"), false}});
    QCOMPARE(sound_->events, QStringList{QStringLiteral("play")});
    QCOMPARE(sound_->made, 1);
    QCOMPARE(alertLog(), (QStringList{QStringLiteral("[BatteryAlert] Low battery alert: 2%"),
                                      QStringLiteral("[BatteryAlert] Started looping alert sound"),
                                      QStringLiteral("[BatteryAlert] Low battery alert: 2%")}));
}

void BatteryAlertsTest::clearedConditionStopsTheSound() {
    // Two devices, one low: the alert plays until neither meets a condition.
    evaluate({{QStringLiteral("a"), 1}, {QStringLiteral("b"), 60}}, {});
    QVERIFY(controller_->isAlertPlaying());
    evaluate({{QStringLiteral("a"), 1}, {QStringLiteral("b"), 61}}, {});
    QVERIFY(controller_->isAlertPlaying());
    evaluate({{QStringLiteral("a"), 5}, {QStringLiteral("b"), 61}}, {});
    QVERIFY(!controller_->isAlertPlaying());
    QCOMPARE(sound_->events, (QStringList{QStringLiteral("play"), QStringLiteral("stop")}));
    QCOMPARE(alertLog().last(),
             QStringLiteral("[BatteryAlert] Stopped alert sound (userInitiated=false)"));
    // The same sound object is used again.
    evaluate({{QStringLiteral("a"), 90}}, {{QStringLiteral("a"), true}});
    QCOMPARE(sound_->made, 1);
    QCOMPARE(sound_->events.last(), QStringLiteral("play"));
}

void BatteryAlertsTest::userStopSuppressesUntilConditionsClear() {
    const QString a = QStringLiteral("a");
    evaluate({{a, 1}}, {{a, false}});
    controller_->stopAlertSound(true);
    QVERIFY(!controller_->isAlertPlaying());
    QVERIFY(controller_->alertSuppressed);
    QCOMPARE(alertLog().last(),
             QStringLiteral("[BatteryAlert] Stopped alert sound (userInitiated=true)"));

    // Still low: logged, not restarted.
    evaluate({{a, 1}}, {{a, false}});
    QCOMPARE(alertLog().last(), QStringLiteral("[BatteryAlert] Low battery alert: 1%"));
    QCOMPARE(sound_->events, (QStringList{QStringLiteral("play"), QStringLiteral("stop")}));

    // Charging below 85 % clears the condition and with it the suppression; no stop is logged,
    // since nothing plays.
    const int linesBefore = alertLog().size();
    evaluate({{a, 1}}, {{a, true}});
    QVERIFY(!controller_->alertSuppressed);
    QCOMPARE(alertLog().size(), linesBefore);

    // A later fall sounds again.
    evaluate({{a, 2}}, {{a, false}});
    QVERIFY(controller_->isAlertPlaying());
    QCOMPARE(sound_->events.last(), QStringLiteral("play"));
}

void BatteryAlertsTest::withoutASoundEachAlertBeepsAndStaysQuiet() {
    // A controller whose system has neither sound.
    controller_.reset();
    sound_ = std::make_shared<test::AlertSoundJournal>();
    env_->config.makeAlertSound = test::recordingSoundFactory(sound_, false);
    controller_ = std::make_unique<ZovAdizuZadiRizov>(env_->config);

    evaluate({{QStringLiteral("a"), 2}}, {});
    QVERIFY(!controller_->isAlertPlaying());
    evaluate({{QStringLiteral("a"), 2}}, {});
    QVERIFY(!controller_->isAlertPlaying());
    // Each evaluation tried again (and beeped); nothing claimed a looping sound.
    QCOMPARE(sound_->made, 2);
    QCOMPARE(alertLog(), (QStringList{QStringLiteral("[BatteryAlert] Low battery alert: 2%"),
                                      QStringLiteral("[BatteryAlert] Low battery alert: 2%")}));
}

void BatteryAlertsTest::stoppingTwiceIsHarmless() {
    controller_->stopAlertSound(true);
    controller_->stopAlertSound(true);
    QVERIFY(controller_->alertSuppressed);
    QVERIFY(!controller_->isAlertPlaying());
    QCOMPARE(sound_->made, 0);
    QCOMPARE(alertLog().size(), 2);
}

QTEST_GUILESS_MAIN(BatteryAlertsTest)
#include "tst_alerts.moc"

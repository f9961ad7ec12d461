#include <QTest>

#include "app/controller.h"
#include "discovery/discovery_test_helpers.h"
#include "support/real_adb.h"
#include "support/test_support.h"

using namespace sonavel;
using namespace sonavel::test;
using namespace sonavel::test::discovery;

// The watcher against Debian's adb: the stream really is length-prefixed, with the server's own
// lines in front when it had to start one.
class TrackRealAdbTest : public QObject {
    Q_OBJECT
private slots:
    void emptyTableMeansNothingAttached();

private:
    PrivateAdbServer server_{"15471"};
};

void TrackRealAdbTest::emptyTableMeansNothingAttached() {
    if (!realAdbInstalled()) {
        QSKIP("Debian's adb is not installed");
    }
    FakeResources resources;
    resources.installRealAdb();
    TestEnvironment env(&resources);
    {
        ZovAdizuZadiRizov c(env.config);
        c.usbDetectTimer.reset();
        // Start from the opposite so that the evaluation shows. (The USB flag is the presence
        // check's too, which would clear it first.)
        c.wirelessConnected.set(true);
        QVERIFY(waitLogged(
            c, QStringLiteral("[TrackDevices] Derived states -> USB:false Wireless:false"), 1));
        QVERIFY(!c.isUSBDeviceConnected());
        QVERIFY(!c.wirelessConnected());
        const QStringList log = logMessages(c.logs());
        QVERIFY(log.contains(QStringLiteral("[TrackDevices] Snapshot lines:\n")));
        QVERIFY(log.contains(QStringLiteral("[TrackDevices] Wireless state updated -> false")));
        QCOMPARE(c.trackStreamFramed, std::optional<bool>(true));
    }
    QVERIFY(waitUntil([] { return liveProcessObjects() == 0; }, 10000));
}

QTEST_GUILESS_MAIN(TrackRealAdbTest)
#include "tst_track_real_adb.moc"

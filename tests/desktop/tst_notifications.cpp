// The desktop notifications of battery alerts, through a session bus of the test's own (CTest runs
// this program under tests/support/with_session_bus.sh) and a notification service that records.
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "app/root_view.h"
#include "battery/alert_notifier.h"
#include "support/rig.h"

using namespace sonavel;
using namespace sonavel::test;

namespace {

const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";

// Stands in for the desktop's notification service, on a bus connection of its own so that the
// calls reach it through the bus as they would reach a real one.
class RecordingService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString app;
        uint replaces;
        QString summary, body;
        QStringList actions;
    };

    RecordingService()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "recording-service")) {}
    ~RecordingService() override { QDBusConnection::disconnectFromBus("recording-service"); }
    bool start() {
        return bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots) &&
               bus_.registerService(kService);
    }
    // What a click on the notice makes the service say.
    void click(uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
        signal << id << QString("default");
        bus_.send(signal);
    }

    QList<Notice> notices;
    QSet<uint> shown;  // the ids of the notices on screen

public slots:
    uint Notify(const QString& app, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        notices << Notice{app, replaces, summary, body, actions};
        const uint id = replaces ? replaces : 40 + uint(notices.size());
        shown.insert(id);
        return id;
    }
    void CloseNotification(uint id) { shown.remove(id); }

private:
    QDBusConnection bus_;
};

// Every message the notifier has sent so far has reached the bus: messages of one connection are
// handled in order, and this call waits for its answer.
void barrier() {
    QDBusConnection::sessionBus().interface()->isServiceRegistered("org.example.None");
}

struct SilentSound : AlertSound {
    void play() override {}
    void stop() override {}
};

}  // namespace

class NotificationsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            QSKIP("needs a session bus of its own: run through tests/support/with_session_bus.sh");
        }
    }

    void withoutAServiceNothingFails() {
        const auto notifier = makePlatformAlertNotifier({});
        notifier->show({"Low battery", "first"});
        notifier->withdraw();
        notifier->show({"Low battery", "second"});
        barrier();  // refused by the bus before the service below is there
        RecordingService service;
        QVERIFY(service.start());
        notifier->show({"Low battery", "third"});
        QVERIFY(waitUntil([&] { return service.notices.size() == 1; }));
        QCOMPARE(service.notices[0].replaces, 0u);  // nothing was kept of the refused ones
        // Taken back before its answer came: it goes once the service has named it.
        notifier->show({"High", "fourth"});
        notifier->withdraw();
        QVERIFY(waitUntil([&] { return service.notices.size() == 2 && service.shown.isEmpty(); }));
    }

    void alertsAreToldInTheUsersLanguageAndAClickShowsTheWindow() {
        RecordingService service;
        QVERIFY(service.start());
        const QString rule = "when -s SER1 shell dumpsys battery\n";
        Rig rig({.adb = rule + "times 1\nout level: 2\n" + rule +
                        "times 1\nout status: 2\nout level: 90\n" + rule + "out level: 50\n",
                 .prepare =
                     [](TestEnvironment& env) {
                         env.config.makeAlertNotifier = makePlatformAlertNotifier;
                         env.config.makeAlertSound = [] { return std::make_unique<SilentSound>(); };
                     },
                 .makeController = false});
        RootView window(rig.env.config);
        Rig::settleStartup(*window.controller());
        ZovAdizuZadiRizov& c = *window.controller();
        c.discoveredDevices.set({usbRow("SER1", "Pixel_7")});

        c.refreshBatteryLevel("SER1");
        QVERIFY(waitUntil([&] { return service.notices.size() == 1; }));
        const auto notice = service.notices[0];
        QCOMPARE((QStringList{notice.app, notice.summary, notice.body}),
                 (QStringList{"Sonavel", "Low battery", "Pixel_7 is at 2 %: charge it"}));
        QVERIFY(notice.actions.contains("default"));

        // On the charger and full, in Japanese: the new notice takes the old one's place.
        *rig.languages = {"ja-JP"};
        c.refreshBatteryLevel("SER1");
        QVERIFY(
            waitUntil([&] { return service.notices.size() == 2 && service.shown.size() == 1; }));
        QCOMPARE((QStringList{service.notices[1].summary, service.notices[1].body}),
                 (QStringList{"充電がほぼ完了しました",
                              "Pixel_7は90%で充電中です。充電器を外してください"}));

        QVERIFY(!window.isVisible());
        service.click(*service.shown.begin());
        QVERIFY(waitUntil([&] { return window.isVisible(); }));
        // Unplugged at 50 %: nothing left to tell.
        c.refreshBatteryLevel("SER1");
        QVERIFY(waitUntil([&] { return service.shown.isEmpty(); }));
    }
};

QTEST_MAIN(NotificationsTest)
#include "tst_notifications.moc"

// The freedesktop notification service (org.freedesktop.Notifications) over the session D-Bus:
// what GNOME, KDE Plasma, Xfce and the standalone notification daemons implement.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QVariantMap>

#include "battery/alert_notifier.h"

namespace sonavel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = kService;
// The action a server invokes when the notice itself is clicked.
const QString kClickAction = QStringLiteral("default");
// Real milliseconds; the call is asynchronous, so this only bounds how long its reply is awaited.
constexpr int kCallTimeoutMs = 10000;
// "urgency" 2 is critical: servers keep such a notice until the user dismisses it, which suits an
// alarm that keeps sounding.
constexpr uchar kCriticalUrgency = 2;

class DBusAlertNotifier final : public QObject, public AlertNotifier {
    Q_OBJECT
public:
    explicit DBusAlertNotifier(std::function<void()> clicked) : clicked_(std::move(clicked)) {}

    void show(const AlertNotice& notice) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            return;
        }
        listen(bus);
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(kCriticalUrgency)},
                                {QStringLiteral("desktop-entry"), QStringLiteral("sonavel")}};
        call << QStringLiteral("Sonavel") << shown_ << QStringLiteral("sonavel") << notice.summary
             << notice.body << QStringList{kClickAction, QStringLiteral("Sonavel")} << hints
             << qint32(-1);
        const quint64 request = ++requests_;
        const uint replaces = shown_;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, request, replaces](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<uint> reply = *finished;
                    if (!reply.isError()) {
                        shownBy(request, replaces, reply.value());
                    }
                });
    }

    void withdraw() override {
        ++requests_;  // a notice whose reply is still under way is taken off when it comes
        if (shown_ != 0) {
            close(shown_);
            shown_ = 0;
        }
    }

private slots:
    void actionInvoked(uint id, const QString& action) {
        if (id != 0 && id == shown_ && action == kClickAction && clicked_) {
            clicked_();
        }
    }

    void notificationClosed(uint id, uint /*reason*/) {
        if (id == shown_) {
            shown_ = 0;
        }
    }

private:
    // The signals of any sender on the service's path: naming the service would make Qt ask the
    // bus for its owner, a call that blocks.
    void listen(QDBusConnection& bus) {
        if (listening_) {
            return;
        }
        listening_ = true;
        bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
    }

    // The server's id for the notice of `request`, sent to replace `replaces`. When a later show
    // or a withdraw has made it stale, it goes at once, unless it kept an id that was dealt with
    // already (taken off by the withdraw, or replaced in place by the newer notice).
    void shownBy(quint64 request, uint replaces, uint id) {
        if (request == requests_) {
            shown_ = id;
        } else if (id != shown_ && id != replaces) {
            close(id);
        }
    }

    static void close(uint id) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           QStringLiteral("CloseNotification"));
        call << id;
        // Sent without waiting for an answer: there is nothing to do with one.
        QDBusConnection::sessionBus().send(call);
    }

    std::function<void()> clicked_;
    uint shown_ = 0;  // the server's id of the notice on screen; 0 for none
    quint64 requests_ = 0;
    bool listening_ = false;
};

}  // namespace

std::unique_ptr<AlertNotifier> makePlatformAlertNotifier(std::function<void()> clicked) {
    return std::make_unique<DBusAlertNotifier>(std::move(clicked));
}

}  // namespace sonavel

#include "dbus_alert_notifier.moc"

#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>

namespace sonavel::test {

// The simulated phone (sim_phone.cpp) of a test, reached by the real adb server as the wireless
// device "127.0.0.1:PORT" after "adb connect". Main thread only.
class SimPhone {
public:
    // Picks a free loopback port, kept for the phone's life so that a restart reuses it.
    SimPhone();
    ~SimPhone() { stop(); }

    // Returns once the program listens (false, with the reason in `error`, when it does not).
    bool start(QString* error = nullptr);
    // Its connections drop without an adb goodbye, as when a phone leaves Wi-Fi range.
    void stop();
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Stopped, it takes another free port: started again, it is the same phone at a new endpoint,
    // as after a new Wi-Fi address or a new wireless debugging port.
    void moveToNewPort();
    // Seen by the next "dumpsys battery", also across a restart. `charging`: none, ac, usb or
    // wireless.
    bool setBattery(int level, const QString& charging);

private:
    quint16 port_ = 0;
    QTemporaryDir stateDir_;
    std::unique_ptr<QProcess> process_;
};

}  // namespace sonavel::test

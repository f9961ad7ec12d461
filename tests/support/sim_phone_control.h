#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// Starts and stops the simulated phone (sim_phone.cpp) from a test, and changes its battery while
// it runs. The real adb server reaches it as the wireless device "127.0.0.1:PORT" after
// "adb connect". Main thread only.

namespace sonavel::test {

// The sim_phone program: $SONAVEL_SIM_PHONE when set, else the one the build made, else empty
// (a test then skips).
QString simPhoneBinary();

// What the phone says about itself. Spaces in the model show as underscores in "devices -l".
struct SimPhoneConfig {
    QString product = QStringLiteral("sim_product");
    QString model = QStringLiteral("Sim Phone");
    QString device = QStringLiteral("simdevice");
    QString serial = QStringLiteral("SIM0000001");
    // The Wi-Fi address the address probes answer; empty means no Wi-Fi.
    QString ip = QStringLiteral("192.168.1.23");
    // "wlan0" or "wifi0": which interface probe finds the address.
    QString wifiInterface = QStringLiteral("wlan0");
    int batteryLevel = 80;
    // "none", "ac", "usb" or "wireless".
    QString charging = QStringLiteral("none");
    // false: an old phone whose shell merges stderr into stdout, ends lines in "\r\n" and whose
    // exit status adb does not pass on.
    bool shellV2 = true;
};

class SimPhone {
public:
    // Picks a free loopback port, kept for the phone's life so that a restart reuses it.
    explicit SimPhone(SimPhoneConfig config = {});
    ~SimPhone();
    SimPhone(const SimPhone&) = delete;
    SimPhone& operator=(const SimPhone&) = delete;

    // Starts the program and returns once it listens (false, with the reason in `error`, when
    // it does not). Battery changes made before survive a restart.
    bool start(QString* error = nullptr);
    // Ends the program: its connections drop without an adb goodbye, as when a phone leaves
    // Wi-Fi range. The adb server then lists it "offline" until "adb disconnect".
    void stop();
    bool isRunning() const;

    quint16 port() const { return port_; }
    // How adb names it: "127.0.0.1:PORT".
    QString endpoint() const;
    const SimPhoneConfig& config() const { return config_; }

    // Seen by the next "dumpsys battery"; returns false when the state file cannot be written.
    bool setBattery(int level, const QString& charging);

private:
    QString stateFile() const;

    SimPhoneConfig config_;
    quint16 port_ = 0;
    QTemporaryDir stateDir_;
    std::unique_ptr<QProcess> process_;
};

}  // namespace sonavel::test

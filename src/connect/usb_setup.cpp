#include "connect/usb_setup.h"

#include "app/controller.h"
#include "connect/ip_probe.h"
#include "platform/dispatch.h"
#include "relay/connect_result.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// Lets a server that "start-server" has just launched settle before it is asked for the device.
constexpr double kServerSettleSeconds = 0.3;
// "tcpip" restarts the phone's adb daemon; it takes a few seconds to listen on the network and
// to answer on USB again.
constexpr double kDaemonRestartSeconds = 5.0;
// Refreshes after the connect: at once, then twice more, because adb lists a fresh wireless
// device with its model only a moment after "connect" has returned.
constexpr double kLateRefreshSeconds[] = {1.0, 3.0};

const QString kProvisionalName = QStringLiteral("Android");
// The port the phone's adb daemon listens on over the network; empty while it listens on USB only.
const QString kTcpipPortProperty = QStringLiteral("service.adb.tcp.port");
const QString kReadyState = QStringLiteral("device");

// Main thread: the endpoint is the application's from now on, whether or not the connect works.
// A phone that had another endpoint takes its switch and settings along.
void applySetupEndpoint(ZovAdizuZadiRizov& c, const QString& serial, const QString& endpoint,
                        const QString& address) {
    c.appendLog(QStringLiteral("[Debug] autoUSBSetupIfNeeded set endpoint ") + endpoint);
    c.endpoint.set(endpoint);
    c.saveEndpoint();
    const QString previous = c.wirelessEndpointBySerial.value(serial);
    c.wirelessEndpointBySerial.insert(serial, endpoint);
    if (!previous.isEmpty() && previous != endpoint) {
        c.moveEndpoint(previous, endpoint);
    }
    // Runs later: the selection below sees the list as it is now.
    c.refreshDevices();
    if (c.selectedDevice()) {
        return;
    }
    for (const DiscoveredDevice& row : c.discoveredDevices()) {
        if (rowReachesAddress(row, endpoint, address)) {
            c.selectedDevice.set(row);
            return;
        }
    }
}

// Main thread, after a connect that worked.
void applySetupConnected(ZovAdizuZadiRizov& c, const QString& endpoint) {
    c.appendLog(QStringLiteral("[Debug] autoUSBSetupIfNeeded connected to ") + endpoint);
    // Set directly: this status is not meant for the log.
    c.statusText.set(c.text(TextKey::wirelessConnectionReady));
    const DiscoveredDevice row = provisionalWirelessRow(endpoint);
    QVector<DiscoveredDevice> devices = c.discoveredDevices();
    if (appendUnlessListed(devices, row)) {
        c.discoveredDevices.set(devices);
    }
    QVector<DiscoveredDevice> tcpip = c.connectedTCPIPDevices();
    if (appendUnlessListed(tcpip, row)) {
        c.connectedTCPIPDevices.set(tcpip);
    }
    if (!c.selectedDevice()) {
        c.selectedDevice.set(row);
    }
    c.refreshDevices();
    const ControllerRef r = c.ref();
    for (const double delay : kLateRefreshSeconds) {
        r.time().after(QoS::UserInitiated, delay,
                       [r] { r.post([](ZovAdizuZadiRizov& later) { later.refreshDevices(); }); });
    }
}

}  // namespace

bool rowReachesAddress(const DiscoveredDevice& row, const QString& endpoint,
                       const QString& address) {
    if (!row.ip || row.ip->isEmpty()) {
        return false;
    }
    if (*row.ip == endpoint) {
        return true;
    }
    const qsizetype colon = row.ip->lastIndexOf(QLatin1Char(':'));
    return colon > 0 && QStringView(*row.ip).left(colon) == address;
}

DiscoveredDevice provisionalWirelessRow(const QString& endpoint) {
    DiscoveredDevice row;
    row.serial = endpoint;
    row.name = kProvisionalName;
    row.state = kReadyState;
    row.ip = endpoint;
    row.transport = kTransportTCPIP;
    return row;
}

bool appendUnlessListed(QVector<DiscoveredDevice>& rows, const DiscoveredDevice& row) {
    for (const DiscoveredDevice& listed : rows) {
        if (listed.serial == row.serial || (listed.ip && listed.ip == row.ip)) {
            return false;
        }
    }
    rows.append(row);
    return true;
}

bool listensOnTcpipPort(const AdbResult& portProperty) {
    return portProperty.status == 0 &&
           portProperty.output.trimmed() == QString::number(adb::kTcpipPort);
}

void runUSBSetup(const ControllerRef& r, const QString& serial) {
    r.appendLog(QStringLiteral("[Debug] Auto USB setup: attempting adb tcpip 5555 for serial ") +
                serial);
    r.runADB(adb::startServer());
    r.sleep(kServerSettleSeconds);
    // The Wi-Fi address first: a phone without one (mobile data only, Wi-Fi off) stays on USB,
    // its daemon left as it was rather than opened on the network for nothing.
    std::optional<QString> address;
    for (const QString& command : ipProbeCommands()) {
        address = addressFromProbeOutput(r.runADB(adb::shell(serial, command)).output);
        if (address) {
            break;
        }
    }
    if (!address) {
        r.appendLog(QStringLiteral("[Debug] autoUSBSetupIfNeeded failed to get IP"));
        r.appendLog(
            QStringLiteral("Failed to determine Android IP over USB. Ensure Wireless debugging "
                           "or Wi\u2011Fi is enabled."));
        return;
    }
    // "tcpip" restarts the phone's adb daemon, which drops every connection to it, a relay over
    // Wi-Fi included. A daemon already on the port needs no restart (scrcpy asks the same
    // property before it restarts one).
    if (listensOnTcpipPort(r.runADB(adb::getprop(serial, kTcpipPortProperty)))) {
        r.appendLog(QStringLiteral("[Debug] Auto USB setup: serial ") + serial +
                    QStringLiteral(" already listens on port 5555; no tcpip"));
    } else {
        // A refusal (unauthorised phone, cable pulled) is only logged: the connect below tells
        // whether the phone answers on the network all the same.
        const AdbResult tcpip = r.runADB(adb::tcpip(serial));
        r.appendLog(QStringLiteral("[Debug] adb tcpip output: ") + tcpip.output);
        r.appendLog(QStringLiteral(
            "[Flow] tcpip done; waiting 5s before attempting IP resolution or connect"));
        r.sleep(kDaemonRestartSeconds);
    }
    if (!r.alive()) {
        return;
    }

    const QString endpoint = adb::endpointFor(*address);
    r.post([serial, endpoint, address = *address](ZovAdizuZadiRizov& c) {
        applySetupEndpoint(c, serial, endpoint, address);
    });
    r.appendLog(QStringLiteral("[Debug] Auto USB setup: discovered IP ") + endpoint);
    const AdbResult connected = r.runADB(adb::connect(endpoint));
    r.appendLog(QStringLiteral("[Debug] adb connect output: ") + connected.output);
    // adb exits 0 also when it could not connect; the output tells.
    if (!connectSucceeded(connected)) {
        r.appendLog(
            QStringLiteral("[Debug] adb connect failed in autoUSBSetupIfNeeded for endpoint ") +
            endpoint);
        return;
    }
    r.post([endpoint](ZovAdizuZadiRizov& c) { applySetupConnected(c, endpoint); });
}

void ZovAdizuZadiRizov::autoUSBSetupIfNeeded(const QString& serial) {
    // Callable from any thread: the guard and observedUSBSerial live on the main thread.
    if (!isMainThread()) {
        ref().post([serial](ZovAdizuZadiRizov& c) { c.autoUSBSetupIfNeeded(serial); });
        return;
    }
    if (!observedUSBSerial) {
        observedUSBSerial = serial;
        publishUSBCheckInputs();
        appendLog(QStringLiteral("[TrackDevices] observedUSBSerial set from setup -> ") + serial);
    }
    // A phone still waiting for the user to allow debugging refuses "tcpip", and a setup started
    // now would still be in its pause when the user allows it, so that the guard below would drop
    // the request its turn to "device" brings. That request sets it up.
    if (usbSerialsAwaitingReady.contains(serial)) {
        appendLog(QStringLiteral("[Debug] Auto USB setup waits until serial ") + serial +
                  QStringLiteral(" is authorised"));
        return;
    }
    // The USB check, the watcher and the automatic flow may each ask for the same phone within
    // moments. A second "tcpip" would restart the phone's daemon while the first setup probes or
    // connects, so one setup per serial runs at a time.
    if (usbSetupsInProgress.contains(serial)) {
        appendLog(QStringLiteral("[Debug] Auto USB setup already running for serial ") + serial +
                  QStringLiteral("; skipped"));
        return;
    }
    usbSetupsInProgress.insert(serial);
    runInBackground(QoS::UserInitiated, [serial](const ControllerRef& r) {
        runUSBSetup(r, serial);
        r.post([serial](ZovAdizuZadiRizov& c) { c.usbSetupsInProgress.remove(serial); });
    });
}

void ZovAdizuZadiRizov::setUpAgainIfWirelessLost(const QString& serial) {
    const QString wireless = wirelessEndpointBySerial.value(serial);
    if (wireless.isEmpty() || onlineWirelessSerials.contains(wireless) ||
        usbSetupsInProgress.contains(serial) || usbSerialsAwaitingReady.contains(serial)) {
        return;
    }
    appendLog(QStringLiteral("[Debug] Wireless endpoint ") + wireless +
              QStringLiteral(" of USB serial ") + serial +
              QStringLiteral(" is not online; setting it up again"));
    autoUSBSetupIfNeeded(serial);
}

void ZovAdizuZadiRizov::noteProbedEndpoint(const QString& serial, const QString& endpoint) {
    const QString known = wirelessEndpointBySerial.value(serial);
    if (known == endpoint || onlineWirelessSerials.contains(endpoint)) {
        // Known, or connected by someone else: remembered for the next loss.
        wirelessEndpointBySerial.insert(serial, endpoint);
        return;
    }
    // A new address, or one that is not connected yet: the setup connects it (without "tcpip"
    // when the daemon already listens) and moves the endpoint's switch along.
    appendLog(QStringLiteral("[Debug] USB serial ") + serial + QStringLiteral(" probed at ") +
              endpoint + QStringLiteral(" (was ") +
              (known.isEmpty() ? QStringLiteral("nil") : known) +
              QStringLiteral("); setting it up"));
    autoUSBSetupIfNeeded(serial);
}

}  // namespace sonavel

#include "app/controller.h"
#include "tools/tool_files.h"
#include "ui/presentation.h"

namespace sonavel {

WindowState windowStateOf(const ZovAdizuZadiRizov& c) {
    WindowState s;
    s.scrcpyActive = c.scrcpyActive();
    s.isRunning = c.isRunning();
    s.isUSBDeviceConnected = c.isUSBDeviceConnected();
    s.wirelessConnected = c.wirelessConnected();
    s.connectedTCPIPDevices = c.connectedTCPIPDevices();
    s.discoveredDevices = c.discoveredDevices();
    s.selectedDevice = c.selectedDevice();
    s.endpoint = c.endpoint();
    s.enabledEndpoints = c.enabledEndpoints();
    s.hasRelayProcesses = !c.scrcpyProcesses.isEmpty();
    for (auto it = c.scrcpyProcesses.cbegin(); it != c.scrcpyProcesses.cend(); ++it) {
        const QProcess* process = it.value().data();
        if (process && process->state() == QProcess::Running) {
            s.runningRelayEndpoints.insert(it.key());
        }
    }
    s.batteryLevel = c.batteryLevel();
    s.batteryLevels = c.batteryLevels();
    s.batteryCharging = c.batteryCharging();
    s.isAlertPlaying = c.isAlertPlaying();
    if (c.batteryAlert()) {
        s.alertIdentifier = c.batteryAlert()->identifier;
    }
    s.alertHasNoSoundOutput = c.alertHasNoSoundOutput();
    s.silenceCauses = c.silenceCauses();
    s.missingTools = missingToolFiles(c.ref().config().resourcesDir);
    s.listedSerials = c.listedSerials();
    s.serialsWithoutWifi = c.serialsWithoutWifi();
    s.serialNumbers = c.serialNumberByEndpoint;
    return s;
}

}  // namespace sonavel

#include <signal.h>

#include <QCoreApplication>

#include "app/controller.h"
#include "discovery/track_stream.h"
#include "platform/dispatch.h"
#include "tools/adb_commands.h"

namespace sonavel {

namespace {

// The tool ends when its server goes away; a new one follows after this pause, without limit.
constexpr double kRestartDelaySec = 2.0;

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// A watcher process that is no longer ours: its handlers are gone, it is asked to end, and the
// object deletes itself once the process has ended. It is parented to the application so that
// it is freed at the latest when the application object goes, even if its end is never seen.
void releaseProcess(QProcess* process) {
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](auto error) {
        if (error == QProcess::FailedToStart) {
            process->deleteLater();
        }
    });
    const qint64 pid = process->processId();
    if (pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
}

}  // namespace

void ZovAdizuZadiRizov::startTrackDevicesWatcher() {
    stopTrackDevicesWatcher();
    const std::optional<QString> adbPath = locateADB();
    if (!adbPath) {
        appendLog(QStringLiteral("[TrackDevices] adb not found; watcher not started"));
        return;
    }

    // Main-thread owned, so that its output and its end are delivered here. Both streams share
    // one channel: the tool's server messages arrive mixed with the tables.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(*adbPath);
    process->setArguments(adb::trackDevices());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    trackDevicesProcess = process;
    trackDevicesBuffer.clear();
    trackSnapshotLines.clear();
    trackStreamFramed.reset();

    // With this controller as context, the handlers vanish with it.
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (process != trackDevicesProcess) {
            return;
        }
        const QByteArray read = process->readAllStandardOutput();
        const QList<TrackSnapshot> tables =
            feedTrackStream({trackDevicesBuffer, trackSnapshotLines, trackStreamFramed}, read);
        for (const TrackSnapshot& table : tables) {
            processTrackSnapshot(table.lines, table.complete);
        }
    });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process != trackDevicesProcess) {
            return;
        }
        appendLog(QStringLiteral("[TrackDevices] watcher terminated; scheduling restart in 2s"));
        QObject::disconnect(process, nullptr, this, nullptr);
        trackDevicesProcess = nullptr;
        process->deleteLater();
        const ControllerRef r = ref();
        r.time().after(QoS::Utility, kRestartDelaySec,
                       [r] { r.post([](ZovAdizuZadiRizov& c) { c.startTrackDevicesWatcher(); }); });
    });
    connect(process, &QProcess::started, this,
            [this] { appendLog(QStringLiteral("[TrackDevices] watcher started")); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || process != trackDevicesProcess) {
            return;
        }
        appendLog(QStringLiteral("[TrackDevices] failed to start: ") + process->errorString());
        stopTrackDevicesWatcher();  // no restart follows
    });
    process->start();
}

void ZovAdizuZadiRizov::stopTrackDevicesWatcher() {
    if (QProcess* process = trackDevicesProcess.data()) {
        QObject::disconnect(process, nullptr, this, nullptr);
        trackDevicesProcess = nullptr;
        releaseProcess(process);
    }
    trackDevicesBuffer.clear();
    trackSnapshotLines.clear();
    trackStreamFramed.reset();
}

void ZovAdizuZadiRizov::processTrackSnapshot(const QStringList& lines, bool complete) {
    if (lines.isEmpty() && !complete) {
        return;
    }
    appendLog(QStringLiteral("[TrackDevices] Snapshot lines:\n") + lines.join(QLatin1Char('\n')));

    const QVector<TrackEntry> entries = parseTrackEntries(lines);
    const TrackEvaluation ev = evaluateTrackSnapshot(
        entries, {observedUSBSerial, knownPhysicalSerials, usbSerialsAwaitingReady, endpoint()});
    const QString previous = observedUSBSerial.value_or(QString());
    observedUSBSerial = ev.observedUSBSerial;
    if (ev.observedInitialized) {
        appendLog(QStringLiteral("[TrackDevices] Observed USB serial initialized -> ") +
                  *ev.observedUSBSerial);
    }
    if (ev.observedOffline) {
        appendLog(QStringLiteral("[TrackDevices] Observed USB serial ") + previous +
                  QStringLiteral(" reported OFFLINE -> treat as disconnected"));
    }
    if (ev.observedMissing) {
        appendLog(QStringLiteral("[TrackDevices] Observed USB serial ") + previous +
                  QStringLiteral(" missing from snapshot -> treat as disconnected"));
    }
    if (ev.switchedTo) {
        const QString s = *ev.switchedTo;
        appendLog(QStringLiteral("[TrackDevices] USB switched to new serial -> ") + s);
        ref().post(
            [](ZovAdizuZadiRizov& c) { c.statusText.set(c.text(TextKey::switchingDevice)); });
        ref().post([s](ZovAdizuZadiRizov& c) { c.autoUSBSetupIfNeeded(s); });
    }

    for (const QString& s : ev.awaitingAdded) {
        usbSerialsAwaitingReady.insert(s);
    }
    for (const QString& s : ev.awaitingCleared) {
        usbSerialsAwaitingReady.remove(s);
    }
    publishUSBCheckInputs();
    for (const QString& s : ev.newlyReady) {
        knownPhysicalSerials.insert(s);
        appendLog(QStringLiteral("[AutoNewUSB] New USB device detected: ") + s +
                  QStringLiteral(". Resolving IP and connecting..."));
        ref().post([s](ZovAdizuZadiRizov& c) {
            c.autoUSBSetupIfNeeded(s);
            c.refreshDevices();
            if (!c.isRunning()) {
                c.autoStartFullFlow();
            }
        });
    }

    // Only the device list names a wireless phone and offers its row: a phone connected before
    // the application started, or by another tool, is listed by this refresh alone.
    if (ev.onlineWireless != onlineWirelessSerials) {
        const QSet<QString> cameOnline = ev.onlineWireless - onlineWirelessSerials;
        onlineWirelessSerials = ev.onlineWireless;
        refreshDevices();
        for (const QString& wireless : cameOnline) {
            relayReturnedEndpoint(wireless);
        }
    }
    // A phone back on USB (after a reboot its daemon listens on USB only) whose endpoint is not
    // online is set up again; a phone seen for the first time was set up above.
    for (const TrackEntry& e : entries) {
        if (e.state == QLatin1String("device") && isUSBSerialToken(e.serial) &&
            !ev.newlyReady.contains(e.serial)) {
            ref().post([s = e.serial](ZovAdizuZadiRizov& c) { c.setUpAgainIfWirelessLost(s); });
        }
    }

    const bool usb = ev.usbConnected;
    const bool wireless = ev.wirelessOnline;
    ref().post(
        [usb, wireless](ZovAdizuZadiRizov& c) { c.applyDerivedConnectionStates(usb, wireless); });

    // Only a whole table lists every device: a stream without length prefixes may glue digits to
    // a serial.
    if (complete) {
        QSet<QString> listed;
        for (const TrackEntry& entry : entries) {
            if (entry.state == QLatin1String("device")) {
                listed.insert(entry.serial);
            }
        }
        dropBatteryReadingsNotListed(listed);
    }
}

void ZovAdizuZadiRizov::applyDerivedConnectionStates(bool usbConnected, bool wirelessOnline) {
    if (isUSBDeviceConnected() != usbConnected) {
        isUSBDeviceConnected.set(usbConnected);
        publishUSBCheckInputs();
        appendLog(QStringLiteral("[TrackDevices] USB state updated -> ") + boolText(usbConnected));
    }
    if (wirelessConnected() != wirelessOnline) {
        wirelessConnected.set(wirelessOnline);
        appendLog(QStringLiteral("[TrackDevices] Wireless state updated -> ") +
                  boolText(wirelessOnline));
    }
    appendLog(QStringLiteral("[TrackDevices] Derived states -> USB:") +
              boolText(isUSBDeviceConnected()) + QStringLiteral(" Wireless:") +
              boolText(wirelessConnected()));
}

}  // namespace sonavel

#include "support/sim_phone_control.h"

#include <QDeadlineTimer>
#include <QSaveFile>
#include <QTcpServer>

namespace sonavel::test {

namespace {

// Generous: a loaded machine running sanitizer builds can be slow to start a process.
constexpr int kLimitMs = 20000;

}  // namespace

SimPhone::SimPhone() {
    moveToNewPort();
    setBattery(80, QStringLiteral("none"));
}

void SimPhone::moveToNewPort() {
    stop();
    const quint16 old = port_;
    // The adb server scans 5555-5585 for emulators, so a phone there would be found uninvited.
    port_ = 0;
    for (int attempt = 0;
         attempt < 20 && (port_ == 0 || port_ == old || (port_ >= 5555 && port_ <= 5585));
         ++attempt) {
        QTcpServer probe;
        port_ = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }
}

bool SimPhone::start(QString* error) {
    process_ = std::make_unique<QProcess>();
    // Its complaints (a port in use) belong in the test's output.
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(QStringLiteral(SONAVEL_SIM_PHONE),
                    {QString::number(port_), stateDir_.filePath(QStringLiteral("battery"))});
    const QDeadlineTimer deadline(kLimitMs);
    while (!process_->canReadLine()) {
        if (deadline.hasExpired() ||
            (!process_->waitForReadyRead(100) && process_->state() == QProcess::NotRunning)) {
            if (error) {
                *error = QStringLiteral("sim_phone did not listen on port %1").arg(port_);
            }
            stop();
            return false;
        }
    }
    return true;
}

void SimPhone::stop() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(kLimitMs)) {
            process_->kill();
            process_->waitForFinished(kLimitMs);
        }
    }
    process_.reset();
}

bool SimPhone::setBattery(int level, const QString& charging) {
    // Written whole and renamed into place, so the phone never reads half a file.
    QSaveFile file(stateDir_.filePath(QStringLiteral("battery")));
    return file.open(QIODevice::WriteOnly) &&
           file.write(QStringLiteral("%1 %2\n").arg(level).arg(charging).toUtf8()) > 0 &&
           file.commit();
}

}  // namespace sonavel::test

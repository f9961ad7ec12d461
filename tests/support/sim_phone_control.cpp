#include "support/sim_phone_control.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSaveFile>
#include <QTcpServer>
#include <utility>

namespace sonavel::test {

namespace {

// Generous: a loaded machine running sanitizer builds can be slow to start a process.
constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 10000;

// The adb server scans 5555-5585 for emulators, so a phone there would be found uninvited.
bool emulatorPort(quint16 port) {
    return port >= 5555 && port <= 5585;
}

quint16 freeLoopbackPort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, 0) && !emulatorPort(probe.serverPort())) {
            return probe.serverPort();
        }
    }
    return 0;
}

}  // namespace

QString simPhoneBinary() {
    const QString fromEnvironment = qEnvironmentVariable("SONAVEL_SIM_PHONE");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
#ifdef SONAVEL_SIM_PHONE
    return QStringLiteral(SONAVEL_SIM_PHONE);
#else
    return {};
#endif
}

SimPhone::SimPhone(SimPhoneConfig config) : config_(std::move(config)), port_(freeLoopbackPort()) {
    setBattery(config_.batteryLevel, config_.charging);
}

SimPhone::~SimPhone() {
    stop();
}

bool SimPhone::start(QString* error) {
    auto fail = [&](const QString& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        stop();
        return false;
    };
    if (isRunning()) {
        return true;
    }
    const QString binary = simPhoneBinary();
    if (binary.isEmpty()) {
        return fail(QStringLiteral("the sim_phone program is unknown; set SONAVEL_SIM_PHONE"));
    }
    if (port_ == 0) {
        return fail(QStringLiteral("no free loopback port"));
    }
    QStringList arguments = {
        QStringLiteral("--port"),
        QString::number(port_),
        QStringLiteral("--product"),
        config_.product,
        QStringLiteral("--model"),
        config_.model,
        QStringLiteral("--device"),
        config_.device,
        QStringLiteral("--serial"),
        config_.serial,
        QStringLiteral("--ip"),
        config_.ip,
        QStringLiteral("--wifi-interface"),
        config_.wifiInterface,
        QStringLiteral("--battery-level"),
        QString::number(config_.batteryLevel),
        QStringLiteral("--charging"),
        config_.charging,
        QStringLiteral("--state-file"),
        stateFile(),
    };
    if (!config_.shellV2) {
        arguments << QStringLiteral("--no-shell-v2");
    }
    process_ = std::make_unique<QProcess>();
    // Its complaints (a port in use, a bad option) belong in the test's output.
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(binary, arguments);
    if (!process_->waitForStarted(kStartLimitMs)) {
        return fail(QStringLiteral("cannot start %1: %2").arg(binary, process_->errorString()));
    }
    process_->closeWriteChannel();
    // It prints "listening on 127.0.0.1:PORT" once the port accepts connections.
    const QDeadlineTimer deadline(kStartLimitMs);
    while (!process_->canReadLine()) {
        if (process_->state() != QProcess::Running || deadline.hasExpired()) {
            return fail(QStringLiteral("sim_phone did not listen on port %1").arg(port_));
        }
        process_->waitForReadyRead(100);
    }
    process_->readLine();
    return true;
}

void SimPhone::stop() {
    if (!process_) {
        return;
    }
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(kStopLimitMs)) {
            process_->kill();
            process_->waitForFinished(kStopLimitMs);
        }
    }
    process_.reset();
}

bool SimPhone::isRunning() const {
    return process_ && process_->state() == QProcess::Running;
}

QString SimPhone::endpoint() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

bool SimPhone::setBattery(int level, const QString& charging) {
    // Written whole and renamed into place, so the phone never reads half a file.
    QSaveFile file(stateFile());
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.write(QStringLiteral("level=%1\ncharging=%2\n").arg(level).arg(charging).toUtf8());
    return file.commit();
}

QString SimPhone::stateFile() const {
    return stateDir_.filePath(QStringLiteral("battery"));
}

}  // namespace sonavel::test

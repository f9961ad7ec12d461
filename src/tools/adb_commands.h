#pragma once

#include <QString>
#include <QStringList>

// Every argument list the application passes to adb, built in one place. Callers never assemble
// adb arguments themselves.

namespace sonavel::adb {

inline constexpr int kTcpipPort = 5555;

inline QStringList devicesLong() {
    return {QStringLiteral("devices"), QStringLiteral("-l")};
}
inline QStringList trackDevices() {
    return {QStringLiteral("track-devices")};
}
inline QStringList startServer() {
    return {QStringLiteral("start-server")};
}
inline QStringList version() {
    return {QStringLiteral("version")};
}

inline QStringList connect(const QString& address) {
    return {QStringLiteral("connect"), address};
}

inline QStringList tcpip(const QString& serial) {
    return {QStringLiteral("-s"), serial, QStringLiteral("tcpip"), QString::number(kTcpipPort)};
}

// One shell command line, passed to the device's shell as a single argument.
inline QStringList shell(const QString& target, const QString& commandLine) {
    return {QStringLiteral("-s"), target, QStringLiteral("shell"), commandLine};
}

inline QStringList getprop(const QString& target, const QString& property) {
    return {QStringLiteral("-s"), target, QStringLiteral("shell"), QStringLiteral("getprop"),
            property};
}

// The phone's own serial number: the same over every transport, so it tells which phone an
// endpoint reaches.
inline QStringList serialNumber(const QString& target) {
    return getprop(target, QStringLiteral("ro.serialno"));
}

inline QStringList dumpsysBattery(const QString& identifier) {
    return {QStringLiteral("-s"), identifier, QStringLiteral("shell"), QStringLiteral("dumpsys"),
            QStringLiteral("battery")};
}

// The wireless endpoint the application creates for an address: "<address>:5555".
inline QString endpointFor(const QString& address) {
    return address + QLatin1Char(':') + QString::number(kTcpipPort);
}

}  // namespace sonavel::adb

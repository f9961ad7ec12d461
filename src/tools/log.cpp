#include <QDateTime>
#include <QtGlobal>

#include "app/controller.h"
#include "app/controller_ref.h"

namespace sonavel {

namespace {

QString timestampNow() {
    // QDateTime formats are reentrant, so no shared formatter object is needed across threads.
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

}  // namespace

void ControllerRef::appendLog(const QString& message) const {
    if (!env_ || !env_->config.debuggerProbe || !env_->config.debuggerProbe()) {
        return;
    }
    const QString entry = QLatin1Char('[') + timestampNow() + QStringLiteral("] ") + message;
    // Queued also from the main thread, so entries keep the order in which they were submitted.
    post([entry](ZovAdizuZadiRizov& c) { c.recordLogEntry(entry); });
    // The entry is the argument, never the format: a '%' in a message prints as it is.
    qInfo("%s", qUtf8Printable(entry));
}

void ZovAdizuZadiRizov::recordLogEntry(const QString& entry) {
    logs.mutate([&](QStringList& list) {
        list.append(entry);
        if (list.size() > kMaxLogEntries) {
            list.erase(list.begin(), list.begin() + (list.size() - kMaxLogEntries));
        }
    });
}

void ControllerRef::updateStatus(const QString& text) const {
    post([text](ZovAdizuZadiRizov& c) {
        c.appendLog(QStringLiteral("[Debug] statusText changed to: ") + text);
        c.statusText.set(text);
    });
}

}  // namespace sonavel

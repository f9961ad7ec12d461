#include "relay/scrcpy_process.h"

#include <QHash>
#include <atomic>
#include <utility>

#include "app/controller.h"
#include "platform/dispatch.h"

namespace sonavel {

namespace {

quint64 nextLaunchId() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

// Never destroyed: processes still running at exit are left to the termination clean-up, and
// destroying their QProcess objects would kill them.
QHash<quint64, ScrcpyProcess*>& registry() {
    static auto* processes = new QHash<quint64, ScrcpyProcess*>;
    return *processes;
}

}  // namespace

ScrcpyProcess::ScrcpyProcess(const QString& endpoint)
    : endpoint(endpoint),
      launchId(nextLaunchId()),
      output(std::make_shared<StreamBuffer>()),
      error(std::make_shared<StreamBuffer>()) {}

void ScrcpyProcess::settleStart(bool running) {
    if (started->peek()) {
        return;
    }
    started->set(running);
    if (auto continuation = std::exchange(whenStartKnown, nullptr)) {
        continuation(running);
    }
}

ScrcpyHandle handleOf(const ScrcpyProcess& process) {
    return {process.launchId, process.started, process.ended};
}

void registerScrcpyProcess(ScrcpyProcess* process) {
    Q_ASSERT(isMainThread());
    registry().insert(process->launchId, process);
}

void releaseScrcpyProcess(ScrcpyProcess* process) {
    Q_ASSERT(isMainThread());
    if (registry().remove(process->launchId) > 0) {
        process->deleteLater();
    }
}

ScrcpyProcess* findScrcpyProcess(quint64 launchId) {
    Q_ASSERT(isMainThread());
    return registry().value(launchId, nullptr);
}

int liveScrcpyProcessCount() {
    Q_ASSERT(isMainThread());
    return static_cast<int>(registry().size());
}

}  // namespace sonavel

#pragma once

#include <QLockFile>
#include <QObject>
#include <memory>

class QLocalServer;

namespace sonavel {

// Keeps one running instance per user: a second launch would end the first one's relays in its
// start-up clean-up, then watch, set up and relay the same phones a second time. The first
// instance holds a lock in the runtime folder and listens next to it; a later launch asks it to
// show its window and leaves. A lock whose process is gone (a crash) is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // true when this process is the one instance, and also when no lock can be made at all (no
    // usable runtime folder): the application then runs as it would without the guard.
    bool claim();

    // For a launch that could not claim: asks the running instance to show its window. true once
    // that instance has answered.
    bool handOver();

signals:
    // A later launch asked for the window.
    void activationRequested();

private:
    const QString lockPath_;
    const QString serverPath_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace sonavel

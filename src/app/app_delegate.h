#pragma once

#include <QObject>
#include <QString>
#include <optional>

namespace sonavel {

// The application's quit behaviour: ends the relay processes this installation started, so that
// none outlives the application. It holds no state beyond where to find pkill and the resources.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate(QString pkillPath, std::optional<QString> resourcesDir, QObject* parent = nullptr);

    // Runs on the main thread while the application quits and blocks until pkill has ended.
    // A pkill that cannot be launched is written to the system log only: the in-app log is gone.
    void applicationWillTerminate();

private:
    QString pkillPath_;
    std::optional<QString> resourcesDir_;
};

}  // namespace sonavel

#pragma once

#include <QApplication>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace sonavel {

class AppDelegate;

// Turns SIGTERM, SIGINT and SIGHUP (a session ending, a service manager, Ctrl-C in a terminal,
// the terminal it was started from being closed) into a call of `action` on the main thread, so
// that quitting runs the normal clean-up instead of the process dying on the spot. The signal
// handler only writes one byte to a pipe; the action runs from the event loop. One instance at a
// time; the previous handlers come back when it goes.
class QuitOnSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignals(std::function<void()> action, QObject* parent = nullptr);
    ~QuitOnSignals() override;

private:
    void readSignal();

    std::function<void()> action_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// The application object: names the application for the settings store, keeps windows of an
// earlier run from being reopened, and installs the delegate that cleans up at quit.
//
// Closing the last window quits on Linux and Windows (their convention); on macOS the
// application stays until the user quits it.
class RizIridiRoz : public QApplication {
    Q_OBJECT
public:
    RizIridiRoz(int& argc, char** argv);
    ~RizIridiRoz() override;
    AppDelegate* appDelegate() const { return appDelegate_; }

private:
    AppDelegate* appDelegate_;
    std::unique_ptr<QuitOnSignals> quitOnSignals_;
};

}  // namespace sonavel

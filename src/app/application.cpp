#include "app/application.h"

#include <QIcon>
#include <QSettings>
#include <QThreadPool>

#include "app/app_delegate.h"
#include "app/controller_config.h"
#include "app/version.h"

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace sonavel {

namespace {

#if defined(Q_OS_UNIX)
int signalPipe[2] = {-1, -1};
struct sigaction previousTerm;
struct sigaction previousInt;
struct sigaction previousHup;

void onQuitSignal(int signal) {
    const char byte = static_cast<char>(signal);
    // Only async-signal-safe calls here; a full pipe means a quit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}
#endif

}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> action, QObject* parent)
    : QObject(parent), action_(std::move(action)) {
#if defined(Q_OS_UNIX)
    if (::pipe(signalPipe) != 0) {
        qWarning("Cannot watch for quit signals: no pipe");
        return;
    }
    for (const int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitOnSignals::readSignal);
    struct sigaction handler = {};
    handler.sa_handler = onQuitSignal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &handler, &previousTerm);
    ::sigaction(SIGINT, &handler, &previousInt);
    ::sigaction(SIGHUP, &handler, &previousHup);
#endif
}

QuitOnSignals::~QuitOnSignals() {
#if defined(Q_OS_UNIX)
    if (!notifier_) {
        return;
    }
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGHUP, &previousHup, nullptr);
    notifier_.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
#endif
}

void QuitOnSignals::readSignal() {
#if defined(Q_OS_UNIX)
    char buffer[16];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
#endif
    if (action_) {
        action_();
    }
}

RizIridiRoz::RizIridiRoz(int& argc, char** argv) : QApplication(argc, argv) {
    // On macOS the settings domain is made from the organisation domain and the application
    // name: "org.sonavel.Sonavel", the bundle identifier, whose domain the system's own keys
    // are read from. Elsewhere the settings path follows the organisation name.
    setOrganizationName(QStringLiteral("Sonavel"));
    setOrganizationDomain(QStringLiteral("sonavel.org"));
    setApplicationName(QStringLiteral("Sonavel"));
    setApplicationVersion(QStringLiteral(SONAVEL_VERSION));
    const ControllerConfig config = ControllerConfig::standard();
    appDelegate_ = new AppDelegate(config.pkillPath, config.resourcesDir, this);
    connect(this, &QCoreApplication::aboutToQuit, appDelegate_,
            &AppDelegate::applicationWillTerminate);
#if !defined(Q_OS_MACOS)
    // On macOS the bundle carries the icon; elsewhere the window gets it from the resources.
    if (config.resourcesDir) {
        setWindowIcon(QIcon(*config.resourcesDir + QStringLiteral("/icons/sonavel.svg")));
    }
    // Wayland desktops match a window to its launcher and icon by this name (sonavel.desktop);
    // without it the application id is made from the organisation domain, "org.sonavel.sonavel".
    setDesktopFileName(QStringLiteral("sonavel"));
#endif
    // The system must not reopen windows of an earlier run.
    QSettings().setValue(QStringLiteral("NSQuitAlwaysKeepsWindows"), false);
#if defined(Q_OS_MACOS)
    setQuitOnLastWindowClosed(false);
#else
    setQuitOnLastWindowClosed(true);
#endif
    quitOnSignals_ = std::make_unique<QuitOnSignals>([] { QCoreApplication::quit(); });
    // Qt does some of its own work, such as drawing the window at start-up, on its shared pool.
    // Its threads would end 30 idle seconds later, costing a thread teardown each, and be made
    // again whenever Qt next needs them. Idle, they cost nothing.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
}

RizIridiRoz::~RizIridiRoz() = default;

}  // namespace sonavel

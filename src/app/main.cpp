#include <QTextStream>

#include "app/application.h"
#include "app/root_view.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
    sonavel::RizIridiRoz app(argc, argv);
    // Answered before the single-instance check: it must not bring a running window forward.
    if (app.arguments().contains(QStringLiteral("--version"))) {
        QTextStream(stdout) << app.applicationName() << ' ' << app.applicationVersion() << '\n';
        return 0;
    }
    // Before the window: its controller's start-up clean-up would end the running instance's
    // relays.
    sonavel::SingleInstance instance;
    if (!instance.claim()) {
        return instance.handOver() ? 0 : 1;
    }
    sonavel::RootView window;
    QObject::connect(&instance, &sonavel::SingleInstance::activationRequested, &window,
                     &sonavel::RootView::bringBack);
    // On macOS a click on the Dock icon makes the application active, also when it already was;
    // a window that was closed (the application keeps running there) or minimised comes back.
    // Elsewhere an application without a visible window is not made active.
    QObject::connect(
        &app, &QGuiApplication::applicationStateChanged, &window,
        [&window](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive && (!window.isVisible() || window.isMinimized())) {
                window.bringBack();
            }
        });
    window.show();
    return app.exec();
}

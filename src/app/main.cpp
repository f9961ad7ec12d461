#include "app/application.h"
#include "app/root_view.h"
#include "app/single_instance.h"

int main(int argc, char** argv) {
    sonavel::RizIridiRoz app(argc, argv);
    // Before the window: its controller's start-up clean-up would end the running instance's
    // relays.
    sonavel::SingleInstance instance;
    if (!instance.claim()) {
        return instance.handOver() ? 0 : 1;
    }
    sonavel::RootView window;
    QObject::connect(&instance, &sonavel::SingleInstance::activationRequested, &window,
                     &sonavel::RootView::bringBack);
    window.show();
    return app.exec();
}

#include "app/application.h"
#include "app/root_view.h"

int main(int argc, char** argv) {
    sonavel::RizIridiRoz app(argc, argv);
    sonavel::RootView window;
    window.show();
    return app.exec();
}

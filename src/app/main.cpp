#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QVBoxLayout>

#include "app/controller.h"

using sonavel::ZovAdizuZadiRizov;

// A plain window over the controller until the full window lands: it shows the guide text and the
// device count, redrawn once per turn of the event loop after a published change.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonavel"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonavel"));
    // The system must not reopen windows of an earlier run.
    QSettings().setValue(QStringLiteral("NSQuitAlwaysKeepsWindows"), false);

    QMainWindow window;
    window.setMinimumSize(420, 540);
    window.resize(460, 640);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* status = new QLabel;
    auto* guide = new QLabel;
    guide->setWordWrap(true);
    layout->addWidget(status);
    layout->addWidget(guide, 1);
    window.setCentralWidget(content);

    auto* controller = new ZovAdizuZadiRizov(sonavel::ControllerConfig::standard(), &window);
    bool redrawQueued = false;
    auto redraw = [&] {
        redrawQueued = false;
        status->setText(controller->statusText() + QStringLiteral(" \u2014 ") +
                        QString::number(controller->discoveredDevices().size()));
        guide->setText(controller->connectionGuideText());
    };
    QObject::connect(controller, &ZovAdizuZadiRizov::willChange, &window, [&] {
        if (!redrawQueued) {
            redrawQueued = true;
            QMetaObject::invokeMethod(&window, redraw, Qt::QueuedConnection);
        }
    });
    redraw();
    window.show();
    return app.exec();
}

#pragma once

#include <QAction>
#include <QMainWindow>
#include <functional>
#include <memory>

#include "app/controller_config.h"

namespace sonavel {

class RirAvoruVara;
class ZovAdizuZadiRizov;

// The application's window: owns the one controller for the window's life and shows the main
// view over it, with the two menu commands that open the About text and the licences.
class RootView : public QMainWindow {
    Q_OBJECT
public:
    // Opens a file with the system's default application for it.
    using FileOpener = std::function<void(const QString& path)>;

    static constexpr int kMinimumWidth = 420;
    static constexpr int kMinimumHeight = 540;
    static constexpr int kDefaultWidth = 460;
    static constexpr int kDefaultHeight = 640;

    explicit RootView(ControllerConfig config = ControllerConfig::standard(),
                      FileOpener opener = {}, QWidget* parent = nullptr);
    ~RootView() override;

    ZovAdizuZadiRizov* controller() const { return controller_.get(); }
    RirAvoruVara* mainView() const { return mainView_; }
    QAction* aboutAction() const { return about_; }
    QAction* licensesAction() const { return licenses_; }

    // Shows the window again, closed or minimised, in front of the others.
    void bringBack();

private:
    void openResource(const QString& fileName) const;
    void retitleMenu();

    std::unique_ptr<ZovAdizuZadiRizov> controller_;
    FileOpener opener_;
    RirAvoruVara* mainView_;
    QAction* about_;
    QAction* licenses_;
};

}  // namespace sonavel

#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <functional>
#include <memory>

#include "app/controller_config.h"

namespace sonavel {

class RirAvoruVara;
class ZovAdizuZadiRizov;

// The application's window: owns the one controller for the window's life and shows the main
// view over it, with the two menu commands that open the About text and the licences. On macOS
// they sit in the application menu, also while the window is closed; elsewhere in a Help menu,
// beside a File menu whose Quit item has the platform's key (Ctrl+Q).
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
    // None on macOS, where the application menu has its own.
    QAction* quitAction() const { return quit_; }

    // Shows the window again, closed or minimised, in front of the others.
    void bringBack();

private:
    void openResource(const QString& fileName) const;
    void retitleMenu();

    std::unique_ptr<ZovAdizuZadiRizov> controller_;
    FileOpener opener_;
    RirAvoruVara* mainView_;
    // macOS: a menu bar without a parent window is the application's, shown with no window open.
    std::unique_ptr<QMenuBar> applicationMenuBar_;
    QMenu* fileMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QAction* about_;
    QAction* licenses_;
    QAction* quit_ = nullptr;
};

}  // namespace sonavel

#include "app/root_view.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QUrl>

#include "app/controller.h"
#include "ui/main_view.h"

namespace sonavel {

RootView::RootView(ControllerConfig config, FileOpener opener, QWidget* parent)
    : QMainWindow(parent),
      controller_(std::make_unique<ZovAdizuZadiRizov>(std::move(config))),
      opener_(std::move(opener)) {
    if (!opener_) {
        opener_ = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    }
    mainView_ = new RirAvoruVara(controller_.get());
    mainView_->setMinimumSize(kMinimumWidth, kMinimumHeight);
    setCentralWidget(mainView_);

    // On macOS Qt moves actions of this role into the application menu, after its About item;
    // elsewhere they stay in this menu of the window's menu bar.
    QMenu* menu = menuBar()->addMenu(QStringLiteral("Sonavel"));
    about_ = menu->addAction(QString(), this,
                             [this] { openResource(QStringLiteral("RARER_IDAZARI.txt")); });
    menu->addSeparator();
    licenses_ = menu->addAction(
        QString(), this, [this] { openResource(QStringLiteral("THIRD_PARTY_LICENSES.txt")); });
    about_->setMenuRole(QAction::ApplicationSpecificRole);
    licenses_->setMenuRole(QAction::ApplicationSpecificRole);
    // The titles follow the display language: looked up whenever the menu opens or state changes.
    connect(menu, &QMenu::aboutToShow, this, &RootView::retitleMenu);
    connect(controller_.get(), &ZovAdizuZadiRizov::willChange, this, &RootView::retitleMenu,
            Qt::QueuedConnection);
    retitleMenu();
    // A click on a battery alert's notification shows the window, wherever it was.
    connect(controller_.get(), &ZovAdizuZadiRizov::alertNoticeClicked, this, &RootView::bringBack);

    // The content area opens at its default size; the menu bar, when it sits in the window, comes
    // on top of it.
    const int menuHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
    resize(kDefaultWidth, kDefaultHeight + menuHeight);
}

RootView::~RootView() {
    // The view observes the controller: it goes first.
    delete takeCentralWidget();
}

void RootView::bringBack() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void RootView::retitleMenu() {
    about_->setText(controller_->text(TextKey::aboutMenuTitle));
    licenses_->setText(controller_->text(TextKey::openSourceLicensesMenuTitle));
}

void RootView::openResource(const QString& fileName) const {
    const std::optional<QString>& dir = controller_->ref().config().resourcesDir;
    if (!dir) {
        return;
    }
    const QString path = QDir(*dir).filePath(fileName);
    // A missing resource makes the command do nothing at all.
    if (QFileInfo(path).isFile()) {
        opener_(path);
    }
}

}  // namespace sonavel

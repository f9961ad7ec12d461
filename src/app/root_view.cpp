#include "app/root_view.h"

#include <QApplication>
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

    const auto openAbout = [this] { openResource(QStringLiteral("RARER_IDAZARI.txt")); };
    const auto openLicenses = [this] { openResource(QStringLiteral("THIRD_PARTY_LICENSES.txt")); };
#if defined(Q_OS_MACOS)
    // Qt moves actions of this role into the application menu, after its About item. The menu bar
    // has no parent, so they stay there while the window is closed and the application runs on.
    applicationMenuBar_ = std::make_unique<QMenuBar>();
    QMenu* menu = applicationMenuBar_->addMenu(QStringLiteral("Sonavel"));
    about_ = menu->addAction(QString(), this, openAbout);
    menu->addSeparator();
    licenses_ = menu->addAction(QString(), this, openLicenses);
    about_->setMenuRole(QAction::ApplicationSpecificRole);
    licenses_->setMenuRole(QAction::ApplicationSpecificRole);
#else
    fileMenu_ = menuBar()->addMenu(QString());
    quit_ = fileMenu_->addAction(QString(), qApp, &QCoreApplication::quit);
    // The platform's key; a platform theme that has none for quitting (a bare X11 or Wayland
    // session) gets the one every Linux desktop uses.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty()) {
        quitKeys = {QKeySequence(Qt::CTRL | Qt::Key_Q)};
    }
    quit_->setShortcuts(quitKeys);
    quit_->setMenuRole(QAction::QuitRole);
    helpMenu_ = menuBar()->addMenu(QString());
    about_ = helpMenu_->addAction(QString(), this, openAbout);
    helpMenu_->addSeparator();
    licenses_ = helpMenu_->addAction(QString(), this, openLicenses);
    QMenu* menu = helpMenu_;
#endif
    // The titles follow the display language: looked up whenever the menu opens or state changes.
    connect(menu, &QMenu::aboutToShow, this, &RootView::retitleMenu);
    connect(controller_.get(), &ZovAdizuZadiRizov::willChange, this, &RootView::retitleMenu,
            Qt::QueuedConnection);
    retitleMenu();
    // A click on a battery alert's notification shows the window, wherever it was.
    connect(controller_.get(), &ZovAdizuZadiRizov::alertNoticeClicked, this, &RootView::bringBack);

    // The content area opens at its default size; the menu bar, when it sits in the window, comes
    // on top of it. (On macOS the window must not get a menu bar of its own: asking for one makes
    // one, and it would hide the application's while the window is active.)
    int menuHeight = 0;
#if !defined(Q_OS_MACOS)
    menuHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
#endif
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
    if (fileMenu_) {
        fileMenu_->setTitle(controller_->text(TextKey::fileMenuTitle));
        helpMenu_->setTitle(controller_->text(TextKey::helpMenuTitle));
        quit_->setText(controller_->text(TextKey::quitMenuTitle));
    }
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

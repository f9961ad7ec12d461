#include "ui/symbols.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include "app/controller_config.h"

namespace sonavel {

namespace {
QString& folderStorage() {
    static QString folder;
    return folder;
}
}  // namespace

void setSymbolFolder(const QString& folder) {
    folderStorage() = folder;
}

QString symbolFolder() {
    if (folderStorage().isEmpty()) {
        if (const std::optional<QString> resources = applicationResourcesDir()) {
            folderStorage() = QDir(*resources).filePath(QStringLiteral("icons"));
        }
    }
    return folderStorage();
}

QPixmap symbolPixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    if (symbolFolder().isEmpty()) {
        return {};
    }
    const QString path = QDir(symbolFolder()).filePath(name + QStringLiteral(".svg"));
    // Every device row draws the same few symbols; reading and rendering the file for each one
    // made a list of sixteen phones hold the window for a frame and more.
    const QString key = path + QLatin1Char('|') + QString::number(size) + QLatin1Char('|') +
                        color.name(QColor::HexArgb) + QLatin1Char('|') +
                        QString::number(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) {
        return cached;
    }
    if (!QFileInfo(path).isFile()) {
        return {};
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        return {};
    }
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    // Keeps the drawing's coverage and replaces its colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

SymbolLabel::SymbolLabel(int size, QWidget* parent) : QLabel(parent), size_(size) {
    setFixedSize(size, size);
    setAlignment(Qt::AlignCenter);
}

void SymbolLabel::setSymbol(const QString& name, const QColor& color) {
    if (name == name_ && color == color_) {
        return;
    }
    name_ = name;
    color_ = color;
    update();
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    if (name_.isEmpty()) {
        return;
    }
    // The cache keeps one pixmap per ratio, so a window spanning two screens costs two renders.
    const QPixmap pixmap = symbolPixmap(name_, size_, color_, devicePixelRatioF());
    if (!pixmap.isNull()) {
        QPainter painter(this);
        painter.drawPixmap((width() - size_) / 2, (height() - size_) / 2, pixmap);
    }
}

}  // namespace sonavel

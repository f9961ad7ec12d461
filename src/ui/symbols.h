#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QString>

namespace sonavel {

// The window's icons are SVG files named after the symbol they stand for ("waveform.svg"), in the
// icons folder of the application's resources (unless set otherwise). They are drawn in black and
// tinted when shown.
void setSymbolFolder(const QString& folder);
QString symbolFolder();

// The symbol drawn size x size (logical pixels) in the colour; a null pixmap when the file is
// missing or unreadable, so a broken install shows a gap instead of failing.
QPixmap symbolPixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio);

// A label that shows one symbol and remembers its name (what tests and the redraw compare). The
// symbol is drawn for the pixel ratio of the screen the window is on when it paints, so it stays
// sharp when the window moves to a screen with another ratio.
class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    explicit SymbolLabel(int size, QWidget* parent = nullptr);
    void setSymbol(const QString& name, const QColor& color);
    QString symbolName() const { return name_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int size_;
    QString name_;
    QColor color_;
};

}  // namespace sonavel

#include "ui/switch_button.h"

#include <QPainter>

#include "ui/style.h"

namespace sonavel {

SwitchButton::SwitchButton(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setText(label);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchButton::sizeHint() const {
    int width = kTrackWidth;
    if (!text().isEmpty()) {
        width += fontMetrics().horizontalAdvance(text()) + kLabelGap;
    }
    return {width, qMax(kTrackHeight, fontMetrics().height())};
}

void SwitchButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(width() - kTrackWidth, (height() - kTrackHeight) / 2.0, kTrackWidth,
                       kTrackHeight);
    if (!text().isEmpty()) {
        painter.setPen(palette::primaryText());
        painter.drawText(QRectF(0, 0, track.left() - kLabelGap, height()),
                         Qt::AlignRight | Qt::AlignVCenter, text());
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? palette::relayGreen() : QColor(120, 120, 128, 60));
    painter.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const qreal knob = kTrackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(0, 0, 0, 30));
    painter.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

}  // namespace sonavel

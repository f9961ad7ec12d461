#include "ui/switch_button.h"

#include <QFocusEvent>
#include <QPainter>

#include "ui/style.h"

namespace sonavel {

SwitchButton::SwitchButton(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setText(label);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Reached by Tab; a click does not leave a ring behind.
    setFocusPolicy(Qt::TabFocus);
}

QSize SwitchButton::sizeHint() const {
    int width = kTrackWidth + 2 * kRingMargin;
    if (!text().isEmpty()) {
        width += fontMetrics().horizontalAdvance(text()) + kLabelGap;
    }
    return {width, qMax(kTrackHeight + 2 * kRingMargin, fontMetrics().height())};
}

void SwitchButton::paintEvent(QPaintEvent*) {
    const Theme theme = themeFor(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(width() - kRingMargin - kTrackWidth, (height() - kTrackHeight) / 2.0,
                       kTrackWidth, kTrackHeight);
    if (!text().isEmpty()) {
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(QRectF(0, 0, track.left() - kLabelGap, height()),
                         Qt::AlignRight | Qt::AlignVCenter, text());
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? theme.switchOn : theme.switchOff);
    painter.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const qreal knob = kTrackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(0, 0, 0, 30));
    painter.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    painter.setBrush(theme.knob);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (ring_.shown(*this)) {
        const qreal ring = kRingMargin - 1;
        painter.setPen(QPen(theme.focusRing, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-ring, -ring, ring, ring), kTrackHeight / 2.0 + ring,
                                kTrackHeight / 2.0 + ring);
    }
}

void SwitchButton::focusInEvent(QFocusEvent* event) {
    ring_.focusIn(event->reason());
    QAbstractButton::focusInEvent(event);
}

void SwitchButton::focusOutEvent(QFocusEvent* event) {
    ring_.focusOut(event->reason());
    QAbstractButton::focusOutEvent(event);
}

}  // namespace sonavel

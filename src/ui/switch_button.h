#pragma once

#include <QAbstractButton>

#include "ui/style.h"

namespace sonavel {

// A switch-style toggle: an optional label on the left and a rounded track with a knob. Clicking
// anywhere on it, or Space while it has the keyboard focus, toggles it and emits clicked(bool)
// with the new state. Its colours follow the palette; a ring shows the keyboard focus.
class SwitchButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchButton(const QString& label = QString(), QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    static constexpr int kTrackWidth = 36;
    static constexpr int kTrackHeight = 20;
    static constexpr int kLabelGap = 8;
    // Room around the track for the focus ring.
    static constexpr int kRingMargin = 3;
    FocusRing ring_;
};

}  // namespace sonavel

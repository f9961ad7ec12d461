#pragma once

#include <QAbstractButton>

namespace sonavel {

// A switch-style toggle: an optional label on the left and a rounded track with a knob. Clicking
// anywhere on it toggles it and emits clicked(bool) with the new state.
class SwitchButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchButton(const QString& label = QString(), QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kTrackWidth = 36;
    static constexpr int kTrackHeight = 20;
    static constexpr int kLabelGap = 8;
};

}  // namespace sonavel

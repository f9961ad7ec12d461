#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QWidget>
#include <functional>

#include "ui/presentation.h"

namespace sonavel {

class SwitchButton;
class SymbolLabel;
class ZovAdizuZadiRizov;

// One endpoint's relay switch, video switch and audio buffer slider, bound to the controller's
// per-device operations. Holds no state: refresh() redraws it from the controller.
class DeviceRelayControl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 190;

    DeviceRelayControl(const QString& endpoint, ZovAdizuZadiRizov* vm, QWidget* parent = nullptr);
    QString endpoint() const { return endpoint_; }
    void refresh(const TextLookup& tr);

    SwitchButton* relaySwitch() const { return relay_; }
    SwitchButton* videoSwitch() const { return video_; }
    QSlider* bufferSlider() const { return slider_; }
    QLabel* bufferLabel() const { return bufferLabel_; }

private:
    void sliderMovedTo(int position);
    void sliderReleased();
    void sliderValueChanged(int position);
    void applyBuffer(int position);

    QString endpoint_;
    QPointer<ZovAdizuZadiRizov> vm_;
    SwitchButton* relay_;
    SwitchButton* video_;
    QLabel* bufferLabel_;
    QSlider* slider_;
    bool syncing_ = false;
};

// One device row: phone icon, name with battery, the two status lines and an optional relay
// control on the right. A click anywhere on the row, outside the control's own widgets, calls the
// tap action.
class DeviceBlock : public QWidget {
    Q_OBJECT
public:
    explicit DeviceBlock(ZovAdizuZadiRizov* vm, QWidget* parent = nullptr);

    // Redraws the row; the relay control is kept while its endpoint stays the same.
    void setFields(const DeviceBlockFields& fields, const TextLookup& tr);
    void setOnTap(std::function<void()> onTap) { onTap_ = std::move(onTap); }
    const DeviceBlockFields& fields() const { return fields_; }

    QLabel* nameLabel() const { return name_; }
    QWidget* batteryGroup() const { return battery_; }
    SymbolLabel* boltIcon() const { return bolt_; }
    QLabel* batteryText() const { return batteryText_; }
    QLabel* audioLine() const { return audioLine_; }
    QLabel* wirelessLine() const { return wirelessLine_; }
    // The warning line under the other two: a symbol and the silence cause's text.
    QWidget* silenceCauseLine() const { return causeLine_; }
    QLabel* silenceCauseText() const { return causeText_; }
    DeviceRelayControl* relayControl() const { return control_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<ZovAdizuZadiRizov> vm_;
    DeviceBlockFields fields_;
    std::function<void()> onTap_;
    bool pressed_ = false;
    QLabel* name_;
    QWidget* battery_;
    SymbolLabel* bolt_;
    SymbolLabel* batteryIcon_;
    QLabel* batteryText_;
    QWidget* lines_;
    QLabel* audioLine_;
    QLabel* wirelessLine_;
    QWidget* causeLine_;
    QLabel* causeText_;
    QHBoxLayout* row_;
    DeviceRelayControl* control_ = nullptr;
};

}  // namespace sonavel

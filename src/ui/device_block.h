#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/presentation.h"
#include "ui/style.h"

namespace sonavel {

class SwitchButton;
class SymbolLabel;
class ZovAdizuZadiRizov;

// One endpoint's relay switch, video switch and audio buffer slider, bound to the controller's
// per-device operations. Holds no state but an edit under way: refresh() redraws it from the
// controller.
//
// Applying a buffer restarts the endpoint's relay, so a change made by keys or the wheel is applied
// once, after kBufferSettleMs without a further change, never once per step; a drag applies at
// its release. The wheel moves the slider only while it has the keyboard focus: otherwise it
// scrolls the list the control sits in.
class DeviceRelayControl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 190;
    // A pause of the user's hand, not a step of the relay flows.
    static constexpr int kBufferSettleMs = 600;

    DeviceRelayControl(const QString& endpoint, ZovAdizuZadiRizov* vm, QWidget* parent = nullptr);
    // A change still waiting for its pause is applied now.
    ~DeviceRelayControl() override;
    QString endpoint() const { return endpoint_; }
    // phoneName names the controls for screen readers.
    void refresh(const TextLookup& tr, const QString& phoneName);
    void applyTheme(const Theme& theme);

    // Applies a change by keys or wheel that is waiting for its pause; nothing when none waits.
    void applyPendingBuffer();
    bool bufferChangePending() const { return settle_.isActive(); }

    SwitchButton* relaySwitch() const { return relay_; }
    SwitchButton* videoSwitch() const { return video_; }
    QSlider* bufferSlider() const { return slider_; }
    QLabel* bufferLabel() const { return bufferLabel_; }

private:
    void sliderMovedTo(int position);
    void sliderReleased();
    void sliderValueChanged(int position);
    void showBuffer(int ms);
    void applyBuffer(int ms);

    QString endpoint_;
    QPointer<ZovAdizuZadiRizov> vm_;
    SwitchButton* relay_;
    SwitchButton* video_;
    QLabel* bufferLabel_;
    QSlider* slider_;
    QTimer settle_;
    bool syncing_ = false;
    TextLookup tr_;
    QString phoneName_;
};

// One device row: phone icon, name with battery, the two status lines and an optional relay
// control on the right. A click anywhere on the row, outside the control's own widgets, calls the
// tap action; so do Space and Enter while the row has the keyboard focus (it is reached by Tab).
class DeviceBlock : public QWidget {
    Q_OBJECT
public:
    explicit DeviceBlock(ZovAdizuZadiRizov* vm, const Theme& theme, QWidget* parent = nullptr);

    // Redraws the row; the relay control is kept while its endpoint stays the same.
    void setFields(const DeviceBlockFields& fields, const TextLookup& tr);
    void setOnTap(std::function<void()> onTap) { onTap_ = std::move(onTap); }
    const DeviceBlockFields& fields() const { return fields_; }
    void applyTheme(const Theme& theme);

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
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void tap();

    QPointer<ZovAdizuZadiRizov> vm_;
    Theme theme_;
    DeviceBlockFields fields_;
    std::function<void()> onTap_;
    bool pressed_ = false;
    FocusRing ring_;
    SymbolLabel* phone_;
    QLabel* name_;
    QWidget* battery_;
    SymbolLabel* bolt_;
    SymbolLabel* batteryIcon_;
    QLabel* batteryText_;
    QWidget* lines_;
    QLabel* audioLine_;
    QLabel* wirelessLine_;
    QWidget* causeLine_;
    SymbolLabel* causeIcon_;
    QLabel* causeText_;
    QHBoxLayout* row_;
    DeviceRelayControl* control_ = nullptr;
};

}  // namespace sonavel

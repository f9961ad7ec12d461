#include "ui/device_block.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/controller.h"
#include "ui/style.h"
#include "ui/switch_button.h"
#include "ui/symbols.h"

namespace sonavel {

namespace {

// The slider moves in steps of 10 ms: its positions are tens of milliseconds.
constexpr int kSliderStepMs = 10;
constexpr int kBufferMinMs = 100;
constexpr int kBufferMaxMs = 300;

void setColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

QLabel* makeLabel(TextStyle style, QFont::Weight weight, const QColor& color) {
    auto* label = new QLabel;
    label->setFont(styledFont(style, weight));
    setColor(label, color);
    return label;
}

// A one-line label that gives way to its neighbours: a name too long for the row ends in "…"
// instead of widening the window.
class ElidingLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override {
        QSize size = QLabel::minimumSizeHint();
        size.setWidth(std::min(size.width(), kMinimumWidth));
        return size;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, width()));
    }

private:
    static constexpr int kMinimumWidth = 40;
};

}  // namespace

DeviceRelayControl::DeviceRelayControl(const QString& endpoint, ZovAdizuZadiRizov* vm,
                                       QWidget* parent)
    : QWidget(parent), endpoint_(endpoint), vm_(vm) {
    setFixedWidth(kWidth);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    outer->addStretch();
    outer->addLayout(column);
    outer->addStretch();

    relay_ = new SwitchButton;
    relay_->setAccessibleName(QStringLiteral("relay"));
    video_ = new SwitchButton;
    video_->setFont(styledFont(TextStyle::Caption));
    bufferLabel_ = new QLabel;
    // The interface fonts draw digits of equal width by default (Qt 6.4 cannot ask for them), so
    // the label does not wobble while the value changes.
    bufferLabel_->setFont(styledFont(TextStyle::Caption2));
    bufferLabel_->setFixedWidth(48);
    bufferLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setColor(bufferLabel_, palette::secondaryText());
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setFixedWidth(120);
    slider_->setRange(kBufferMinMs / kSliderStepMs, kBufferMaxMs / kSliderStepMs);
    slider_->setSingleStep(1);
    slider_->setPageStep(1);

    auto* bufferRow = new QHBoxLayout;
    bufferRow->setSpacing(6);
    bufferRow->addWidget(bufferLabel_, 0, Qt::AlignVCenter);
    bufferRow->addWidget(slider_, 0, Qt::AlignVCenter);
    column->addWidget(relay_, 0, Qt::AlignRight);
    column->addWidget(video_, 0, Qt::AlignRight);
    column->addLayout(bufferRow);

    connect(relay_, &SwitchButton::clicked, this, [this](bool on) {
        if (vm_) {
            vm_->setRelayEnabled(endpoint_, on);
        }
    });
    connect(video_, &SwitchButton::clicked, this, [this](bool on) {
        if (vm_) {
            vm_->setVideoEnabled(endpoint_, on);
        }
    });
    connect(slider_, &QSlider::sliderMoved, this, &DeviceRelayControl::sliderMovedTo);
    connect(slider_, &QSlider::sliderReleased, this, &DeviceRelayControl::sliderReleased);
    connect(slider_, &QSlider::valueChanged, this, &DeviceRelayControl::sliderValueChanged);
}

void DeviceRelayControl::refresh(const TextLookup& tr) {
    if (!vm_) {
        return;
    }
    syncing_ = true;
    relay_->setChecked(vm_->enabledEndpoints().contains(endpoint_));
    video_->setText(tr(TextKey::video));
    video_->setChecked(vm_->videoEnabledForEndpoint(endpoint_));
    // While the user drags, the knob follows the hand; the stored value shows again on release.
    if (!slider_->isSliderDown()) {
        const int stored = vm_->audioBufferForEndpoint(endpoint_);
        slider_->setValue(stored / kSliderStepMs);
        bufferLabel_->setText(audioBufferLabel(stored));
    }
    syncing_ = false;
    video_->updateGeometry();
}

void DeviceRelayControl::sliderMovedTo(int position) {
    const int ms = position * kSliderStepMs;
    bufferLabel_->setText(audioBufferLabel(ms));
    if (vm_) {
        vm_->audioBufferMs.set(ms);
    }
}

void DeviceRelayControl::sliderReleased() {
    // The knob's own position: audioBufferMs holds the last value dragged on any row.
    applyBuffer(slider_->sliderPosition());
}

void DeviceRelayControl::sliderValueChanged(int position) {
    // A change without a drag (a click on the groove, the keyboard) is a whole edit at once.
    if (syncing_ || slider_->isSliderDown()) {
        return;
    }
    applyBuffer(position);
}

void DeviceRelayControl::applyBuffer(int position) {
    // Applying restarts the relay, so a value the endpoint already has is not applied again: a
    // click that moves the knob and then releases it reports the same value twice.
    const int ms = position * kSliderStepMs;
    if (!vm_ || ms == vm_->audioBufferForEndpoint(endpoint_)) {
        return;
    }
    vm_->audioBufferMs.set(ms);
    vm_->setAudioBuffer(endpoint_, ms);
}

DeviceBlock::DeviceBlock(ZovAdizuZadiRizov* vm, QWidget* parent) : QWidget(parent), vm_(vm) {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(12);

    auto* phone = new SymbolLabel(22);
    phone->setSymbol(QStringLiteral("iphone"), palette::symbol());
    row_->addWidget(phone, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* nameLine = new QHBoxLayout;
    nameLine->setSpacing(6);
    name_ = new ElidingLabel;
    name_->setFont(styledFont(TextStyle::Subheadline, QFont::Medium));
    setColor(name_, palette::primaryText());
    nameLine->addWidget(name_, 0, Qt::AlignVCenter);

    battery_ = new QWidget;
    auto* batteryRow = new QHBoxLayout(battery_);
    batteryRow->setContentsMargins(0, 0, 0, 0);
    batteryRow->setSpacing(6);
    bolt_ = new SymbolLabel(12);
    bolt_->setSymbol(QStringLiteral("bolt.fill"), QColor(255, 159, 10));
    batteryIcon_ = new SymbolLabel(16);
    batteryIcon_->setSymbol(QStringLiteral("battery.100"), palette::secondaryText());
    batteryText_ = makeLabel(TextStyle::Footnote, QFont::Normal, palette::secondaryText());
    batteryRow->addWidget(bolt_, 0, Qt::AlignVCenter);
    batteryRow->addWidget(batteryIcon_, 0, Qt::AlignVCenter);
    batteryRow->addWidget(batteryText_, 0, Qt::AlignVCenter);
    nameLine->addWidget(battery_, 0, Qt::AlignVCenter);
    nameLine->addStretch();
    column->addLayout(nameLine);

    lines_ = new QWidget;
    auto* linesColumn = new QVBoxLayout(lines_);
    linesColumn->setContentsMargins(0, 0, 0, 0);
    linesColumn->setSpacing(2);
    audioLine_ = makeLabel(TextStyle::Subheadline, QFont::Normal, palette::primaryText());
    wirelessLine_ = makeLabel(TextStyle::Caption2, QFont::Normal, palette::secondaryText());
    linesColumn->addWidget(audioLine_);
    linesColumn->addWidget(wirelessLine_);

    causeLine_ = new QWidget;
    auto* causeRow = new QHBoxLayout(causeLine_);
    causeRow->setContentsMargins(0, 0, 0, 0);
    causeRow->setSpacing(4);
    auto* warningIcon = new SymbolLabel(12);
    warningIcon->setSymbol(QStringLiteral("exclamationmark.triangle.fill"), palette::warning());
    causeText_ = makeLabel(TextStyle::Caption, QFont::Normal, palette::warning());
    // Wrapped rather than cut: what to do about it is the point of the line.
    causeText_->setWordWrap(true);
    causeRow->addWidget(warningIcon, 0, Qt::AlignTop);
    causeRow->addWidget(causeText_, 1);
    linesColumn->addWidget(causeLine_);
    column->addWidget(lines_);
    row_->addLayout(column, 1);
    row_->addSpacing(10);
}

void DeviceBlock::setFields(const DeviceBlockFields& fields, const TextLookup& tr) {
    fields_ = fields;
    name_->setText(fields.name);

    battery_->setVisible(fields.batteryLevel.has_value());
    bolt_->setVisible(fields.charging);
    if (fields.batteryLevel) {
        batteryText_->setText(QString::number(*fields.batteryLevel) + QStringLiteral("%"));
    }

    const StatusLines lines = statusLines(fields, tr);
    lines_->setVisible(lines.audio || lines.wireless || lines.silenceCause);
    audioLine_->setVisible(lines.audio.has_value());
    audioLine_->setText(lines.audio ? tr(*lines.audio) : QString());
    setColor(audioLine_, fields.audioOK ? palette::relayGreen() : palette::primaryText());
    wirelessLine_->setVisible(lines.wireless.has_value());
    wirelessLine_->setText(lines.wireless ? tr(*lines.wireless) : QString());
    causeLine_->setVisible(lines.silenceCause.has_value());
    causeText_->setText(lines.silenceCause ? tr(*lines.silenceCause) : QString());

    const std::optional<QString>& wanted = fields.relayControlEndpoint;
    if (control_ && (!wanted || control_->endpoint() != *wanted)) {
        delete control_;
        control_ = nullptr;
    }
    if (wanted && !control_) {
        control_ = new DeviceRelayControl(*wanted, vm_);
        row_->addWidget(control_, 0, Qt::AlignVCenter);
    }
    if (control_) {
        control_->refresh(tr);
    }
}

void DeviceBlock::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void DeviceBlock::mouseReleaseEvent(QMouseEvent* event) {
    const bool tap = pressed_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
    pressed_ = false;
    if (tap && onTap_) {
        // The action may rebuild the rows; run it on a copy.
        const auto action = onTap_;
        action();
    }
}

}  // namespace sonavel

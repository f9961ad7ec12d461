#include "ui/device_block.h"

#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "app/controller.h"
#include "relay/scrcpy_args.h"
#include "ui/switch_button.h"
#include "ui/symbols.h"

namespace sonavel {

namespace {

// Room around a row's content for its focus ring.
constexpr int kRowFocusMargin = 4;
constexpr qreal kRowFocusRadius = 10;

QLabel* makeLabel(TextStyle style, QFont::Weight weight) {
    auto* label = new QLabel;
    label->setFont(styledFont(style, weight));
    return label;
}

// The buffer a slider position stands for: the nearest step, within the range. A drag passes
// through every position between the steps.
int bufferAt(int position) {
    return normalizedAudioBuffer(qRound(double(position) / kAudioBufferStepMs) *
                                 kAudioBufferStepMs);
}

// A one-line label that gives way to its neighbours: a name too long for the row ends in "…"
// instead of widening the window, and the whole name shows as its tooltip.
class ElidingLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override {
        QSize size = QLabel::minimumSizeHint();
        size.setWidth(std::min(size.width(), kMinimumWidth));
        return size;
    }
    void setName(const QString& name) {
        setText(name);
        updateToolTip();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, width()));
    }
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        updateToolTip();
    }

private:
    void updateToolTip() {
        const bool elided = fontMetrics().horizontalAdvance(text()) > width();
        setToolTip(elided ? text() : QString());
    }
    static constexpr int kMinimumWidth = 40;
};

// The wheel over the slider scrolls the list (the event goes on to the scroll area) unless the
// slider has the keyboard focus: a list scrolled past a row must not change the row's buffer.
class BufferSlider : public QSlider {
public:
    BufferSlider() : QSlider(Qt::Horizontal) { setFocusPolicy(Qt::StrongFocus); }

protected:
    void wheelEvent(QWheelEvent* event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        QSlider::wheelEvent(event);
    }
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
    video_ = new SwitchButton;
    video_->setFont(styledFont(TextStyle::Caption));
    bufferLabel_ = new QLabel;
    // The interface fonts draw digits of equal width by default (Qt 6.4 cannot ask for them), so
    // the label does not wobble while the value changes.
    bufferLabel_->setFont(styledFont(TextStyle::Caption2));
    bufferLabel_->setFixedWidth(48);
    bufferLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The slider counts milliseconds, so that a screen reader reads its value as such.
    slider_ = new BufferSlider;
    slider_->setFixedWidth(120);
    slider_->setRange(kMinAudioBufferMs, kMaxAudioBufferMs);
    slider_->setSingleStep(kAudioBufferStepMs);
    slider_->setPageStep(kAudioBufferStepMs);
    settle_.setSingleShot(true);
    settle_.setInterval(kBufferSettleMs);

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
    connect(&settle_, &QTimer::timeout, this, &DeviceRelayControl::applyPendingBuffer);
}

DeviceRelayControl::~DeviceRelayControl() {
    // The row goes (its phone left the list, the window closes): the user's choice still counts.
    applyPendingBuffer();
}

void DeviceRelayControl::refresh(const TextLookup& tr, const QString& phoneName) {
    if (!vm_) {
        return;
    }
    tr_ = tr;
    phoneName_ = phoneName;
    syncing_ = true;
    relay_->setChecked(vm_->enabledEndpoints().contains(endpoint_));
    relay_->setAccessibleName(tr(TextKey::relaySwitchName).arg(phoneName));
    video_->setText(tr(TextKey::video));
    video_->setAccessibleName(tr(TextKey::videoSwitchName).arg(phoneName));
    video_->setChecked(vm_->videoEnabledForEndpoint(endpoint_));
    // While the user drags or an edit waits for its pause, the knob stays where the hand put it.
    if (!slider_->isSliderDown() && !settle_.isActive()) {
        const int stored = vm_->audioBufferForEndpoint(endpoint_);
        slider_->setValue(stored);
        showBuffer(stored);
    } else {
        showBuffer(bufferAt(slider_->sliderPosition()));
    }
    syncing_ = false;
}

void DeviceRelayControl::applyTheme(const Theme& theme) {
    setTextColor(video_, theme.primaryText);
    setTextColor(bufferLabel_, theme.secondaryText);
}

void DeviceRelayControl::showBuffer(int ms) {
    bufferLabel_->setText(audioBufferLabel(ms));
    if (tr_) {
        slider_->setAccessibleName(
            tr_(TextKey::bufferSliderName).arg(phoneName_, QString::number(ms)));
    }
}

void DeviceRelayControl::sliderMovedTo(int position) {
    const int ms = bufferAt(position);
    showBuffer(ms);
    if (vm_) {
        vm_->audioBufferMs.set(ms);
    }
}

void DeviceRelayControl::sliderReleased() {
    // The knob's own position: audioBufferMs holds the last value dragged on any row.
    settle_.stop();
    applyBuffer(bufferAt(slider_->sliderPosition()));
}

void DeviceRelayControl::sliderValueChanged(int position) {
    if (syncing_ || slider_->isSliderDown()) {
        return;
    }
    // Keys, the wheel, a click on the groove: each step shows at once, and the last one is applied
    // once the hand rests.
    showBuffer(bufferAt(position));
    settle_.start();
}

void DeviceRelayControl::applyPendingBuffer() {
    if (!settle_.isActive()) {
        return;
    }
    settle_.stop();
    applyBuffer(bufferAt(slider_->value()));
}

void DeviceRelayControl::applyBuffer(int ms) {
    // Applying restarts the relay, so a value the endpoint already has is not applied again: a
    // click that moves the knob and then releases it reports the same value twice.
    if (!vm_ || ms == vm_->audioBufferForEndpoint(endpoint_)) {
        return;
    }
    vm_->audioBufferMs.set(ms);
    vm_->setAudioBuffer(endpoint_, ms);
}

DeviceBlock::DeviceBlock(ZovAdizuZadiRizov* vm, const Theme& theme, QWidget* parent)
    : QWidget(parent), vm_(vm) {
    // Reached by Tab; a click selects the row without leaving a ring behind.
    setFocusPolicy(Qt::TabFocus);
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(kRowFocusMargin, kRowFocusMargin, kRowFocusMargin, kRowFocusMargin);
    row_->setSpacing(12);

    phone_ = new SymbolLabel(22);
    row_->addWidget(phone_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* nameLine = new QHBoxLayout;
    nameLine->setSpacing(6);
    name_ = new ElidingLabel;
    name_->setFont(styledFont(TextStyle::Subheadline, QFont::Medium));
    nameLine->addWidget(name_, 0, Qt::AlignVCenter);

    battery_ = new QWidget;
    auto* batteryRow = new QHBoxLayout(battery_);
    batteryRow->setContentsMargins(0, 0, 0, 0);
    batteryRow->setSpacing(6);
    bolt_ = new SymbolLabel(12);
    batteryIcon_ = new SymbolLabel(16);
    batteryText_ = makeLabel(TextStyle::Footnote, QFont::Normal);
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
    audioLine_ = makeLabel(TextStyle::Subheadline, QFont::Normal);
    wirelessLine_ = makeLabel(TextStyle::Caption2, QFont::Normal);
    linesColumn->addWidget(audioLine_);
    linesColumn->addWidget(wirelessLine_);

    causeLine_ = new QWidget;
    auto* causeRow = new QHBoxLayout(causeLine_);
    causeRow->setContentsMargins(0, 0, 0, 0);
    causeRow->setSpacing(4);
    causeIcon_ = new SymbolLabel(12);
    causeText_ = makeLabel(TextStyle::Caption, QFont::Normal);
    // Wrapped rather than cut: what to do about it is the point of the line.
    causeText_->setWordWrap(true);
    causeRow->addWidget(causeIcon_, 0, Qt::AlignTop);
    causeRow->addWidget(causeText_, 1);
    linesColumn->addWidget(causeLine_);
    column->addWidget(lines_);
    row_->addLayout(column, 1);
    row_->addSpacing(10);
    applyTheme(theme);
}

void DeviceBlock::applyTheme(const Theme& theme) {
    theme_ = theme;
    phone_->setSymbol(QStringLiteral("iphone"), theme.accent);
    bolt_->setSymbol(QStringLiteral("bolt.fill"), theme.warning);
    batteryIcon_->setSymbol(QStringLiteral("battery.100"), theme.secondaryText);
    causeIcon_->setSymbol(QStringLiteral("exclamationmark.triangle.fill"), theme.warning);
    setTextColor(name_, theme.primaryText);
    setTextColor(batteryText_, theme.secondaryText);
    setTextColor(audioLine_, fields_.audioOK ? theme.relayGreen : theme.primaryText);
    setTextColor(wirelessLine_, theme.secondaryText);
    setTextColor(causeText_, theme.warning);
    if (control_) {
        control_->applyTheme(theme);
    }
    update();
}

void DeviceBlock::setFields(const DeviceBlockFields& fields, const TextLookup& tr) {
    fields_ = fields;
    static_cast<ElidingLabel*>(name_)->setName(fields.name);
    // A screen reader hears the whole name, however narrow the window.
    setAccessibleName(fields.name);
    setAccessibleDescription(rowStateDescription(fields, tr));

    battery_->setVisible(fields.batteryLevel.has_value());
    bolt_->setVisible(fields.charging);
    if (fields.batteryLevel) {
        batteryText_->setText(QString::number(*fields.batteryLevel) + QStringLiteral("%"));
    }

    const StatusLines lines = statusLines(fields, tr);
    lines_->setVisible(lines.audio || lines.wireless || lines.silenceCause);
    audioLine_->setVisible(lines.audio.has_value());
    audioLine_->setText(lines.audio ? tr(*lines.audio) : QString());
    setTextColor(audioLine_, fields.audioOK ? theme_.relayGreen : theme_.primaryText);
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
        control_->applyTheme(theme_);
        row_->addWidget(control_, 0, Qt::AlignVCenter);
    }
    if (control_) {
        control_->refresh(tr, fields.name);
    }
}

void DeviceBlock::tap() {
    if (onTap_) {
        // The action may rebuild the rows; run it on a copy.
        const auto action = onTap_;
        action();
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
    const bool tapped = pressed_ && event->button() == Qt::LeftButton &&
                        rect().contains(event->position().toPoint());
    pressed_ = false;
    if (tapped) {
        tap();
    }
}

void DeviceBlock::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Select:
            tap();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void DeviceBlock::paintEvent(QPaintEvent*) {
    if (!ring_.shown(*this)) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(theme_.focusRing, 2));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kRowFocusRadius,
                            kRowFocusRadius);
}

void DeviceBlock::focusInEvent(QFocusEvent* event) {
    ring_.focusIn(event->reason());
    QWidget::focusInEvent(event);
}

void DeviceBlock::focusOutEvent(QFocusEvent* event) {
    ring_.focusOut(event->reason());
    QWidget::focusOutEvent(event);
}

}  // namespace sonavel

#include "ui/main_view.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "app/controller.h"
#include "ui/device_block.h"
#include "ui/glass.h"
#include "ui/row_actions.h"
#include "ui/spring.h"
#include "ui/style.h"
#include "ui/switch_button.h"
#include "ui/symbols.h"

namespace sonavel {

namespace {

// How far a new status text rises while it springs in.
constexpr double kStatusRisePx = 8;
// Rows built in one redraw. A new row moves everything under it, so each one costs a repaint of
// the window besides its own widgets and layout: about 10 ms of the main thread for one row on a
// two-core machine, half of it the paint.
constexpr int kRowsBuiltPerTurn = 1;
// The pause before the next new row: a frame at 60 Hz, so that the window draws, and input and
// timers are served, between two rows instead of after all of them.
constexpr int kRowBuildPauseMs = 16;

double statusSpringCurve(qreal progress) {
    const double settle = springSettleTime(kStatusSpringResponse, kStatusSpringDamping);
    return springPosition(progress * settle, kStatusSpringResponse, kStatusSpringDamping);
}

QLabel* makeLabel(TextStyle style, QFont::Weight weight) {
    auto* label = new QLabel;
    label->setFont(styledFont(style, weight));
    return label;
}

// A symbol and a label side by side, centred on the row; the label takes `labelStretch`.
QHBoxLayout* symbolRow(SymbolLabel* icon, QLabel* label, int labelStretch) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(label, labelStretch, Qt::AlignVCenter);
    return row;
}

}  // namespace

SpringLabel::SpringLabel(QWidget* parent) : QWidget(parent) {
    const double settle = springSettleTime(kStatusSpringResponse, kStatusSpringDamping);
    animation_.setDuration(qRound(settle * 1000));
    animation_.setStartValue(0.0);
    animation_.setEndValue(1.0);
    QEasingCurve curve;
    curve.setCustomType(&statusSpringCurve);
    animation_.setEasingCurve(curve);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        progress_ = value.toDouble();
        update();
    });
    connect(&animation_, &QVariantAnimation::finished, this, [this] {
        progress_ = 1;
        previous_.clear();
        update();
    });
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void SpringLabel::setText(const QString& text, bool animated) {
    if (text == text_) {
        return;
    }
    if (animated) {
        // A change during a running spring starts from what is on screen now.
        if (progress_ >= 0.5) {
            previous_ = text_;
        }
        animation_.stop();
        progress_ = 0;
        text_ = text;
        animation_.start();
    } else {
        text_ = text;
    }
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize SpringLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {qMax(metrics.horizontalAdvance(text_), metrics.horizontalAdvance(previous_)),
            metrics.height()};
}

QSize SpringLabel::minimumSizeHint() const {
    return {0, QFontMetrics(font()).height()};
}

void SpringLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(palette().color(foregroundRole()));
    const double p = std::clamp(progress_, 0.0, 1.2);
    if (!previous_.isEmpty() && p < 1) {
        painter.setOpacity(std::clamp(1 - p, 0.0, 1.0));
        painter.drawText(rect().translated(0, qRound(-kStatusRisePx * p)),
                         Qt::AlignLeft | Qt::AlignVCenter, previous_);
    }
    painter.setOpacity(std::clamp(p, 0.0, 1.0));
    painter.drawText(rect().translated(0, qRound(kStatusRisePx * (1 - p))),
                     Qt::AlignLeft | Qt::AlignVCenter, text_);
}

RirAvoruVara::RirAvoruVara(ZovAdizuZadiRizov* vm, QWidget* parent)
    : QWidget(parent), vm_(vm), theme_(themeFor(palette())) {
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Tab goes from control to control (the area scrolls to each); the area itself is no stop.
    scroll->setFocusPolicy(Qt::NoFocus);
    // The scroll area and its content stay transparent over the window's background. Not by a
    // style sheet: under one, the widgets inside stop taking palette changes from the window, and
    // the cards stayed light in a dark scheme.
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto* column = new QWidget;
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(24, 18, 24, 18);
    stack->setSpacing(16);
    scroll->setWidget(column);
    // setWidget() turns the content's background filling on: off again, or the palette's window
    // colour hides the background painted below.
    column->setAutoFillBackground(false);

    // The status bar, at the top.
    auto* statusBar = new GlassToolbar;
    auto* statusStack = new QVBoxLayout;
    statusStack->setSpacing(4);
    statusTitle_ = makeLabel(TextStyle::Subheadline, QFont::Medium);
    status_ = new SpringLabel;
    status_->setFont(styledFont(TextStyle::Headline, QFont::Medium));
    statusStack->addWidget(statusTitle_);
    statusStack->addWidget(status_);
    statusBar->row()->addLayout(statusStack);
    statusBar->row()->addStretch();
    stack->addWidget(statusBar);

    // The guide card.
    auto* guideContent = new QWidget;
    auto* guideStack = new QVBoxLayout(guideContent);
    guideStack->setContentsMargins(0, 0, 0, 0);
    guideStack->setSpacing(8);
    guideIcon_ = new SymbolLabel(16);
    guideTitle_ = makeLabel(TextStyle::Subheadline, QFont::DemiBold);
    QHBoxLayout* header = symbolRow(guideIcon_, guideTitle_, 0);
    header->addStretch();
    guideText_ = makeLabel(TextStyle::Footnote, QFont::Normal);
    guideText_->setWordWrap(true);
    guideStack->addLayout(header);
    guideStack->addWidget(guideText_);
    stack->addWidget(new GlassCard(20, guideContent));

    // The device rows.
    deviceArea_ = new QVBoxLayout;
    deviceArea_->setSpacing(12);
    stack->addLayout(deviceArea_);

    // The footer, at the bottom.
    auto* footer = new QWidget;
    auto* footerStack = new QVBoxLayout(footer);
    footerStack->setContentsMargins(0, 0, 0, 0);
    footerStack->setSpacing(12);
    hintIcon_ = new SymbolLabel(16);
    hint_ = makeLabel(TextStyle::Footnote, QFont::Normal);
    hint_->setWordWrap(true);
    footerStack->addLayout(symbolRow(hintIcon_, hint_, 1));

    alertRow_ = new QWidget;
    auto* alertLayout = new QHBoxLayout(alertRow_);
    alertLayout->setContentsMargins(0, 0, 0, 0);
    alertLayout->setSpacing(8);
    bell_ = new SymbolLabel(16);
    alertText_ = makeLabel(TextStyle::Footnote, QFont::Normal);
    stopAlert_ = new GlassButton;
    alertText_->setWordWrap(true);  // it names the phone, and may say that nothing can be heard
    stopAlert_->setFont(styledFont(TextStyle::Footnote, QFont::Medium));
    alertLayout->addWidget(bell_, 0, Qt::AlignVCenter);
    alertLayout->addWidget(alertText_, 0, Qt::AlignVCenter);
    alertLayout->addStretch();
    alertLayout->addWidget(stopAlert_, 0, Qt::AlignVCenter);
    footerStack->addWidget(alertRow_);
    stack->addWidget(new AudioRelayGlassPanel(footer));
    stack->addStretch();

    rowBuildPause_.setSingleShot(true);
    rowBuildPause_.setInterval(kRowBuildPauseMs);
    connect(&rowBuildPause_, &QTimer::timeout, this, &RirAvoruVara::scheduleRedraw);
    connect(stopAlert_, &QPushButton::clicked, this, [this] {
        if (vm_) {
            vm_->stopAlertSound(true);
        }
    });
    if (vm_) {
        connect(vm_, &ZovAdizuZadiRizov::willChange, this, &RirAvoruVara::scheduleRedraw);
    }
    applyTheme();
    redraw();
}

RirAvoruVara::~RirAvoruVara() {
    // A buffer edit still waiting for its pause is applied while the rows go, and that changes
    // the controller: the view, half destroyed by then, must no longer hear of it.
    if (vm_) {
        disconnect(vm_, nullptr, this, nullptr);
    }
}

QPushButton* RirAvoruVara::stopAlertButton() const {
    return stopAlert_;
}

void RirAvoruVara::changeEvent(QEvent* event) {
    // The system's appearance changed (macOS Dark Mode, a desktop colour scheme), or the palette
    // was set on the window.
    if (event->type() == QEvent::PaletteChange) {
        theme_ = themeFor(palette());
        applyTheme();
        update();
    }
    QWidget::changeEvent(event);
}

void RirAvoruVara::applyTheme() {
    const Theme& t = theme_;
    setTextColor(statusTitle_, t.secondaryText);
    setTextColor(status_, t.primaryText);
    setTextColor(guideTitle_, t.primaryText);
    setTextColor(guideText_, t.secondaryText);
    guideIcon_->setSymbol(guideIcon_->symbolName(), t.accent);
    hintIcon_->setSymbol(QStringLiteral("slider.horizontal.3"), t.secondaryText);
    setTextColor(hint_, t.secondaryText);
    bell_->setSymbol(QStringLiteral("bell.fill"), t.alert);
    setTextColor(alertText_, t.primaryText);
    QPalette button = stopAlert_->palette();
    button.setColor(QPalette::Button, t.buttonFill);
    button.setColor(QPalette::ButtonText, t.buttonText);
    stopAlert_->setPalette(button);
    for (DeviceBlock* row : rows_) {
        row->applyTheme(t);
    }
}

void RirAvoruVara::scheduleRedraw() {
    if (redrawQueued_) {
        return;
    }
    redrawQueued_ = true;
    QMetaObject::invokeMethod(this, &RirAvoruVara::redraw, Qt::QueuedConnection);
}

void RirAvoruVara::redraw() {
    redrawQueued_ = false;
    ++redraws_;
    if (!vm_) {
        return;
    }
    const ZovAdizuZadiRizov* vm = vm_;
    // The user's languages are asked once per redraw, not once for each of its many texts.
    const Language language = vm->ref().language();
    const TextLookup tr = [language](TextKey key) { return sonavel::text(key, language); };
    const WindowState s = windowStateOf(*vm_);

    statusTitle_->setText(tr(TextKey::statusPanelTitle));
    // The status bar springs when isRunning changes (not on the first drawing).
    const bool runningChanged = lastIsRunning_ && *lastIsRunning_ != s.isRunning;
    lastIsRunning_ = s.isRunning;
    status_->setText(tr(sonavel::statusLabel(s)), runningChanged);

    guideIcon_->setSymbol(sonavel::guideIconName(s), theme_.accent);
    guideTitle_->setText(tr(TextKey::guidePanelTitle));
    guideText_->setText(connectionGuideText(s, tr));

    redrawRows(s, tr);

    hint_->setText(tr(TextKey::perDeviceSettingsHint));
    alertRow_->setVisible(s.isAlertPlaying);
    alertText_->setText(alertRowText(s, tr));
    stopAlert_->setText(tr(TextKey::stopAlert));
}

void RirAvoruVara::redrawRows(const WindowState& s, const TextLookup& tr) {
    const int wanted = s.connectedTCPIPDevices.isEmpty() ? 1 : s.connectedTCPIPDevices.size();
    while (rows_.size() > wanted) {
        delete rows_.takeLast();
    }
    // A new row costs a few milliseconds to build, lay out and paint: many phones listed at once
    // are added a few per turn of the event loop, so the window keeps drawing meanwhile.
    for (int built = 0; rows_.size() < wanted && built < kRowsBuiltPerTurn; ++built) {
        rows_.append(new DeviceBlock(vm_, theme_));
        deviceArea_->addWidget(rows_.last());
    }
    if (rows_.size() < wanted && !rowBuildPause_.isActive()) {
        // A timer of our own, not QTimer::singleShot(0, ...): Qt 6 turns a zero-time single shot
        // into a posted call, and calls posted while posted events are delivered are delivered in
        // the same pass, so every row was built before the loop turned once.
        rowBuildPause_.start();
    }
    ZovAdizuZadiRizov* vm = vm_;
    if (s.connectedTCPIPDevices.isEmpty()) {
        rows_[0]->setFields(summaryRowFields(s, tr), tr);
        rows_[0]->setOnTap([vm = QPointer<ZovAdizuZadiRizov>(vm)] {
            if (vm) {
                tapSummaryRow(*vm);
            }
        });
        orderFocusChain();
        return;
    }
    const QVector<DeviceBlockFields> fields = deviceRowsFields(s);
    for (int i = 0; i < rows_.size(); ++i) {
        const DiscoveredDevice entry = s.connectedTCPIPDevices[i];
        rows_[i]->setFields(fields[i], tr);
        rows_[i]->setOnTap([vm = QPointer<ZovAdizuZadiRizov>(vm), entry] {
            if (vm) {
                tapDeviceRow(*vm, entry);
            }
        });
    }
    orderFocusChain();
}

void RirAvoruVara::orderFocusChain() {
    // Tab goes down the window as it reads: each row, then its switches and slider, and the alert's
    // button last. Rows and controls built later than the button would otherwise come after it.
    QWidget* previous = nullptr;
    const auto next = [&previous](QWidget* w) {
        if (previous) {
            QWidget::setTabOrder(previous, w);
        }
        previous = w;
    };
    for (DeviceBlock* row : rows_) {
        next(row);
        if (DeviceRelayControl* control = row->relayControl()) {
            next(control->relaySwitch());
            next(control->videoSwitch());
            next(control->bufferSlider());
        }
    }
    next(stopAlert_);
}

QString RirAvoruVara::statusLabelText() const {
    return status_->text();
}

QString RirAvoruVara::guideIconName() const {
    return guideIcon_->symbolName();
}

QString RirAvoruVara::guideText() const {
    return guideText_->text();
}

void RirAvoruVara::paintEvent(QPaintEvent*) {
    // Stands in for the platform's thin translucent material behind the cards.
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, theme_.backgroundTop);
    gradient.setColorAt(1, theme_.backgroundBottom);
    painter.fillRect(rect(), gradient);
}

}  // namespace sonavel

#include "ui/glass.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/style.h"

namespace sonavel {

GlassCard::GlassCard(qreal cornerRadius, QWidget* content, QWidget* parent)
    : QWidget(parent), cornerRadius_(cornerRadius) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kHorizontalInset, kVerticalInset, kHorizontalInset, kVerticalInset);
    layout->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, qRound(255 * kShadowOpacity)));
    shadow->setBlurRadius(kShadowBlur);
    shadow->setOffset(0, kShadowOffsetY);
    setGraphicsEffect(shadow);
    if (content) {
        setContent(content);
    }
}

void GlassCard::setContent(QWidget* content) {
    if (content_) {
        layout()->removeWidget(content_);
        delete content_;
    }
    content_ = content;
    if (content_) {
        // Stretched over the full width; the content lays itself out from the leading edge.
        layout()->addWidget(content_);
    }
}

QColor GlassCard::fillColor() const {
    return themeFor(palette()).cardFill;
}

void GlassCard::paintEvent(QPaintEvent*) {
    const Theme theme = themeFor(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(outline, cornerRadius_, cornerRadius_);
    painter.fillPath(shape, theme.cardFill);
    // Inside the outline: inset by half the pen, so the border never widens the card.
    const qreal half = kBorderWidth / 2;
    QPainterPath border;
    border.addRoundedRect(outline.adjusted(half, half, -half, -half), cornerRadius_ - half,
                          cornerRadius_ - half);
    painter.setPen(QPen(theme.cardBorder, kBorderWidth));
    painter.drawPath(border);
}

GlassToolbar::GlassToolbar(QWidget* parent) : GlassCard(20, nullptr, parent) {
    auto* holder = new QWidget;
    row_ = new QHBoxLayout(holder);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(12);
    row_->setAlignment(Qt::AlignVCenter);
    setContent(holder);
}

AudioRelayGlassPanel::AudioRelayGlassPanel(QWidget* content, QWidget* parent)
    : GlassCard(20, content, parent) {}

namespace {
constexpr int kButtonPaddingX = 12;
constexpr int kButtonPaddingY = 3;
}  // namespace

GlassButton::GlassButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setForegroundRole(QPalette::ButtonText);
    setFocusPolicy(Qt::TabFocus);
}

QSize GlassButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * kButtonPaddingX,
            metrics.height() + 2 * kButtonPaddingY + 2};
}

void GlassButton::paintEvent(QPaintEvent*) {
    // The window's roles are inherited: only the button's own two are set by the view.
    const Theme theme = themeFor(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF pill = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const qreal radius = pill.height() / 2;
    painter.setPen(QPen(theme.dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 30), 1));
    painter.setBrush(palette().color(QPalette::Button));
    painter.drawRoundedRect(pill, radius, radius);
    if (isDown()) {
        painter.drawRoundedRect(pill, radius, radius);  // twice as opaque while pressed
    }
    if (hasFocus()) {
        painter.setPen(QPen(theme.focusRing, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius + 0.5, radius + 0.5);
    }
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace sonavel

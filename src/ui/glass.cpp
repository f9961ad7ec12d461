#include "ui/glass.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

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

void GlassCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(outline, cornerRadius_, cornerRadius_);
    painter.fillPath(shape, QColor(255, 255, 255, 178));
    // Inside the outline: inset by half the pen, so the border never widens the card.
    const qreal half = kBorderWidth / 2;
    QPainterPath border;
    border.addRoundedRect(outline.adjusted(half, half, -half, -half), cornerRadius_ - half,
                          cornerRadius_ - half);
    painter.setPen(QPen(QColor(255, 255, 255, qRound(255 * kBorderOpacity)), kBorderWidth));
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

}  // namespace sonavel

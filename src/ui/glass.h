#pragma once

#include <QHBoxLayout>
#include <QPushButton>
#include <QWidget>

namespace sonavel {

// A padded card: its content 18 px from the left and right edges and 14 px from the top and bottom,
// as wide as the space it is given, over a translucent rounded fill with a hairline border drawn
// inside the outline and a soft shadow below. The fill stands in for the platform's frosted
// material, which Qt does not offer; its colours follow the palette (see Theme).
class GlassCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHorizontalInset = 18;
    static constexpr int kVerticalInset = 14;
    static constexpr qreal kBorderWidth = 0.5;
    static constexpr qreal kBorderOpacity = 0.12;
    static constexpr qreal kShadowOpacity = 0.10;
    static constexpr qreal kShadowBlur = 18;
    static constexpr qreal kShadowOffsetY = 8;

    explicit GlassCard(qreal cornerRadius, QWidget* content = nullptr, QWidget* parent = nullptr);
    qreal cornerRadius() const { return cornerRadius_; }
    QWidget* content() const { return content_; }
    // Replaces the content; the card takes ownership.
    void setContent(QWidget* content);
    // The translucent fill text inside the card is drawn over.
    QColor fillColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal cornerRadius_;
    QWidget* content_ = nullptr;
};

// A card of radius 20 holding one horizontal row, children centred vertically, 12 px apart.
class GlassToolbar : public GlassCard {
    Q_OBJECT
public:
    explicit GlassToolbar(QWidget* parent = nullptr);
    QHBoxLayout* row() const { return row_; }

private:
    QHBoxLayout* row_;
};

// A card of radius 20 holding any content.
class AudioRelayGlassPanel : public GlassCard {
    Q_OBJECT
public:
    explicit AudioRelayGlassPanel(QWidget* content = nullptr, QWidget* parent = nullptr);
};

// A small button in the cards' glass look: a translucent pill whose colours follow the palette,
// with a ring while it has the keyboard focus.
class GlassButton : public QPushButton {
    Q_OBJECT
public:
    explicit GlassButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace sonavel

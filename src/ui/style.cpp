#include "ui/style.h"

#include <QApplication>
#include <QWidget>
#include <cmath>

namespace sonavel {

QFont styledFont(TextStyle style, QFont::Weight weight) {
    QFont font = QApplication::font();
    switch (style) {
        case TextStyle::Headline:
            font.setPixelSize(15);
            break;
        case TextStyle::Subheadline:
            font.setPixelSize(13);
            break;
        case TextStyle::Footnote:
        case TextStyle::Caption:
            font.setPixelSize(12);
            break;
        case TextStyle::Caption2:
            font.setPixelSize(11);
            break;
    }
    font.setWeight(weight);
    return font;
}

namespace {

// Symbols and the focus ring are not text: WCAG asks 3:1 of such graphics.
constexpr double kMinimumGraphicContrast = 3.0;

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

double worstContrast(const QColor& color, const QList<QColor>& backgrounds) {
    double worst = 21;
    for (const QColor& background : backgrounds) {
        worst = std::min(worst, contrastRatio(color, background));
    }
    return worst;
}

// The colour moved towards black (on a light theme) or white (on a dark one) just far enough to
// read `ratio` against every background. A palette's own text colour normally passes untouched;
// an accent that is too pale for small text (the system green on a light card) is deepened.
QColor legible(const QColor& color, const QList<QColor>& backgrounds, bool dark, double ratio) {
    const QColor towards = dark ? QColor(Qt::white) : QColor(Qt::black);
    constexpr int kSteps = 40;
    for (int step = 0; step <= kSteps; ++step) {
        const QColor candidate = mix(color, towards, double(step) / kSteps);
        if (worstContrast(candidate, backgrounds) >= ratio) {
            return candidate;
        }
    }
    return towards;
}

}  // namespace

Theme themeFor(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    Theme t;
    t.dark = window.lightnessF() < text.lightnessF();
    // A cool tint over the palette's window colour stands in for the platform's thin material.
    if (t.dark) {
        t.backgroundTop = mix(window, QColor(36, 38, 44), 0.5);
        t.backgroundBottom = t.backgroundTop.darker(130);
        t.cardFill = QColor(255, 255, 255, 22);
        t.buttonFill = QColor(255, 255, 255, 36);
        t.switchOff = QColor(120, 120, 128, 130);
    } else {
        t.backgroundTop = mix(window, QColor(236, 240, 247), 0.7);
        t.backgroundBottom = mix(window, QColor(222, 228, 237), 0.7);
        t.cardFill = QColor(255, 255, 255, 178);
        t.buttonFill = QColor(255, 255, 255, 150);
        t.switchOff = QColor(120, 120, 128, 70);
    }
    t.cardBorder = QColor(255, 255, 255, 31);
    t.knob = Qt::white;

    const QList<QColor> surfaces{t.backgroundTop, t.backgroundBottom,
                                 compositeOver(t.cardFill, t.backgroundTop),
                                 compositeOver(t.cardFill, t.backgroundBottom)};
    const auto forText = [&](const QColor& color) {
        return legible(color, surfaces, t.dark, kMinimumTextContrast);
    };
    const auto forGraphic = [&](const QColor& color) {
        return legible(color, surfaces, t.dark, kMinimumGraphicContrast);
    };
    t.primaryText = forText(text);
    t.secondaryText = forText(mix(text, t.backgroundTop, 0.38));
    // The system colours of each appearance; legible() deepens the light ones for small text.
    t.relayGreen = forText(t.dark ? QColor(48, 209, 88) : QColor(36, 138, 61));
    t.warning = forText(t.dark ? QColor(255, 159, 10) : QColor(196, 92, 0));
    t.accent = forGraphic(t.dark ? QColor(10, 132, 255) : QColor(0, 122, 255));
    t.alert = forGraphic(t.dark ? QColor(255, 69, 58) : QColor(255, 59, 48));
    t.switchOn = t.dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
    t.focusRing = forGraphic(palette.color(QPalette::Highlight));

    QList<QColor> buttons;
    for (const QColor& surface : surfaces.mid(2)) {
        buttons << compositeOver(t.buttonFill, surface);
    }
    t.buttonText = legible(text, buttons, t.dark, kMinimumTextContrast);
    return t;
}

double relativeLuminance(const QColor& color) {
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

QColor compositeOver(const QColor& top, const QColor& bottom) {
    QColor result = mix(bottom, top, top.alphaF());
    result.setAlpha(255);
    return result;
}

double contrastRatio(const QColor& foreground, const QColor& background) {
    const double a = relativeLuminance(compositeOver(foreground, background));
    const double b = relativeLuminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

bool FocusRing::shown(const QWidget& widget) const {
    return shown_ && widget.hasFocus();
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(widget->foregroundRole(), color);
    widget->setPalette(p);
}

}  // namespace sonavel

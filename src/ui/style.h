#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPalette>

class QWidget;

namespace sonavel {

// The text styles the window uses, named after the platform's dynamic type styles. Sizes are in
// pixels, slightly above the macOS point sizes so that the text stays legible on other systems.
enum class TextStyle { Headline, Subheadline, Footnote, Caption, Caption2 };

QFont styledFont(TextStyle style, QFont::Weight weight = QFont::Normal);

// Every colour the window draws, for one palette. The palette decides light or dark (macOS Dark
// Mode, a dark KDE or GNOME scheme), and each accent has a variant for both. Text colours are
// opaque and read at least kMinimumTextContrast against every surface text is drawn on: the
// window's background at both ends of its gradient, and a card laid over either end.
struct Theme {
    bool dark = false;
    QColor backgroundTop;
    QColor backgroundBottom;
    QColor cardFill;  // translucent, over the background
    QColor cardBorder;
    QColor primaryText;
    QColor secondaryText;
    QColor relayGreen;  // the text of a relaying row
    QColor warning;
    QColor accent;  // symbols
    QColor alert;   // the bell of the battery alert
    QColor switchOn;
    QColor switchOff;
    QColor knob;
    QColor buttonFill;  // translucent, over a card
    QColor buttonText;
    QColor focusRing;
};

Theme themeFor(const QPalette& palette);

// WCAG 2's minimum for normal-size text.
inline constexpr double kMinimumTextContrast = 4.5;

// WCAG 2: relative luminance of an sRGB colour (its alpha ignored), and the contrast ratio
// (L1 + 0.05) / (L2 + 0.05) of a foreground, laid over the background by its alpha, against that
// opaque background. 1 for equal colours, 21 for black on white.
double relativeLuminance(const QColor& color);
double contrastRatio(const QColor& foreground, const QColor& background);
// `top` laid over the opaque `bottom` by top's alpha.
QColor compositeOver(const QColor& top, const QColor& bottom);

// Sets the colour a widget draws its text in (its foreground role).
void setTextColor(QWidget* widget, const QColor& color);

// Whether a widget that draws its own focus ring shows it. The focus Qt hands to the first control
// when the window becomes active draws none (a ring on a row nobody chose); focus reached by the
// keyboard does, and keeps its ring when the window is left and activated again.
class FocusRing {
public:
    void focusIn(Qt::FocusReason reason) {
        shown_ = reason != Qt::ActiveWindowFocusReason || shown_;
    }
    void focusOut(Qt::FocusReason reason) {
        shown_ = reason == Qt::ActiveWindowFocusReason && shown_;
    }
    bool shown(const QWidget& widget) const;

private:
    bool shown_ = false;
};

}  // namespace sonavel

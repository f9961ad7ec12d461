#pragma once

#include <QColor>
#include <QFont>

namespace sonavel {

// The text styles the window uses, named after the platform's dynamic type styles. Sizes are in
// pixels, slightly above the macOS point sizes so that the text stays legible on other systems.
enum class TextStyle { Headline, Subheadline, Footnote, Caption, Caption2 };

QFont styledFont(TextStyle style, QFont::Weight weight = QFont::Normal);

namespace palette {
QColor primaryText();
QColor secondaryText();
QColor relayGreen();
// Text and symbol of a warning on the light background: darker than the system orange so that
// small text stays legible.
QColor warning();
QColor symbol();
}  // namespace palette

}  // namespace sonavel

#include "ui/style.h"

#include <QApplication>

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

namespace palette {
QColor primaryText() {
    return QColor(29, 29, 31);
}
QColor secondaryText() {
    return QColor(60, 60, 67, 160);
}
QColor relayGreen() {
    return QColor(40, 167, 69);
}
QColor warning() {
    return QColor(196, 92, 0);
}
QColor symbol() {
    return QColor(0, 122, 255);
}
}  // namespace palette

}  // namespace sonavel

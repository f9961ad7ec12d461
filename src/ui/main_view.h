#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVariantAnimation>
#include <QVector>
#include <QWidget>

#include "ui/presentation.h"
#include "ui/style.h"

class QVBoxLayout;

namespace sonavel {

class DeviceBlock;
class GlassButton;
class GlassCard;
class GlassToolbar;
class SymbolLabel;
class ZovAdizuZadiRizov;

// A one-line text whose changes can slide in with the status bar's spring: the old text fades out
// while the new one fades in from a few pixels below. Screen readers read the text as its name.
class SpringLabel : public QWidget {
    Q_OBJECT
public:
    explicit SpringLabel(QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text, bool animated);
    bool isAnimating() const { return animation_.state() == QAbstractAnimation::Running; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QString previous_;
    QVariantAnimation animation_;
    double progress_ = 1;
};

// The main view: status bar, guide card, device rows and footer, drawn from the controller's
// state. It keeps no state of its own: after any published change it redraws once, on the next
// turn of the event loop, looking every text up again (so a change of language shows then).
// Its colours follow its palette (see Theme) and change with it, light or dark.
class RirAvoruVara : public QWidget {
    Q_OBJECT
public:
    explicit RirAvoruVara(ZovAdizuZadiRizov* vm, QWidget* parent = nullptr);
    ~RirAvoruVara() override;

    // Draws the controller's state of this moment. Of many new device rows only the first is built
    // here; the others follow one at a time, a frame apart.
    void redraw();
    int redrawCount() const { return redraws_; }

    // What tests look at.
    QString statusLabelText() const;
    QString guideIconName() const;
    QString guideText() const;
    QVector<DeviceBlock*> rows() const { return rows_; }
    QWidget* alertRow() const { return alertRow_; }
    QPushButton* stopAlertButton() const;
    QString hintText() const { return hint_->text(); }
    SpringLabel* statusLabel() const { return status_; }
    // The window's background behind the cards and rows, at the top and at the bottom.
    QList<QColor> backgroundColors() const {
        return {theme_.backgroundTop, theme_.backgroundBottom};
    }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleRedraw();
    void redrawRows(const WindowState& s, const TextLookup& tr);
    void applyTheme();
    void orderFocusChain();

    QPointer<ZovAdizuZadiRizov> vm_;
    bool redrawQueued_ = false;
    int redraws_ = 0;
    std::optional<bool> lastIsRunning_;
    Theme theme_;

    QLabel* statusTitle_;
    SpringLabel* status_;
    SymbolLabel* guideIcon_;
    QLabel* guideTitle_;
    QLabel* guideText_;
    QVBoxLayout* deviceArea_;
    QVector<DeviceBlock*> rows_;
    // Spaces out the building of many new rows (see redrawRows).
    QTimer rowBuildPause_;
    SymbolLabel* hintIcon_;
    QLabel* hint_;
    QWidget* alertRow_;
    SymbolLabel* bell_;
    QLabel* alertText_;
    GlassButton* stopAlert_;
};

}  // namespace sonavel

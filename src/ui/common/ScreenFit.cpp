#include "ui/common/ScreenFit.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

namespace {

// A title bar and borders as window managers draw them; the real frame is
// known only once the window is shown, after its size is chosen.
constexpr QSize kFrameAllowance(16, 48);

// Asks for room for the whole of its content and its scroll bars, so a
// window that has the room shows everything without scrolling (a plain
// scroll area asks for at most 36 x 24 lines of text).
class WholeContentScrollArea : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        if (widget() == nullptr)
            return QScrollArea::sizeHint();
        const int frame = 2 * frameWidth();
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        return widget()->sizeHint() + QSize(frame + bar, frame + bar);
    }
};

} // namespace

QSize roomOnScreen(const QWidget& window)
{
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return (screen->availableGeometry().size() - kFrameAllowance).expandedTo(QSize(1, 1));
}

void fitToScreen(QWidget& window, const QSize& preferred, const QSize& minimum)
{
    const QSize room = roomOnScreen(window);
    QSize needed = minimum.expandedTo(QSize(0, 0));
    if (QLayout* layout = window.layout())
        needed = needed.expandedTo(layout->totalMinimumSize());
    const QSize fittedMinimum = needed.boundedTo(room);
    window.setMinimumSize(fittedMinimum);
    const QSize wanted = preferred.isValid() ? preferred : window.sizeHint();
    window.resize(wanted.expandedTo(fittedMinimum).boundedTo(room));
}

QWidget* scrollingContent(QWidget* content)
{
    // Never squeezed below what it asks for: it scrolls instead.
    content->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    auto* area = new WholeContentScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    // The window's own background shows through, whatever its sheet paints.
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return area;
}

#include "ui/common/ElidedTextButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

ElidedTextButton::ElidedTextButton(QWidget* parent) : QPushButton(parent)
{
    // Ignored: the column's other widgets set its width, not this text.
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
}

QString ElidedTextButton::shownText() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect textArea = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QFontMetrics metrics = fontMetrics();
    const QString whole = text();
    if (metrics.horizontalAdvance(whole) <= textArea.width())
        return whole;
    // Three full stops rather than the one ellipsis character: every font
    // the window may fall back to has them.
    const QString dots = QStringLiteral("...");
    qsizetype kept = whole.size();
    while (kept > 0 && metrics.horizontalAdvance(whole.left(kept) + dots) > textArea.width())
        --kept;
    return whole.left(kept) + dots;
}

void ElidedTextButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = shownText();
    painter.drawControl(QStyle::CE_PushButton, option);
}

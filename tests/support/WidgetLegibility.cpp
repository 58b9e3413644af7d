#include "support/WidgetLegibility.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QTextLayout>
#include <QWidget>

#include <cmath>

namespace {

QStringList shownTexts(const QWidget& widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return {label->text()};
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget))
        return {button->text()};
    if (const auto* group = qobject_cast<const QGroupBox*>(&widget))
        return {group->title()};
    return {};
}

// Laid out as Qt draws it, fallback fonts included: glyph 0 is the font's
// "missing" box.
bool drawsEveryCharacter(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 glyph : run.glyphIndexes())
            if (glyph == 0)
                return false;
    return true;
}

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour)
{
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

}  // namespace

QStringList textsWithoutGlyphs(const QWidget& root)
{
    QList<const QWidget*> widgets{&root};
    for (const QWidget* child : root.findChildren<QWidget*>())
        widgets.append(child);
    QStringList missing;
    for (const QWidget* widget : widgets)
        for (const QString& text : shownTexts(*widget))
            if (!text.isEmpty() && !drawsEveryCharacter(text, widget->font()))
                missing.append(QString("%1: %2").arg(widget->metaObject()->className(), text));
    return missing;
}

double contrastRatio(const QColor& first, const QColor& second)
{
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

bool keepPicture(QWidget& widget, const QString& name)
{
    const QPixmap picture = widget.grab();
    const QString folder = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        picture.save(QDir(folder).filePath(name + ".png"));
    return !picture.isNull();
}

QImage grabAtSize(QWidget& widget, const QString& name, int width, int height)
{
    widget.resize(width, height);
    widget.show();
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    const QString folder = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        image.save(QDir(folder).filePath(QString("%1-%2x%3.png").arg(name).arg(width).arg(height)));
    return image;
}

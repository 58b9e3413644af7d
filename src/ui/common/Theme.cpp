#include "ui/common/Theme.h"

#include <QColor>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QStringList>
#include <QTemporaryDir>

namespace Theme {

const AppearancePalette kDarkAppearance = {
    "#2a2a2a", "#e0e0e0", "#ddd", "#555", "1px", "#3a3a3a", "#555", "#4a4a4a",
    "#666",    "#2a2a2a", "#1a1a1a", "#e0e0e0", "#333", "#2a2a2a", "#444", "",
};

const AppearancePalette kLightAppearance = {
    "#f5f5f5", "#1a1a1a", "#2a2a2a", "#c0c0c0", "1px", "#e0e0e0", "#b0b0b0", "#d0d0d0",
    "#909090", "#c0c0c0", "white",   "#1a1a1a", "#e8e8e8", "#f0f0f0", "#d0d0d0", "",
};

const AppearancePalette kHighVisibilityAppearance = {
    "#000000", "#FFFF00", "#FFFF00", "#FFFF00", "3px", "#FFFF00", "#FFFFFF", "#FFFF66",
    "#FFFF00", "#CCCC00", "#1a1a1a", "#FFFF00", "#1a1a1a", "#000000", "#333333",
    "* { font-size: 14px; } QPushButton { color: #000000; font-weight: bold; "
    "padding: 8px 20px; } QLineEdit, QSpinBox, QComboBox { padding: 5px; }",
};

const MeterStyle& standardMeterStyle()
{
    static const MeterStyle style{
        "#121216",
        {{0.0, "#1c1c22"}, {0.5, "#16161c"}, {1.0, "#1c1c22"}},
        {{0.0, "#00be50"},
         {0.28, "#00d23c"},
         {0.40, "#50dc00"},
         {0.55, "#e6d200"},
         {0.70, "#ffa000"},
         {0.82, "#ff3c14"},
         {1.0, "#ff1414"}},
        {{0.0, "#2a2a30"}, {0.5, "#26262c"}, {1.0, "#202026"}},
        // #aarrggbb: a white sheen fading out, then a faint shade below.
        {{0.0, "#46ffffff"}, {0.35, "#0fffffff"}, {0.5, "#00000000"}, {1.0, "#1e000000"}},
        0.4f,
        0.7f,
        "#dc64ff78",
        "#dcfff03c",
        "#f0ff503c",
    };
    return style;
}

} // namespace Theme

namespace {

// %1 to %7 are the main window's named colours (see Theme.h); the rest are
// the shared surfaces, texts and borders.
const char* const kDarkWindowTemplate =
    "QMainWindow, QWidget { background-color: %1; color: %2; }"
    "QPushButton { background-color: %8; color: %2; border: 1px solid %3; border-radius: 6px; "
    "padding: 5px 10px; }"
    "QPushButton:hover { background-color: %9; border: 1px solid %10; }"
    "QPushButton:pressed { background-color: %18; }"
    "QPushButton:disabled { background-color: %11; color: %12; }"
    "QLabel { color: %2; }"
    "QLineEdit { background-color: %13; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 4px 6px; min-height: 24px; }"
    "QLineEdit:focus { border: 1px solid %4; }"
    "QLineEdit:read-only { background-color: %14; }"
    "QCheckBox { color: %2; }"
    "QCheckBox::indicator { width: 16px; height: 16px; border-radius: 3px; }"
    "QCheckBox::indicator:unchecked { background-color: %13; border: 1px solid %3; }"
    "QCheckBox::indicator:checked { background-color: %5; border: 1px solid %6; }"
    "QMenuBar { background-color: %15; color: %2; padding: 2px 0px; }"
    "QMenuBar::item { background: transparent; padding: 6px 12px; margin: 2px; }"
    "QMenuBar::item:selected { background-color: %13; }"
    "QMenu { background-color: %15; color: %2; border: 1px solid %3; padding: 4px 0px; }"
    "QMenu::item { padding: 8px 20px; margin: 2px 4px; }"
    "QMenu::item:selected { background-color: %13; }"
    "QMenu::separator { height: 1px; background: %3; margin: 4px 10px; }"
    "QGroupBox { color: %2; border: 2px solid %3; border-radius: 8px; margin-top: 12px; padding-top: 15px; "
    "font-weight: bold; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 8px; background-color: %7; }"
    "QScrollArea { border: none; }"
    "QSlider::groove:vertical { background: %13; width: 8px; border-radius: 4px; }"
    "QSlider::handle:vertical { background: %4; height: 20px; margin: 0 -4px; border-radius: 4px; }"
    "QSpinBox, QDoubleSpinBox { background-color: %13; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 3px 6px; }"
    "QSpinBox:focus, QDoubleSpinBox:focus { border: 1px solid %4; }"
    "QSpinBox:disabled, QDoubleSpinBox:disabled { background-color: %11; color: %12; }"
    "QSpinBox::up-button, QSpinBox::down-button, QDoubleSpinBox::up-button, QDoubleSpinBox::down-button { "
    "background-color: %8; border: 1px solid %3; width: 16px; }"
    "QSpinBox::up-button:hover, QSpinBox::down-button:hover, QDoubleSpinBox::up-button:hover, "
    "QDoubleSpinBox::down-button:hover { background-color: %9; }"
    // %19 to %21: the arrow pictures, triangles in %2 (see arrowPicture).
    "QSpinBox::up-arrow, QDoubleSpinBox::up-arrow { image: url(\"%19\"); width: 8px; height: 5px; }"
    "QSpinBox::down-arrow, QDoubleSpinBox::down-arrow { image: url(\"%20\"); width: 8px; height: 5px; }"
    // The drop-down sits in the right padding: narrower, and it covers the
    // end of the choice ("-- Not Routed" for "-- Not Routed --").
    "QComboBox { background-color: %13; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 4px 28px 4px 8px; min-height: 22px; }"
    "QComboBox:hover { border: 1px solid %10; }"
    "QComboBox:focus { border: 1px solid %4; }"
    "QComboBox:disabled { background-color: %11; color: %12; }"
    "QComboBox::drop-down { border: none; width: 20px; }"
    "QComboBox::down-arrow { image: url(\"%21\"); width: 10px; height: 6px; margin-right: 6px; }"
    "QComboBox QAbstractItemView { background-color: %13; color: %2; border: 1px solid %3; "
    "selection-background-color: %16; }"
    "QTextEdit, QPlainTextEdit { background-color: %13; color: %2; border: 1px solid %3; border-radius: 4px; }"
    "QListWidget, QListView, QTreeView { background-color: %13; color: %2; border: 1px solid %3; }"
    "QTableWidget, QTableView { background-color: %13; alternate-background-color: %17; color: %2; "
    "gridline-color: %3; }"
    "QHeaderView::section { background-color: %8; color: %2; padding: 4px; border: 1px solid %3; }"
    "QDateEdit, QTimeEdit, QDateTimeEdit { background-color: %13; color: %2; border: 1px solid %3; "
    "border-radius: 4px; padding: 3px 6px; }";

// A style sheet cannot draw a triangle out of borders the way a web page
// does: Qt paints each border side as a bar. So each arrow is a small
// picture of a filled triangle, `width` x `height` pixels in `colour`, drawn
// once per process into a folder removed when the process ends. Empty when
// the folder cannot be written: the arrow is then left out, nothing else.
QString arrowPicture(bool pointsUp, int width, int height, const char* colour)
{
    static QTemporaryDir folder;
    if (!folder.isValid())
        return QString();
    const QString path = folder.filePath(
        QString("arrow-%1-%2x%3-%4.png").arg(pointsUp ? "up" : "down").arg(width).arg(height).arg(QString(colour).mid(1)));
    if (QFileInfo::exists(path))
        return path;
    // Drawn at four times the size and scaled down: smooth edges at any size.
    constexpr int kOversample = 4;
    QImage image(width * kOversample, height * kOversample, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(colour));
        const qreal w = image.width();
        const qreal h = image.height();
        const QPolygonF triangle = pointsUp ? QPolygonF({QPointF(0, h), QPointF(w, h), QPointF(w / 2, 0)})
                                            : QPolygonF({QPointF(0, 0), QPointF(w, 0), QPointF(w / 2, h)});
        painter.drawPolygon(triangle);
    }
    if (!image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(path, "PNG"))
        return QString();
    return path;
}

} // namespace

QString darkWindowStyleSheet()
{
    using namespace Theme;
    // Sides of 4 and 5 pixels: a spin box arrow is 8 wide and 5 high, a
    // combo box arrow 10 wide and 6 high.
    return QString(kDarkWindowTemplate)
        .arg(kBgWindow, kTextPrimary, kBorder, kAccent, kAccentTeal, kAccentTealHi, kBgSurface, kBgControl,
             kBgControlHover, kBorderHover, kBgDisabled, kTextFaint, kBgField, kBgReadOnly, kBgMenuBar, kBgSelection,
             kBgAlternateRow, kBgControlPressed)
        .arg(arrowPicture(true, 8, 5, kTextPrimary), arrowPicture(false, 8, 5, kTextPrimary),
             arrowPicture(false, 10, 6, kTextPrimary));
}

QString metadataGroupStyle(bool recording)
{
    const QString style = "QGroupBox { background-color: %1; border: 2px solid %2; border-radius: 8px;   "
                          "margin-top: 12px; padding-top: 15px; font-weight: bold; }"
                          "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 8px;   "
                          "background: %1; color: %3; }";
    if (recording)
        return style.arg(Theme::kBgRecordingPanel, Theme::kAlertBorder, Theme::kTextPrimary);
    return style.arg(Theme::kBgSurface, Theme::kBorder, Theme::kTextDim);
}

QString slateComIdleStyle()
{
    return QString("QPushButton { background-color: %4; color: %1; font-size: 14px;   font-weight: bold; "
                   "padding: 8px 15px; border: 2px solid %2; border-radius: 6px; }"
                   "QPushButton:hover { background-color: %5; border-color: %6; }"
                   "QPushButton:pressed { background-color: %3; border-color: %3; }")
        .arg(Theme::kTextPrimary, Theme::kBorder, Theme::kGo, Theme::kBgSlate, Theme::kBgSlateHover,
             Theme::kBorderHover);
}

QString stripNameStyle(int fontSizePx)
{
    return QString("font-size: %1px; font-weight: bold; color: %2;").arg(fontSizePx).arg(Theme::kTextPrimary);
}

QString gainLabelStyle(int fontSizePx)
{
    return labelStyle(fontSizePx, Theme::kTextDim);
}

QString labelStyle(int fontSizePx, const char* colour)
{
    return QString("font-size: %1px; color: %2;").arg(fontSizePx).arg(colour);
}

QString faderStyleSheet(int grooveMargin, int handleWidth, int handleHeight, int handleVerticalMargin,
                        int handleHorizontalMargin)
{
    return QString("QSlider {    background: transparent;    padding: 0px;    margin: 0px;}"
                   "QSlider::groove:vertical {    background: qlineargradient(x1:0, y1:0, x2:1, y2:0,         "
                   "stop:0 %7, stop:0.45 %8, stop:0.5 %9, stop:0.55 %8, stop:1 %7);    "
                   "width: 6px;    border-radius: 3px;    border: 1px solid %1;    margin: %2px 0px;}"
                   "QSlider::handle:vertical {    width: %3px;    height: %4px;    margin: -%5px -%6px;    "
                   "background: transparent;    border: none;}")
        .arg(Theme::kBorder)
        .arg(grooveMargin)
        .arg(handleWidth)
        .arg(handleHeight)
        .arg(handleVerticalMargin)
        .arg(handleHorizontalMargin)
        .arg(Theme::kFaderGrooveEdge, Theme::kFaderGrooveShoulder, Theme::kFaderGrooveCentre);
}

QString trackNameEditStyle(int maxHeightPx)
{
    if (maxHeightPx >= 1)
        return QString("QLineEdit { font-size: 11px; min-height: 0px; max-height: %1px; padding: 1px 6px; }")
            .arg(maxHeightPx);
    return "QLineEdit { font-size: 11px; min-height: 0px; padding: 1px 6px; }";
}

QString trackRowStyle(bool armed)
{
    // Scoped to the row itself: the same declarations unscoped would give
    // every child of the row the row's background and bottom border.
    return QString("QWidget#trackRow { background-color: %1; border-bottom: 1px solid %2; border-radius: 2px; }")
        .arg(armed ? Theme::kBgStripArmed : Theme::kBgStrip, Theme::kBorderRow);
}

QString timecodePanelStyle()
{
    return QString("background-color: %1; border: 1px solid %2; border-radius: 8px;")
        .arg(Theme::kBgSurface, Theme::kBorder);
}

QString recordStopPanelStyle()
{
    return QString("background-color: %1; border: 1px solid %2; border-radius: 8px; padding: 4px;")
        .arg(Theme::kBgStrip, Theme::kBorder);
}

QString mixerWatermarkStyle()
{
    return QString("QLabel { color: %1; letter-spacing: 6px; }").arg(Theme::kWatermark);
}

QString toastStyle(const QString& background)
{
    return QString("QLabel { background-color: %1; color: white; padding: 12px 24px; border-radius: 6px; "
                   "font-size: 14px; font-weight: bold; }")
        .arg(background);
}

QString findResourcePath(const QString& fileName)
{
    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        applicationDir + "/" + fileName,
        applicationDir + "/../Resources/" + fileName,
        applicationDir + "/../../" + fileName,
        applicationDir + "/../../../" + fileName,
        applicationDir + "/../share/tonvale/" + fileName,
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return candidates.front();
}

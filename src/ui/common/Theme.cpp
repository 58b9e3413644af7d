#include "ui/common/Theme.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace {

const char* const kDarkWindowTemplate =
    "QMainWindow, QWidget { background-color: %1; color: %2; }"
    "QPushButton { background-color: #3a3a3a; color: %2; border: 1px solid %3; border-radius: 6px; "
    "padding: 5px 10px; }"
    "QPushButton:hover { background-color: #4a4a4a; border: 1px solid #666; }"
    "QPushButton:pressed { background-color: #2a2a2a; }"
    "QPushButton:disabled { background-color: #1a1a1a; color: #666; }"
    "QLabel { color: %2; }"
    "QLineEdit { background-color: #2d2d2d; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 4px 6px; min-height: 24px; }"
    "QLineEdit:focus { border: 1px solid %4; }"
    "QLineEdit:read-only { background-color: #333333; }"
    "QCheckBox { color: %2; }"
    "QCheckBox::indicator { width: 16px; height: 16px; border-radius: 3px; }"
    "QCheckBox::indicator:unchecked { background-color: #2d2d2d; border: 1px solid %3; }"
    "QCheckBox::indicator:checked { background-color: %5; border: 1px solid %6; }"
    "QMenuBar { background-color: #252526; color: %2; padding: 2px 0px; }"
    "QMenuBar::item { background: transparent; padding: 6px 12px; margin: 2px; }"
    "QMenuBar::item:selected { background-color: #2d2d2d; }"
    "QMenu { background-color: #252526; color: %2; border: 1px solid %3; padding: 4px 0px; }"
    "QMenu::item { padding: 8px 20px; margin: 2px 4px; }"
    "QMenu::item:selected { background-color: #2d2d2d; }"
    "QMenu::separator { height: 1px; background: %3; margin: 4px 10px; }"
    "QGroupBox { color: %2; border: 2px solid %3; border-radius: 8px; margin-top: 12px; padding-top: 15px; "
    "font-weight: bold; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 8px; background-color: %7; }"
    "QScrollArea { border: none; }"
    "QSlider::groove:vertical { background: #2d2d2d; width: 8px; border-radius: 4px; }"
    "QSlider::handle:vertical { background: %4; height: 20px; margin: 0 -4px; border-radius: 4px; }"
    "QSpinBox, QDoubleSpinBox { background-color: #2d2d2d; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 3px 6px; }"
    "QSpinBox:focus, QDoubleSpinBox:focus { border: 1px solid %4; }"
    "QSpinBox:disabled, QDoubleSpinBox:disabled { background-color: #1a1a1a; color: #666; }"
    "QSpinBox::up-button, QSpinBox::down-button, QDoubleSpinBox::up-button, QDoubleSpinBox::down-button { "
    "background-color: #3a3a3a; border: 1px solid %3; width: 16px; }"
    "QSpinBox::up-button:hover, QSpinBox::down-button:hover, QDoubleSpinBox::up-button:hover, "
    "QDoubleSpinBox::down-button:hover { background-color: #4a4a4a; }"
    "QSpinBox::up-arrow, QDoubleSpinBox::up-arrow { width: 0; height: 0; border-left: 4px solid transparent; "
    "border-right: 4px solid transparent; border-bottom: 5px solid %2; }"
    "QSpinBox::down-arrow, QDoubleSpinBox::down-arrow { width: 0; height: 0; border-left: 4px solid transparent; "
    "border-right: 4px solid transparent; border-top: 5px solid %2; }"
    // The drop-down sits in the right padding: narrower, and it covers the
    // end of the choice ("-- Not Routed" for "-- Not Routed --").
    "QComboBox { background-color: #2d2d2d; color: %2; border: 1px solid %3; border-radius: 4px; "
    "padding: 4px 28px 4px 8px; min-height: 22px; }"
    "QComboBox:hover { border: 1px solid #666; }"
    "QComboBox:focus { border: 1px solid %4; }"
    "QComboBox:disabled { background-color: #1a1a1a; color: #666; }"
    "QComboBox::drop-down { border: none; width: 20px; }"
    "QComboBox::down-arrow { width: 0; height: 0; border-left: 5px solid transparent; "
    "border-right: 5px solid transparent; border-top: 6px solid %2; margin-right: 6px; }"
    "QComboBox QAbstractItemView { background-color: #2d2d2d; color: %2; border: 1px solid %3; "
    "selection-background-color: #3d3d3d; }"
    "QTextEdit, QPlainTextEdit { background-color: #2d2d2d; color: %2; border: 1px solid %3; border-radius: 4px; }"
    "QListWidget, QListView, QTreeView { background-color: #2d2d2d; color: %2; border: 1px solid %3; }"
    "QTableWidget, QTableView { background-color: #2d2d2d; alternate-background-color: #383838; color: %2; "
    "gridline-color: %3; }"
    "QHeaderView::section { background-color: #3a3a3a; color: %2; padding: 4px; border: 1px solid %3; }"
    "QDateEdit, QTimeEdit, QDateTimeEdit { background-color: #2d2d2d; color: %2; border: 1px solid %3; "
    "border-radius: 4px; padding: 3px 6px; }";

} // namespace

QString darkWindowStyleSheet()
{
    return QString(kDarkWindowTemplate)
        .arg(Theme::kBgWindow, Theme::kTextPrimary, Theme::kBorder, Theme::kAccent, Theme::kAccentTeal,
             Theme::kAccentTealHi, Theme::kBgSurface);
}

QString metadataGroupStyle(bool recording)
{
    const QString style = "QGroupBox { background-color: %1; border: 2px solid %2; border-radius: 8px;   "
                          "margin-top: 12px; padding-top: 15px; font-weight: bold; }"
                          "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 8px;   "
                          "background: %1; color: %3; }";
    if (recording)
        return style.arg("#5a2a2a", "#ff4444", "#f0f0f0");
    return style.arg("#2a2a2a", "#444444", "#999999");
}

QString slateComIdleStyle()
{
    return QString("QPushButton { background-color: #4a4a4a; color: %1; font-size: 14px;   font-weight: bold; "
                   "padding: 8px 15px; border: 2px solid %2; border-radius: 6px; }"
                   "QPushButton:hover { background-color: #555555; border-color: #666; }"
                   "QPushButton:pressed { background-color: %3; border-color: %3; }")
        .arg("#f0f0f0", "#444444", "#34C759");
}

QString stripNameStyle(int fontSizePx)
{
    return QString("font-size: %1px; font-weight: bold; color: %2;").arg(fontSizePx).arg("#f0f0f0");
}

QString gainLabelStyle(int fontSizePx)
{
    return QString("font-size: %1px; color: %2;").arg(fontSizePx).arg("#999999");
}

QString faderStyleSheet(int grooveMargin, int handleWidth, int handleHeight, int handleVerticalMargin,
                        int handleHorizontalMargin)
{
    return QString("QSlider {    background: transparent;    padding: 0px;    margin: 0px;}"
                   "QSlider::groove:vertical {    background: qlineargradient(x1:0, y1:0, x2:1, y2:0,         "
                   "stop:0 #0a0a0a, stop:0.45 #222, stop:0.5 #333, stop:0.55 #222, stop:1 #0a0a0a);    "
                   "width: 6px;    border-radius: 3px;    border: 1px solid %1;    margin: %2px 0px;}"
                   "QSlider::handle:vertical {    width: %3px;    height: %4px;    margin: -%5px -%6px;    "
                   "background: transparent;    border: none;}")
        .arg("#444")
        .arg(grooveMargin)
        .arg(handleWidth)
        .arg(handleHeight)
        .arg(handleVerticalMargin)
        .arg(handleHorizontalMargin);
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
    return QString("QWidget#trackRow { background-color: %1; border-bottom: 1px solid #333333; border-radius: 2px; }")
        .arg(armed ? "#2d352d" : "#252525");
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

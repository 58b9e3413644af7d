#pragma once

#include "ui/common/Theme.h"

#include <QString>

// The dark grid both routing matrices share.
inline QString matrixTableStyleSheet()
{
    using namespace Theme;
    return QString("QTableWidget { background-color: %1; gridline-color: %2; color: %3; }"
                   "QHeaderView { background-color: %1; }"
                   "QHeaderView::section { background-color: %4; color: %3; padding: 4px; border: 1px solid %5; }"
                   "QTableCornerButton::section { background-color: %4; border: 1px solid %5; }"
                   "QTableWidget::indicator { width: 18px; height: 18px; border-radius: 3px; }"
                   "QTableWidget::indicator:unchecked { background-color: %1; border: 1px solid %6; }"
                   "QTableWidget::indicator:unchecked:hover { border: 1px solid %7; }"
                   "QTableWidget::indicator:checked { background-color: %7; border: 1px solid %8; }")
        .arg(kBgField, kBorder, kToolText, kToolButton, kBorderControl, kBorderStrong, kMatrixTick,
             kMatrixTickBorder);
}

#pragma once

// The dark grid both routing matrices share.
inline constexpr const char* kMatrixTableStyleSheet =
    "QTableWidget { background-color: #2d2d2d; gridline-color: #444; color: #ddd; }"
    "QHeaderView { background-color: #2d2d2d; }"
    "QHeaderView::section { background-color: #404040; color: #ddd; padding: 4px; border: 1px solid #555; }"
    "QTableCornerButton::section { background-color: #404040; border: 1px solid #555; }"
    "QTableWidget::indicator { width: 18px; height: 18px; border-radius: 3px; }"
    "QTableWidget::indicator:unchecked { background-color: #2d2d2d; border: 1px solid #777; }"
    "QTableWidget::indicator:unchecked:hover { border: 1px solid #4aa3df; }"
    "QTableWidget::indicator:checked { background-color: #4aa3df; border: 1px solid #7cc4ee; }";

#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

class QWidget;

// Checks of what a person can read in a widget tree, shared by the window
// tests of several folders.

// The texts shown by `root` and its children (labels, buttons, group box
// titles) that hold a character no font Qt falls back to can draw: such a
// character shows as an empty box.
QStringList textsWithoutGlyphs(const QWidget& root);

// The WCAG 2 contrast ratio of two colours, 1 to 21; body text needs 4.5.
double contrastRatio(const QColor& first, const QColor& second);

// The screen sizes a window must work at: the default window and full HD.
inline constexpr int kScreenSizes[][2] = {{1024, 768}, {1920, 1080}};

// Grabs `widget` and saves the picture as <name>.png under
// TONVALE_SCREENSHOT_DIR when that is set, to look at; a run without it
// writes nothing. False when the grab gave no picture.
bool keepPicture(QWidget& widget, const QString& name);

// Resizes `widget` to width x height, lets its layout settle and grabs it;
// the picture is also saved as <name>-<width>x<height>.png under
// TONVALE_SCREENSHOT_DIR when that is set, to look at.
QImage grabAtSize(QWidget& widget, const QString& name, int width, int height);

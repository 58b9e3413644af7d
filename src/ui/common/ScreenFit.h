#pragma once

#include <QSize>

class QWidget;

// Every window opens whole on the screen it is shown on: a recordist on a
// 1024x768 cart screen must reach every button of every dialog.
// Threads: GUI thread only.

// The room a window's inside may take on the screen it opens on: the
// screen's available area (no panels or docks) less what a window manager
// adds around a window (title bar and borders).
QSize roomOnScreen(const QWidget& window);

// Gives `window` the size `preferred` (its size hint when invalid) and the
// minimum `minimum`, each grown
// to what its layout needs to show every control whole, then each kept
// within roomOnScreen(). Called once the window's layout is built. On a
// screen large enough the sizes stay as asked; on a smaller one a window
// whose controls need more room than the screen has must scroll them (see
// scrollingContent).
void fitToScreen(QWidget& window, const QSize& preferred, const QSize& minimum = QSize());

// Wraps `content` in a frameless, resizable scroll area for a window whose
// controls may not fit a small screen; the window's buttons stay outside it,
// always in view. The area's size hint is the whole content's, so the
// window's own hint still asks for everything. The area takes ownership of
// `content`.
QWidget* scrollingContent(QWidget* content);

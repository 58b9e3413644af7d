#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The window side's modal message boxes, built in one place so every box of
// a kind looks and answers the same. None shows an icon. A styled box
// carries the window's dark box sheet; a plain one takes its parent's look.
// Each returns once the person (or a test's answerer) has pressed a button.
// Threads: GUI thread only.

// The sheet every styled box carries.
QString messageBoxStyleSheet();

// A styled box with `buttons`; Ok is the default button.
void showStyledMessageBox(QWidget* parent, const QString& title, const QString& text,
                          QMessageBox::StandardButtons buttons);

// A styled question: returns the button pressed. `defaultButton` is the one
// Enter presses; `informativeText`, when given, shows under `text`.
QMessageBox::StandardButton askStyled(QWidget* parent, const QString& title, const QString& text,
                                      QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton defaultButton,
                                      const QString& informativeText = QString());

// A plain box with one Ok button.
void showPlainMessageBox(QWidget* parent, const QString& title, const QString& text);

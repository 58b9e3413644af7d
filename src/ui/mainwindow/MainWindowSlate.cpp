#include "ui/mainwindow/MainWindow.h"

// The talkback paths are filled in with the keyboard work; until then the
// buttons and controller keys reach these and nothing opens.
void MainWindow::onSlateButtonPressed() {}
void MainWindow::onSlateButtonReleased() {}
void MainWindow::onSlateMonitorButtonPressed() {}
void MainWindow::onSlateMonitorButtonReleased() {}
void MainWindow::onComButtonPressed() {}
void MainWindow::onComButtonReleased() {}
void MainWindow::resetSlateButton() {}
void MainWindow::resetComButton() {}

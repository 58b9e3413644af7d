#include "ui/mainwindow/MainWindow.h"

#include "core/ConfigManager.h"
#include "core/SessionState.h"

#include <QLabel>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle("Tonvale");
    auto* placeholder = new QLabel("Tonvale", this);
    placeholder->setAlignment(Qt::AlignCenter);
    setCentralWidget(placeholder);

    ConfigManager::getInstance()->loadConfig("");
    sessionState_ = std::make_shared<SessionState>();
}

MainWindow::~MainWindow()
{
    ConfigManager::getInstance()->saveConfig("");
}

bool MainWindow::tryConsumeTransportHotkey(const QKeyEvent*)
{
    return false;
}

void MainWindow::onTransportHotkeyKeyReleased(const QKeyEvent*)
{
}

#pragma once

#include <QMainWindow>

#include <memory>

class QKeyEvent;
class SessionState;

// The recorder's one main window. Its constructor builds the interface and
// the engines and returns with the window hidden; its destructor saves what
// the window keeps and shuts everything down.
// Threads: GUI thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Offered every key press by the application object before any widget
    // sees it; true means the press was a transport hotkey and is consumed.
    static bool tryConsumeTransportHotkey(const QKeyEvent* event);
    // Told of every key release before it is dispatched normally.
    static void onTransportHotkeyKeyReleased(const QKeyEvent* event);

private:
    std::shared_ptr<SessionState> sessionState_;
};

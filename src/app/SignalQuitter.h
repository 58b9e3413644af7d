#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a normal end of the event loop, so a
// recorder stopped by its session manager (or a test) still runs its
// shutdown: the take is closed and the configuration saved.
// The handler only writes a byte to a socket pair; the quit happens on the
// GUI thread when the event loop (or a modal dialog's loop) reads it.
class SignalQuitter : public QObject {
    Q_OBJECT

public:
    explicit SignalQuitter(QObject* parent = nullptr);
    ~SignalQuitter() override;

    // True once a signal has asked the program to quit; a nested loop (a
    // modal dialog during start-up) ends then, and the caller must not go on
    // as if the user had closed it.
    bool quitRequested() const { return quitRequested_; }

private:
    void onSignalByte();

    bool quitRequested_ = false;
};

#pragma once

#include <QApplication>

// The process's application object. It looks at every key press and release
// first, so the transport hotkeys work whichever widget has the focus, and it
// holds LC_NUMERIC at "C" from its construction on.
// Threads: GUI thread.
class TonvaleApplication : public QApplication {
    Q_OBJECT

public:
    TonvaleApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

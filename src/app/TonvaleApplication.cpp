#include "app/TonvaleApplication.h"

#include "ui/mainwindow/MainWindow.h"

#include <QKeyEvent>

#include <clocale>

TonvaleApplication::TonvaleApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // QApplication has just set every locale category from the environment.
    // Our own number conversions ignore the locale, but libraries that format
    // numbers for us (printf-style) would write a decimal comma into files and
    // logs under a comma locale; texts, sorting and character classes keep
    // following the user.
    std::setlocale(LC_NUMERIC, "C");
}

bool TonvaleApplication::notify(QObject* receiver, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        if (MainWindow::tryConsumeTransportHotkey(static_cast<QKeyEvent*>(event)))
            return true;
    } else if (event->type() == QEvent::ShortcutOverride) {
        // Comes before a shortcut acts on the press: a held-back release of
        // a transport key is settled first, or found to be half of a repeat.
        MainWindow::resolvePendingTransportRelease(static_cast<QKeyEvent*>(event));
    } else if (event->type() == QEvent::KeyRelease) {
        MainWindow::onTransportHotkeyKeyReleased(static_cast<QKeyEvent*>(event));
    }
    return QApplication::notify(receiver, event);
}

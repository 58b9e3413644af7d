#pragma once

#include <QPixmap>
#include <QString>

// The program's entry sequence: identity, single-instance lock, splash,
// configuration, the scan for unclosed recordings, the main window and the
// event loop. Returns the process exit code.
int runTonvale(int argc, char* argv[]);

// The splash image to load for an executable in `applicationDir`: the bundle's
// Resources folder first, then an installed share/tonvale folder, then the
// executable's own folder (returned even when it does not exist).
QString splashFilePath(const QString& applicationDir);

// The loaded image scaled to 60 %, or the drawn 400 x 200 card when the file
// is missing or unreadable.
QPixmap makeSplashPixmap(const QString& path);

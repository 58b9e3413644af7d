#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// The program's own images, drawn with QPainter: the record/stop button in
// its two states, the fader cap, the nine drive icons and the splash. The
// window loads them as files found by findResourcePath; the build writes
// them beside the executable and the install puts them in share/tonvale.
QStringList artworkFileNames();
// A null image for a name that is not ours.
QImage drawArtwork(const QString& fileName);
// Writes every image into `folder`; false (with the first failing name in
// `failedName`) when one cannot be written.
bool writeArtwork(const QString& folder, QString* failedName = nullptr);

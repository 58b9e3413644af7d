// Writes the program's images into the folder named on the command line.
#include "ui/mainwindow/Artwork.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Drawing text needs fonts, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tonvale_artwork <folder>\n");
        return 2;
    }
    QString failed;
    if (!writeArtwork(QString::fromLocal8Bit(argv[1]), &failed)) {
        std::fprintf(stderr, "tonvale_artwork: cannot write %s\n", qPrintable(failed));
        return 1;
    }
    return 0;
}

#include "ui/tools/MetadataManagerWindow.h"

#include <QLabel>

MetadataManagerWindow::MetadataManagerWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle("Metadata Manager");
    setAttribute(Qt::WA_DeleteOnClose, false);
    setCentralWidget(new QLabel("Metadata Manager", this));
}

#pragma once

#include <QMainWindow>

// The take metadata browser. The main window keeps one, shows it on demand
// and deletes it when it goes; closing it only hides it.
// Threads: GUI thread only.
class MetadataManagerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MetadataManagerWindow(QWidget* parent = nullptr);
    ~MetadataManagerWindow() override = default;
};

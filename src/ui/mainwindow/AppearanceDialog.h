#pragma once

#include <QDialog>

class QButtonGroup;
class QRadioButton;

// Chooses the application-wide theme. The window's own dark sheet stays in
// force under every theme; the theme reaches what sets no sheet of its own.
// Threads: GUI thread only.
class AppearanceDialog : public QDialog {
    Q_OBJECT

public:
    enum Theme { Dark = 0, Light = 1, HighVisibility = 2 };

    explicit AppearanceDialog(QWidget* parent = nullptr);

    // The stored theme ("appearance.theme", 0 when absent).
    static Theme getCurrentTheme();
    // Any value other than Light and HighVisibility gives the Dark sheet.
    static void applyTheme(Theme theme);
    static void saveTheme(Theme theme);
    static QString getThemeStyleSheet(Theme theme);

public slots:
    void onPreviewTheme(int id);
    void onApplyClicked();

private:
    void loadCurrentTheme();

    QButtonGroup* group_ = nullptr;
    QRadioButton* darkButton_ = nullptr;
    QRadioButton* lightButton_ = nullptr;
    QRadioButton* highVisibilityButton_ = nullptr;
    int storedTheme_ = 0;
};

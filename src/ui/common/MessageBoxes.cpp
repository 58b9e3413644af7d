#include "ui/common/MessageBoxes.h"

#include "ui/common/Theme.h"

QString messageBoxStyleSheet()
{
    using namespace Theme;
    return QString("QMessageBox { background-color: %1; }QMessageBox QLabel { color: %2; padding: 10px; }"
                   "QPushButton { background-color: %3; color: %4; border: 1px solid %5;              "
                   "padding: 8px 20px; margin: 4px; min-width: 80px; }QPushButton:hover { background-color: %6; }"
                   "QPushButton:pressed { background-color: %7; }")
        .arg(kBgDialog, kTextBright, kDialogButton, kTextBright, kBorderControl, kDialogButtonHover,
             kDialogButtonPressed);
}

void showStyledMessageBox(QWidget* parent, const QString& title, const QString& text,
                          QMessageBox::StandardButtons buttons)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(title);
    box.setText(text);
    box.setStandardButtons(buttons);
    box.setDefaultButton(QMessageBox::Ok);
    box.setStyleSheet(messageBoxStyleSheet());
    box.exec();
}

QMessageBox::StandardButton askStyled(QWidget* parent, const QString& title, const QString& text,
                                      QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton defaultButton, const QString& informativeText)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(title);
    box.setText(text);
    if (!informativeText.isEmpty())
        box.setInformativeText(informativeText);
    box.setStandardButtons(buttons);
    box.setDefaultButton(defaultButton);
    box.setStyleSheet(messageBoxStyleSheet());
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void showPlainMessageBox(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

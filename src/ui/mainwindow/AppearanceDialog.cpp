#include "ui/mainwindow/AppearanceDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/WindowKeys.h"
#include "ui/common/Theme.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {


// Arguments: %1 background, %2 text, %3 secondary text (labels, titles),
// %4 border, %5 border width, %6 button, %7 button border, %8 button hover,
// %9 button hover border, %10 button pressed, %11 input background,
// %12 input text, %13 menu bar, %14 menu, %15 menu selected, %16 extra rules.
const char* const kThemeTemplate =
    "QMainWindow, QDialog, QWidget { background-color: %1; color: %2; }"
    "QGroupBox { color: %3; border: %5 solid %4; border-radius: 5px; margin-top: 10px; padding-top: 10px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 10px; padding: 0 5px; }"
    "QPushButton { background-color: %6; color: %2; border: %5 solid %7; border-radius: 3px; padding: 5px 15px; }"
    "QPushButton:hover { background-color: %8; border-color: %9; }"
    "QPushButton:pressed { background-color: %10; }"
    "QLabel { color: %3; }"
    "QLineEdit, QTextEdit, QPlainTextEdit, QSpinBox, QDoubleSpinBox, QComboBox, QDateEdit, QTimeEdit, "
    "QDateTimeEdit { background-color: %11; color: %12; border: %5 solid %4; border-radius: 3px; padding: 3px; }"
    "QComboBox QAbstractItemView, QListView, QListWidget, QTreeView, QTableView, QTableWidget { "
    "background-color: %11; color: %12; border: %5 solid %4; selection-background-color: %15; }"
    "QCheckBox, QRadioButton { color: %3; }"
    "QMenuBar { background-color: %13; color: %2; }"
    "QMenuBar::item:selected { background-color: %15; }"
    "QMenu { background-color: %14; color: %2; border: %5 solid %4; }"
    "QMenu::item:selected { background-color: %15; }"
    "%16";

QString fillTheme(const Theme::AppearancePalette& palette)
{
    // In the order of the template's arguments.
    const QStringList values = {
        palette.background, palette.text, palette.secondaryText, palette.border,
        palette.borderWidth, palette.button, palette.buttonBorder, palette.buttonHover,
        palette.buttonHoverBorder, palette.buttonPressed, palette.inputBackground, palette.inputText,
        palette.menuBar, palette.menu, palette.menuSelected, palette.extraRules,
    };
    QString sheet = kThemeTemplate;
    // Highest placeholder first, so %1 never eats the front of %10..%16.
    for (int index = static_cast<int>(values.size()); index >= 1; --index)
        sheet.replace(QString("%%1").arg(index), values[index - 1]);
    return sheet;
}

} // namespace

AppearanceDialog::AppearanceDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Appearance Settings");
    setMinimumSize(400, 300);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel("Select your preferred appearance theme:", this);
    intro->setStyleSheet(QString("font-size: 12px; color: %1; margin-bottom: 10px;").arg(::Theme::kTextSecondary));
    layout->addWidget(intro);

    auto* box = new QGroupBox("Theme", this);
    auto* boxLayout = new QVBoxLayout(box);
    darkButton_ = new QRadioButton("Dark Mode (Default)", box);
    darkButton_->setToolTip("Dark background with light text - easy on the eyes");
    lightButton_ = new QRadioButton("Light Mode", box);
    lightButton_->setToolTip("Light background with dark text - traditional appearance");
    highVisibilityButton_ = new QRadioButton("High Visibility", box);
    highVisibilityButton_->setToolTip("High contrast colors for maximum visibility");
    group_ = new QButtonGroup(this);
    group_->addButton(darkButton_, Dark);
    group_->addButton(lightButton_, Light);
    group_->addButton(highVisibilityButton_, HighVisibility);
    for (QRadioButton* button : {darkButton_, lightButton_, highVisibilityButton_})
        boxLayout->addWidget(button);
    layout->addWidget(box);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancel = new QPushButton("Cancel", this);
    auto* apply = new QPushButton("Apply", this);
    apply->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(apply);
    layout->addLayout(buttons);

    connect(group_, &QButtonGroup::idClicked, this, &AppearanceDialog::onPreviewTheme);
    connect(apply, &QPushButton::clicked, this, &AppearanceDialog::onApplyClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    loadCurrentTheme();
}

void AppearanceDialog::loadCurrentTheme()
{
    storedTheme_ = ConfigManager::getInstance()->getInt(WindowKeys::kTheme, Dark);
    if (QAbstractButton* button = group_->button(storedTheme_))
        button->setChecked(true);
}

void AppearanceDialog::onPreviewTheme(int id)
{
    applyTheme(static_cast<Theme>(id));
}

void AppearanceDialog::onApplyClicked()
{
    Theme theme = Dark;
    if (lightButton_->isChecked())
        theme = Light;
    else if (highVisibilityButton_->isChecked())
        theme = HighVisibility;
    saveTheme(theme);
    applyTheme(theme);
    accept();
}

AppearanceDialog::Theme AppearanceDialog::getCurrentTheme()
{
    return static_cast<Theme>(ConfigManager::getInstance()->getInt(WindowKeys::kTheme, Dark));
}

void AppearanceDialog::applyTheme(Theme theme)
{
    qApp->setStyleSheet(getThemeStyleSheet(theme));
}

void AppearanceDialog::saveTheme(Theme theme)
{
    ConfigManager::getInstance()->setInt(WindowKeys::kTheme, theme);
    ConfigManager::getInstance()->saveConfig("");
}

QString AppearanceDialog::getThemeStyleSheet(Theme theme)
{
    switch (theme) {
    case Light:
        return fillTheme(::Theme::kLightAppearance);
    case HighVisibility:
        return fillTheme(::Theme::kHighVisibilityAppearance);
    default:
        return fillTheme(::Theme::kDarkAppearance);
    }
}

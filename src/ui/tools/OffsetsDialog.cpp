#include "ui/tools/OffsetsDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/LtcKeys.h"
#include "ui/common/Theme.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// %1 dialog, %2 text, %3 borders, %4 group titles, %5 buttons, %6 button
// hover, %7 pressed buttons and fields.
QString dialogStyle()
{
    using namespace Theme;
    return QString(R"(
QDialog { background-color: %1; }
QLabel { color: %2; }
QGroupBox { color: %2; border: 1px solid %3; border-radius: 4px; margin-top: 10px; padding-top: 10px; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; padding: 0 5px; color: %4; }
QPushButton { background-color: %5; border: 1px solid %3; border-radius: 4px; color: %2; padding: 6px 12px; }
QPushButton:hover { background-color: %6; }
QPushButton:pressed { background-color: %7; }
QSpinBox { background-color: %7; border: 1px solid %3; border-radius: 4px; color: %2; padding: 4px 8px; }
)")
        .arg(kToolBg, kToolText, kBorderControl, kToolAccent, kToolButton, kToolButtonHover, kToolInput);
}

}  // namespace

OffsetsDialog::OffsetsDialog(AudioEngineBase* engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    setWindowTitle("Offsets Configuration");
    setMinimumSize(400, 200);
    setupUI();
    loadCurrentSettings();
}

void OffsetsDialog::setupUI()
{
    setStyleSheet(dialogStyle());
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(15);

    auto* group = new QGroupBox("Timecode Offset");
    auto* groupLayout = new QVBoxLayout(group);
    auto* note = new QLabel("Frame offset is applied on top of the built-in timecode alignment.\n"
                            "Negative = delay timecode, positive = advance. Applied to all future recordings.");
    note->setWordWrap(true);
    note->setStyleSheet(QString("color: %1; font-size: 10px;").arg(Theme::kTextMuted));
    groupLayout->addWidget(note);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Offset (frames):"));
    offsetBox_ = new QSpinBox;
    offsetBox_->setRange(-kMaxOffsetFrames, kMaxOffsetFrames);
    offsetBox_->setValue(0);
    offsetBox_->setSuffix(" frames");
    offsetBox_->setMinimumWidth(120);
    row->addWidget(offsetBox_);
    currentLabel_ = new QLabel("Current: 0 frames");
    currentLabel_->setStyleSheet(QString("color: %1; font-weight: bold;").arg(Theme::kToolAccent));
    row->addWidget(currentLabel_);
    row->addStretch();
    groupLayout->addLayout(row);
    layout->addWidget(group);
    layout->addStretch();

    auto* buttons = new QHBoxLayout;
    auto* reset = new QPushButton("Reset to 0");
    auto* apply = new QPushButton("Apply");
    auto* close = new QPushButton("Close");
    for (QPushButton* button : {reset, apply, close})
        button->setFixedWidth(100);
    buttons->addWidget(reset);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(reset, &QPushButton::clicked, this, &OffsetsDialog::onReset);
    connect(apply, &QPushButton::clicked, this, &OffsetsDialog::onApply);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void OffsetsDialog::loadCurrentSettings()
{
    const int stored = ConfigManager::getInstance()->getInt(LtcKeys::kFrameOffset, 0);
    offsetBox_->setValue(stored);
    currentLabel_->setText(QString("Current: %1 frames").arg(stored));
}

void OffsetsDialog::onApply()
{
    const int frames = offsetBox_->value();
    ConfigManager* config = ConfigManager::getInstance();
    config->setInt(LtcKeys::kFrameOffset, frames);
    config->saveConfig("");
    currentLabel_->setText(QString("Current: %1 frames").arg(frames));
    QMessageBox::information(this, "Offsets Applied",
                             QString("Timecode frame offset set to %1.\nApplied on top of built-in alignment for all "
                                     "future recordings.")
                                 .arg(frames));
}

void OffsetsDialog::onReset()
{
    offsetBox_->setValue(0);
    onApply();
}

#include "ui/tools/PlaybackRoutingDialog.h"

#include <algorithm>

#include "core/ConfigManager.h"
#include "core/settings/PlaybackKeys.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct BusItem {
    const char* text;
    const char* code;
};

// The items after "-- Not Routed --", in their order in every box.
constexpr BusItem kBusItems[] = {
    {">> Mix Output", "MIX"},    {">> Mix + Monitor", "MIX+MON"}, {">> Monitor Only", "MONITOR"},
    {">> Coms Output", "COMS"},  {">> AUX 1", "AUX1"},            {">> AUX 2", "AUX2"},
    {">> AUX 3", "AUX3"},        {">> AUX 4", "AUX4"},
};
constexpr int kColumnsOfChannels = 4;

}  // namespace

PlaybackRoutingDialog::PlaybackRoutingDialog(AudioEngineBase* engine, QWidget* parent)
    : QDialog(parent), engine_(engine)
{
    setWindowTitle("Playback Routing");
    setupUI();
    populateOutputCombos();
    restoreOutputRouting();
    // At least 500 wide, but never narrower than the grid of choosers needs
    // once filled and styled (by the window's style sheet too): the layout's
    // own minimum keeps every label readable, the hint every choice.
    // The grid scrolls sideways on a screen narrower than it.
    ensurePolished();
    fitToScreen(*this, QSize(std::max(500, sizeHint().width()), sizeHint().height()));
}

std::string PlaybackRoutingDialog::configKey(int channel)
{
    return PlaybackKeys::outputChannelKey(channel);
}

std::string PlaybackRoutingDialog::outputCodeForChoice(const std::string& choice)
{
    if (choice.empty() || choice == kNotRouted)
        return {};
    for (const BusItem& item : kBusItems)
        if (choice == item.text)
            return item.code;
    return choice;
}

void PlaybackRoutingDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel("Route playback channels to audio outputs.\nThese settings apply to all playback files.");
    note->setStyleSheet(QString("color: %1;").arg(Theme::kTextMuted));
    layout->addWidget(note);

    auto* group = new QGroupBox("Output Routing");
    auto* grid = new QGridLayout(group);
    for (int c = 0; c < kPlaybackChannels; ++c) {
        const int row = c / kColumnsOfChannels;
        const int column = 2 * (c % kColumnsOfChannels);
        grid->addWidget(new QLabel(QString("Ch %1:").arg(c + 1)), row, column);
        auto* combo = new QComboBox;
        combo->setMinimumWidth(120);
        grid->addWidget(combo, row, column + 1);
        combos_[static_cast<size_t>(c)] = combo;
        connect(combo, &QComboBox::currentIndexChanged, this, [this, c] { onOutputChanged(c); });
    }
    layout->addWidget(scrollingContent(group));

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    auto* close = new QPushButton("Close");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(close);
    layout->addLayout(bottom);
}

void PlaybackRoutingDialog::populateOutputCombos()
{
    if (engine_ == nullptr)
        return;
    const std::vector<std::string> outputs = engine_->getAvailableOutputChannels();
    for (QComboBox* combo : combos_) {
        const QSignalBlocker block(combo);
        combo->clear();
        combo->addItem(kNotRouted);
        for (const BusItem& item : kBusItems)
            combo->addItem(item.text);
        for (const std::string& name : outputs)
            combo->addItem(QString::fromStdString(name));
    }
}

void PlaybackRoutingDialog::restoreOutputRouting()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (int c = 0; c < kPlaybackChannels; ++c) {
        QComboBox* combo = combos_[static_cast<size_t>(c)];
        const QSignalBlocker block(combo);
        const QString stored = QString::fromStdString(config->getString(configKey(c), ""));
        // A name the engine no longer offers shows as not routed; its key
        // stays until the user changes a choice.
        const int index = stored.isEmpty() ? 0 : combo->findText(stored, Qt::MatchExactly | Qt::MatchCaseSensitive);
        combo->setCurrentIndex(std::max(index, 0));
    }
    applyOutputRouting();
}

void PlaybackRoutingDialog::onOutputChanged(int channelIndex)
{
    if (channelIndex < 0 || channelIndex >= kPlaybackChannels || engine_ == nullptr)
        return;
    saveOutputRouting();
    applyOutputRouting();
}

void PlaybackRoutingDialog::saveOutputRouting()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (int c = 0; c < kPlaybackChannels; ++c) {
        const QComboBox* combo = combos_[static_cast<size_t>(c)];
        const std::string value = combo->currentIndex() <= 0 ? std::string() : combo->currentText().toStdString();
        config->setString(configKey(c), value);
    }
    config->saveConfig("");
}

void PlaybackRoutingDialog::applyOutputRouting()
{
    if (engine_ == nullptr)
        return;
    for (int c = 0; c < kPlaybackChannels; ++c) {
        const QComboBox* combo = combos_[static_cast<size_t>(c)];
        const std::string choice = combo->currentIndex() <= 0 ? std::string() : combo->currentText().toStdString();
        engine_->setPlaybackOutputPort(c, outputCodeForChoice(choice));
    }
}

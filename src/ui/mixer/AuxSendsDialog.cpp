#include "ui/mixer/AuxSendsDialog.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/AuxKeys.h"
#include "core/settings/RoutingKeys.h"
#include "core/settings/TrackKeys.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kNameColumnWidth = 120;
constexpr int kBusColumnWidth = 110;
constexpr int kRowHeight = 55;

// Levels are shown at the nearest percent, so a send set to 53 % reopens as 53 %.
int toPercent(float level)
{
    return static_cast<int>(std::lround(level * 100.0));
}

float fromPercent(int value)
{
    return static_cast<float>(value / 100.0);
}

void addNames(std::set<std::string>& used, const std::string& list)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            used.insert(list.substr(start, end - start));
        start = end + 1;
    }
}

// A send cell of the grid on `background`.
QString sendCellStyle(const char* background)
{
    return QString("background-color: %1; border: 1px solid %2;").arg(background, Theme::kBorder);
}

// %1 dialog, %2 group borders, %3 labels, %4 slider groove, %5 slider fill,
// %6 buttons, %7 button hover.
QString dialogStyleSheet()
{
    using namespace Theme;
    return QString("QDialog { background-color: %1; color: white; }"
                   "QGroupBox { font-weight: bold; border: 1px solid %2; border-radius: 4px; margin-top: 10px; "
                   "padding-top: 6px; color: white; }"
                   "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }"
                   "QLabel { color: %3; }"
                   "QSlider::groove:horizontal { height: 6px; background: %4; border-radius: 3px; }"
                   "QSlider::sub-page:horizontal { background: %5; border-radius: 3px; }"
                   "QSlider::handle:horizontal { background: %5; width: 12px; margin: -4px 0; border-radius: 6px; }"
                   "QPushButton { background-color: %6; color: white; border: 1px solid %2; border-radius: 3px; "
                   "padding: 5px 12px; min-width: 80px; }"
                   "QPushButton:hover { background-color: %7; }")
        .arg(kBgDialog, kBorderControl, kTextLabel, kDialogWell, kDialogAccent, kDialogButton, kDialogButtonHover);
}

}  // namespace

AuxSendsDialog::AuxSendsDialog(AudioEngineBase* engine, int trackCount, const std::vector<std::string>& outputPorts,
                               QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      trackCount_(std::clamp(trackCount, 0, kMaxSendTracks)),
      outputPorts_(outputPorts)
{
    setWindowTitle("AUX Sends & Routing");
    setupUI();
    fitToScreen(*this, QSize(), QSize(700, 600));
    loadCurrentSettings();
}

AuxSendsDialog::~AuxSendsDialog()
{
    saveSettings();
}

void AuxSendsDialog::saveSettings()
{
    ConfigManager::getInstance()->saveConfig("");
}

// --- Building ---------------------------------------------------------------

void AuxSendsDialog::setupUI()
{
    setStyleSheet(dialogStyleSheet());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildMasterGroup());
    layout->addWidget(buildSendsGroup(), 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    layout->addLayout(buttons);
}

QWidget* AuxSendsDialog::buildMasterGroup()
{
    auto* group = new QGroupBox("AUX Master Levels && Output Routing", this);  // "&&": a plain "&", not a mnemonic
    auto* row = new QHBoxLayout(group);
    row->setSpacing(0);
    row->setContentsMargins(6, 6, 6, 6);
    auto* spacer = new QWidget(group);
    spacer->setFixedWidth(kNameColumnWidth);
    row->addWidget(spacer);
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        auto* column = new QWidget(group);
        column->setFixedWidth(kBusColumnWidth);
        auto* layout = new QVBoxLayout(column);
        layout->setSpacing(2);
        layout->setContentsMargins(2, 2, 2, 2);
        auto* title = new QLabel(QString("AUX %1").arg(aux + 1), column);
        title->setAlignment(Qt::AlignCenter);
        title->setStyleSheet("font-weight: bold; font-size: 10px;");
        layout->addWidget(title);

        auto* levelRow = new QHBoxLayout;
        levelRow->setSpacing(2);
        auto* label = new QLabel("100", column);
        label->setFixedWidth(20);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setStyleSheet(labelStyle(8, Theme::kTextMuted));
        auto* slider = new QSlider(Qt::Horizontal, column);
        slider->setRange(0, 100);
        slider->setValue(100);
        slider->setObjectName(QString("auxLevel%1").arg(aux));
        levelRow->addWidget(label);
        levelRow->addWidget(slider, 1);
        layout->addLayout(levelRow);

        auto* combo = new QComboBox(column);
        combo->setObjectName(QString("auxOutput%1").arg(aux));
        combo->setStyleSheet("font-size: 9px;");
        // The column is narrow: the list opens wide enough for whole names,
        // and the chosen one reads in full as the tooltip.
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->view()->setMinimumWidth(220);
        layout->addWidget(combo);

        auto* delayRow = new QHBoxLayout;
        delayRow->setSpacing(2);
        delayRow->setContentsMargins(0, 2, 0, 0);
        auto* delayLabel = new QLabel("Delay:", column);
        delayLabel->setStyleSheet(labelStyle(8, Theme::kTextMuted));
        auto* delay = new QSpinBox(column);
        delay->setObjectName(QString("auxDelay%1").arg(aux));
        delay->setRange(0, 500);
        delay->setSuffix(" ms");
        delay->setFixedHeight(20);
        delay->setStyleSheet("font-size: 8px;");
        delayRow->addWidget(delayLabel);
        delayRow->addWidget(delay);
        layout->addLayout(delayRow);

        levelSliders_[static_cast<size_t>(aux)] = slider;
        levelLabels_[static_cast<size_t>(aux)] = label;
        outputCombos_[static_cast<size_t>(aux)] = combo;
        delaySpins_[static_cast<size_t>(aux)] = delay;
        connect(slider, &QSlider::valueChanged, this, [this, aux](int value) { onAuxLevelChanged(aux, value); });
        connect(combo, &QComboBox::currentIndexChanged, this, [this, aux] { onAuxOutputChanged(aux); });
        connect(delay, &QSpinBox::valueChanged, this, [this, aux](int value) { onAuxDelayChanged(aux, value); });
        row->addWidget(column);
    }
    row->addStretch();
    return group;
}

QWidget* AuxSendsDialog::buildSendCell(QWidget* parent, SendCell& cell, const QString& style, const QString& tooltip,
                                       const QString& name)
{
    auto* widget = new QWidget(parent);
    widget->setFixedSize(kBusColumnWidth, kRowHeight);
    widget->setObjectName("sendCell");
    widget->setAttribute(Qt::WA_StyledBackground);
    widget->setStyleSheet(QString("#sendCell { %1 }").arg(style));
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(1);
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    cell.label = new QLabel("0", widget);
    cell.label->setObjectName(name + "Label");
    cell.label->setFixedWidth(24);
    cell.label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cell.label->setStyleSheet(labelStyle(9, Theme::kTextCaption));
    cell.slider = new QSlider(Qt::Horizontal, widget);
    cell.slider->setObjectName(name);
    cell.slider->setRange(0, 100);
    row->addWidget(cell.label);
    row->addWidget(cell.slider, 1);
    layout->addLayout(row);
    cell.preFader = new QCheckBox("Pre", widget);
    cell.preFader->setObjectName(name + "Pre");
    cell.preFader->setStyleSheet(QString("QCheckBox { color: %1; font-size: 9px; } QCheckBox::indicator { "
                                         "width: 10px; height: 10px; }")
                                     .arg(Theme::kTextMuted));
    cell.preFader->setToolTip(tooltip);
    layout->addWidget(cell.preFader);
    return widget;
}

QWidget* AuxSendsDialog::buildSendsGroup()
{
    auto* group = new QGroupBox("Track Sends", this);
    auto* grid = new QGridLayout(group);
    grid->setSpacing(0);
    grid->setContentsMargins(0, 0, 0, 0);
    const int rows = trackCount_ + 1;

    auto* corner = new QWidget(group);
    corner->setFixedSize(kNameColumnWidth, 30);
    corner->setObjectName("corner");
    corner->setAttribute(Qt::WA_StyledBackground);
    corner->setStyleSheet(QString("#corner { background-color: %1; border: 1px solid %2; }")
                              .arg(Theme::kBgField, Theme::kBorderControl));
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(4, 4, 4, 4);
    auto* cornerLabel = new QLabel("Track", corner);
    cornerLabel->setStyleSheet(QString("font-weight: bold; color: %1; padding: 4px;").arg(Theme::kTextSecondary));
    cornerLayout->addWidget(cornerLabel);
    grid->addWidget(corner, 0, 0);

    auto* header = new QScrollArea(group);
    header->setFixedHeight(30);
    header->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header->setStyleSheet(QString("QScrollArea { border: none; background-color: %1; }").arg(Theme::kBgField));
    auto* headerContent = new QWidget;
    headerContent->setFixedSize(kAuxBuses * kBusColumnWidth, 30);
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        auto* label = new QLabel(QString("AUX %1").arg(aux + 1), headerContent);
        label->setGeometry(aux * kBusColumnWidth, 0, kBusColumnWidth, 30);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QString("font-weight: bold; background-color: %1; border: 1px solid %2; color: %3;")
                                 .arg(Theme::kToolButton, Theme::kBorderControl, Theme::kToolText));
    }
    header->setWidget(headerContent);
    grid->addWidget(header, 0, 1);

    auto* names = new QScrollArea(group);
    names->setFixedWidth(kNameColumnWidth);
    names->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    names->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    names->setStyleSheet(QString("QScrollArea { border: none; background-color: %1; }").arg(Theme::kBgField));
    auto* namesContent = new QWidget;
    namesContent->setFixedSize(kNameColumnWidth, kRowHeight * rows);
    auto* mixName = new QLabel("Mix Bus", namesContent);
    mixName->setGeometry(0, 0, kNameColumnWidth, kRowHeight);
    mixName->setStyleSheet(QString("font-weight: bold; background-color: %1; border: 1px solid %2; "
                                   "padding-left: 4px; color: %3;")
                               .arg(Theme::kBusMixBg, Theme::kBorderControl, Theme::kBusMix));
    ConfigManager* config = ConfigManager::getInstance();
    for (int t = 0; t < trackCount_; ++t) {
        const std::string name = config->getString(TrackKeys::nameKey(t), "Track " + std::to_string(t + 1));
        auto* label = new QLabel(QString::fromStdString(name), namesContent);
        label->setGeometry(0, kRowHeight * (t + 1), kNameColumnWidth, kRowHeight);
        label->setStyleSheet(QString("font-weight: bold; background-color: %1; border: 1px solid %2; "
                                     "padding-left: 4px; color: %3;")
                                 .arg(Theme::kBusTrackBg, Theme::kBorderControl, Theme::kBusTrack));
    }
    names->setWidget(namesContent);
    grid->addWidget(names, 1, 0);

    sendGrid_ = new QScrollArea(group);
    sendGrid_->setObjectName("sendGrid");
    sendGrid_->setWidgetResizable(false);
    sendGrid_->setStyleSheet(QString("QScrollArea { border: 1px solid %1; background-color: %2; }")
                                 .arg(Theme::kBorder, Theme::kBgWindow));
    auto* content = new QWidget;
    content->setObjectName("sendGridContent");
    content->setFixedSize(kAuxBuses * kBusColumnWidth, kRowHeight * rows);
    auto* cells = new QGridLayout(content);
    cells->setSpacing(0);
    cells->setContentsMargins(0, 0, 0, 0);
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        SendCell& mix = mixSends_[static_cast<size_t>(aux)];
        cells->addWidget(buildSendCell(content, mix, sendCellStyle(Theme::kBusMixBg),
                                       "Pre-fader: send signal before mix fader", QString("mixSend%1").arg(aux)),
                         0, aux);
        connect(mix.slider, &QSlider::valueChanged, this, [this, aux](int v) { onMixSendLevelChanged(aux, v); });
        connect(mix.preFader, &QCheckBox::toggled, this, [this, aux](bool on) { onMixSendPreFaderChanged(aux, on); });
        for (int t = 0; t < trackCount_; ++t) {
            SendCell& cell = trackSends_[static_cast<size_t>(t)][static_cast<size_t>(aux)];
            cells->addWidget(buildSendCell(content, cell, sendCellStyle(Theme::kBgField),
                                           "Pre-fader: send signal before track fader",
                                           QString("send%1_%2").arg(t).arg(aux)),
                             t + 1, aux);
            connect(cell.slider, &QSlider::valueChanged, this,
                    [this, t, aux](int v) { onSendLevelChanged(t, aux, v); });
            connect(cell.preFader, &QCheckBox::toggled, this,
                    [this, t, aux](bool on) { onSendPreFaderChanged(t, aux, on); });
        }
    }
    sendGrid_->setWidget(content);
    grid->addWidget(sendGrid_, 1, 1);
    connect(sendGrid_->horizontalScrollBar(), &QScrollBar::valueChanged, header->horizontalScrollBar(),
            &QScrollBar::setValue);
    connect(sendGrid_->verticalScrollBar(), &QScrollBar::valueChanged, names->verticalScrollBar(),
            &QScrollBar::setValue);
    return group;
}

// --- Outputs ----------------------------------------------------------------

std::set<std::string> AuxSendsDialog::getUsedOutputPorts() const
{
    ConfigManager* config = ConfigManager::getInstance();
    std::set<std::string> used;
    addNames(used, config->getString(RoutingKeys::kMixOutput, ""));
    addNames(used, config->getString(RoutingKeys::kComsOutput, ""));
    const int tracks = config->getInt(TrackKeys::kCount, 32);
    for (int t = 0; t < tracks; ++t) {
        const std::string output = config->getString(RoutingKeys::trackOutputKey(t), "");
        if (!output.empty())
            used.insert(output);
    }
    return used;
}

void AuxSendsDialog::populateAuxOutputCombos()
{
    const std::set<std::string> used = getUsedOutputPorts();
    ConfigManager* config = ConfigManager::getInstance();
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        QComboBox* combo = outputCombos_[static_cast<size_t>(aux)];
        const QString remembered = combo->count() > 0 ? combo->currentData().toString() : QString();
        // The bus's own stored channel stays on offer even when another bus
        // or track uses it now: the engine still routes the bus there.
        const std::string own = config->getString(AuxKeys::outputKey(aux), "");
        const QSignalBlocker blocker(combo);
        combo->clear();
        combo->addItem("(None)", QString());
        for (const std::string& port : outputPorts_) {
            const QString name = QString::fromStdString(port);
            if (used.count(port) == 0)
                combo->addItem(name, name);
            else if (port == own)
                combo->addItem(name + " (in use)", name);
        }
        if (!remembered.isEmpty()) {
            const int index = combo->findData(remembered);
            if (index >= 0)
                combo->setCurrentIndex(index);
        }
    }
}

std::vector<int> AuxSendsDialog::outputIndexList(const std::string& name) const
{
    if (name.empty())
        return {};
    const auto found = std::find(outputPorts_.begin(), outputPorts_.end(), name);
    if (found == outputPorts_.end())
        return {};
    return {static_cast<int>(found - outputPorts_.begin())};
}

// --- Loading ----------------------------------------------------------------

void AuxSendsDialog::loadCurrentSettings()
{
    if (engine_ == nullptr)
        return;
    populateAuxOutputCombos();
    ConfigManager* config = ConfigManager::getInstance();
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        const size_t a = static_cast<size_t>(aux);
        {
            const QSignalBlocker blocker(levelSliders_[a]);
            const int level = toPercent(engine_->getAuxLevel(aux));
            levelSliders_[a]->setValue(level);
            levelLabels_[a]->setText(QString::number(levelSliders_[a]->value()));
        }
        {
            QComboBox* combo = outputCombos_[a];
            const QSignalBlocker blocker(combo);
            const std::string output = config->getString(AuxKeys::outputKey(aux), "");
            const int index = output.empty() ? 0 : combo->findData(QString::fromStdString(output));
            combo->setCurrentIndex(std::max(index, 0));
            combo->setToolTip(combo->currentText());
            const std::vector<int> channels = outputIndexList(output);
            if (!channels.empty())
                engine_->setAuxOutputIndices(aux, channels);
        }
        {
            const QSignalBlocker blocker(delaySpins_[a]);
            delaySpins_[a]->setValue(config->getInt(AuxKeys::delayKey(aux), 0));
        }
    }
    auto show = [](SendCell& cell, float level, bool preFader) {
        const QSignalBlocker sliderBlocker(cell.slider);
        const QSignalBlocker boxBlocker(cell.preFader);
        cell.slider->setValue(toPercent(level));
        cell.label->setText(QString("%1%").arg(cell.slider->value()));
        cell.preFader->setChecked(preFader);
    };
    for (int aux = 0; aux < kAuxBuses; ++aux)
        show(mixSends_[static_cast<size_t>(aux)], engine_->getMixSendLevel(aux), engine_->getMixSendPreFader(aux));
    for (int t = 0; t < trackCount_; ++t)
        for (int aux = 0; aux < kAuxBuses; ++aux)
            show(trackSends_[static_cast<size_t>(t)][static_cast<size_t>(aux)], engine_->getTrackAuxSend(t, aux),
                 engine_->getTrackAuxSendPreFader(t, aux));
}

// --- Handlers ---------------------------------------------------------------

void AuxSendsDialog::onAuxLevelChanged(int auxIndex, int value)
{
    if (engine_ == nullptr)
        return;
    engine_->setAuxLevel(auxIndex, fromPercent(value));
    levelLabels_[static_cast<size_t>(auxIndex)]->setText(QString::number(value));
    ConfigManager::getInstance()->setFloat(AuxKeys::levelKey(auxIndex), fromPercent(value));
}

void AuxSendsDialog::onAuxOutputChanged(int auxIndex)
{
    QComboBox* combo = outputCombos_[static_cast<size_t>(auxIndex)];
    combo->setToolTip(combo->currentText());
    if (engine_ == nullptr)
        return;
    const std::string name = outputCombos_[static_cast<size_t>(auxIndex)]->currentData().toString().toStdString();
    ConfigManager::getInstance()->setString(AuxKeys::outputKey(auxIndex), name);
    ConfigManager::getInstance()->saveConfig("");
    engine_->setAuxOutputIndices(auxIndex, outputIndexList(name));
}

void AuxSendsDialog::onAuxDelayChanged(int auxIndex, int delayMs)
{
    ConfigManager::getInstance()->setInt(AuxKeys::delayKey(auxIndex), delayMs);
    ConfigManager::getInstance()->saveConfig("");
}

void AuxSendsDialog::onMixSendLevelChanged(int auxIndex, int value)
{
    if (engine_ == nullptr)
        return;
    engine_->setMixSendLevel(auxIndex, fromPercent(value));
    mixSends_[static_cast<size_t>(auxIndex)].label->setText(QString("%1%").arg(value));
    ConfigManager::getInstance()->setFloat(AuxKeys::mixSendKey(auxIndex), fromPercent(value));
}

void AuxSendsDialog::onMixSendPreFaderChanged(int auxIndex, bool preFader)
{
    if (engine_ == nullptr)
        return;
    engine_->setMixSendPreFader(auxIndex, preFader);
    ConfigManager::getInstance()->setBool(AuxKeys::mixSendPreFaderKey(auxIndex), preFader);
}

void AuxSendsDialog::onSendLevelChanged(int trackIndex, int auxIndex, int value)
{
    if (engine_ == nullptr)
        return;
    engine_->setTrackAuxSend(trackIndex, auxIndex, fromPercent(value));
    trackSends_[static_cast<size_t>(trackIndex)][static_cast<size_t>(auxIndex)].label->setText(QString("%1%").arg(value));
    ConfigManager::getInstance()->setFloat(AuxKeys::sendKey(trackIndex, auxIndex), fromPercent(value));
}

void AuxSendsDialog::onSendPreFaderChanged(int trackIndex, int auxIndex, bool preFader)
{
    if (engine_ == nullptr)
        return;
    engine_->setTrackAuxSendPreFader(trackIndex, auxIndex, preFader);
    ConfigManager::getInstance()->setBool(AuxKeys::sendPreFaderKey(trackIndex, auxIndex), preFader);
    ConfigManager::getInstance()->saveConfig("");
}

// --- Start-up restore -------------------------------------------------------

void AuxSendsDialog::restoreStoredSettings(AudioEngineBase* engine, int trackCount)
{
    if (engine == nullptr)
        return;
    ConfigManager* config = ConfigManager::getInstance();
    const std::vector<std::string> outputs = engine->getAvailableOutputChannels();
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        engine->setAuxLevel(aux, config->getFloat(AuxKeys::levelKey(aux), AuxKeys::kLevelDefault));
        const std::string output = config->getString(AuxKeys::outputKey(aux), "");
        if (!output.empty() && !outputs.empty()) {
            const auto found = std::find(outputs.begin(), outputs.end(), output);
            if (found != outputs.end()) {
                engine->setAuxOutputIndices(aux, {static_cast<int>(found - outputs.begin())});
                debugLog("Restored AUX " + std::to_string(aux + 1) + " output: " + output);
            }
        }
        engine->setMixSendLevel(aux, config->getFloat(AuxKeys::mixSendKey(aux), 0.0f));
        engine->setMixSendPreFader(aux, config->getBool(AuxKeys::mixSendPreFaderKey(aux), false));
        for (int t = 0; t < trackCount; ++t) {
            const float level = config->getFloat(AuxKeys::sendKey(t, aux), 0.0f);
            if (level > 0.0f)
                engine->setTrackAuxSend(t, aux, level);
            engine->setTrackAuxSendPreFader(t, aux, config->getBool(AuxKeys::sendPreFaderKey(t, aux), false));
        }
    }
}

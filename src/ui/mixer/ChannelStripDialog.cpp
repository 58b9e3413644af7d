#include "ui/mixer/ChannelStripDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/AuxKeys.h"
#include "core/settings/StripKeys.h"
#include "core/settings/TrackKeys.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/EditableValueLabel.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"
#include "ui/common/ValueLabelText.h"
#include "ui/mixer/EQVisualizationWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kTrimDefault = 0;
constexpr int kHpfDefault = 80;
constexpr int kLimiterLabelDefault = -30;  // a Ctrl+click gives -3.0 dB
constexpr int kLimiterResetDefault = -60;  // RESET gives -6.0 dB
constexpr int kQDefault = 10;
constexpr std::array<int, 3> kBandFrequencyDefaults{100, 1000, 5000};
constexpr std::array<std::pair<int, int>, 3> kBandFrequencyRanges{{{20, 500}, {200, 5000}, {1000, 20000}}};
constexpr int kDefaultTrackCount = 24;
// Wide enough for "-24.0 dB" or "500 Hz", so a label never waits for a
// relayout to show a longer value whole.
constexpr int kValueLabelMinWidth = 70;

QString dialogStyleSheet()
{
    using namespace Theme;
    return QString("QDialog { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2); color: %3; }"
                   "QGroupBox { font-weight: bold; font-size: 11px; border: 2px solid %4; border-radius: 8px; "
                   "margin-top: 12px; padding-top: 15px; padding-bottom: 8px; }"
                   "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 8px; background-color: %2; }"
                   "QLabel { color: %5; font-size: 10px; }"
                   "QCheckBox { color: %5; font-size: 10px; }"
                   "QCheckBox::indicator { width: 16px; height: 16px; border-radius: 3px; }"
                   "QCheckBox::indicator:checked { background-color: %6; border: 1px solid %7; }")
               .arg(kStripBackgroundTop, kBgSurface, kStripText, kBorder, kStripLabelText, kAccentTeal, kAccentTealHi)
           + QString("QPushButton { background-color: %1; border: 2px solid %2; border-radius: 6px; "
                     "padding: 10px 20px; color: white; font-weight: bold; }"
                     "QPushButton:hover { background-color: %3; border-color: %4; }"
                     "QDial { background: transparent; }")
                 .arg(kStripButton, kStripButtonBorder, kStripButtonHover, kStripButtonHoverBorder);
}

QString channelText(int track)
{
    return QString("<b style='font-size: 16px; color: %1;'>CHANNEL %2</b>").arg(Theme::kStripText).arg(track + 1);
}

QString nameText(const QString& name)
{
    return QString("<span style='font-size: 12px; color: %1;'>%2</span>").arg(Theme::kStripNameText, name);
}

// Engine values become slider positions at the nearest raw unit, so a value
// that was set from a slider reads back as that same position.
int toTenths(float value)
{
    return static_cast<int>(std::lround(value * 10.0));
}

int toWhole(float value)
{
    return static_cast<int>(std::lround(value));
}

QString valueLabelStyle()
{
    return QString("font-size: 10px; font-weight: bold; color: %1;").arg(Theme::kStripText);
}

QString activeCheckStyle(const char* colour)
{
    return QString("QCheckBox { color: %1; font-weight: bold; font-size: 8px; }").arg(colour);
}

void setChecked(QCheckBox* box, bool checked)
{
    box->setChecked(checked);
}

}  // namespace

ChannelStripDialog::ChannelStripDialog(int track, const QString& name, AudioEngineBase* engine,
                                       StripClipboard& clipboard, QWidget* parent)
    : QDialog(parent), trackIndex_(track), trackName_(name), audioEngine_(engine), clipboard_(clipboard)
{
    setWindowTitle(QString("Channel Strip - %1").arg(name));
    setFocusPolicy(Qt::StrongFocus);
    installEventFilter(this);
    setupUI();
    loadSettings();
    fitToScreen(*this, QSize(750, 850), QSize(700, 800));
}

ChannelStripDialog::~ChannelStripDialog()
{
    // An editor still open dies with the dialog and must not commit into it.
    for (QLineEdit* editor : findChildren<QLineEdit*>(EditableValueLabel::kEditorName))
        editor->blockSignals(true);
    saveSettings();
}

// --- Building ---------------------------------------------------------------

void ChannelStripDialog::setupUI()
{
    setStyleSheet(dialogStyleSheet());
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->setContentsMargins(8, 8, 8, 8);
    // The groups scroll on a screen too short for them; the buttons below
    // stay in view.
    auto* groups = new QWidget(this);
    auto* groupsLayout = new QVBoxLayout(groups);
    groupsLayout->setSpacing(4);
    groupsLayout->setContentsMargins(0, 0, 0, 0);
    groupsLayout->addWidget(buildHeader());
    groupsLayout->addWidget(buildInputGroup());
    groupsLayout->addWidget(buildEqGroup(), 1);
    groupsLayout->addWidget(buildAuxGroup());
    QWidget* scrolling = scrollingContent(groups);
    // Arrow keys a control inside leaves unused step tracks, as they do
    // outside it, rather than scrolling the groups.
    scrolling->installEventFilter(this);
    layout->addWidget(scrolling, 1);

    auto* buttons = new QHBoxLayout;
    copyButton_ = new QPushButton("📋 COPY", this);
    copyButton_->setToolTip("Copy current channel strip settings to clipboard");
    pasteButton_ = new QPushButton("📄 PASTE", this);
    pasteButton_->setToolTip("Paste clipboard settings to this channel");
    pasteButton_->setEnabled(clipboard_.hasData());
    resetButton_ = new QPushButton("🔄 RESET", this);
    resetButton_->setToolTip("Reset channel strip to flat defaults (keeps AUX sends)");
    for (QPushButton* button : {copyButton_, pasteButton_})
        button->setStyleSheet(
            QString("padding: 8px 16px; font-weight: bold; background-color: %1;").arg(Theme::kStripButton));
    resetButton_->setStyleSheet(
        QString("padding: 8px 16px; font-weight: bold; background-color: %1;").arg(Theme::kStripResetButton));
    for (QPushButton* button : {copyButton_, pasteButton_, resetButton_}) {
        button->setDefault(false);
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    connect(copyButton_, &QPushButton::clicked, this, &ChannelStripDialog::onCopySettings);
    connect(pasteButton_, &QPushButton::clicked, this, &ChannelStripDialog::onPasteSettings);
    connect(resetButton_, &QPushButton::clicked, this, &ChannelStripDialog::onResetSettings);
    buttons->addStretch();
    auto* close = new QPushButton("Close", this);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    registerEditableLabels();
    // A widget does not own the style it is given. As the dialog's last
    // child the shared style is deleted after every slider that uses it.
    if (sliderStyle_ != nullptr)
        sliderStyle_->setParent(this);
}

QWidget* ChannelStripDialog::buildHeader()
{
    auto* header = new QWidget(this);
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    channelLabel_ = new QLabel(channelText(trackIndex_), header);
    nameLabel_ = new QLabel(nameText(trackName_), header);
    feedbackLabel_ = new QLabel(header);
    feedbackLabel_->setObjectName("feedbackLabel");
    feedbackLabel_->setStyleSheet("padding: 5px 10px; border-radius: 3px; font-weight: bold; font-size: 12px;");
    feedbackLabel_->hide();
    for (QLabel* label : {channelLabel_, nameLabel_, feedbackLabel_}) {
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    return header;
}

QSlider* ChannelStripDialog::makeStyledSlider(int minimum, int maximum, int value, const QColor& color)
{
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(minimum, maximum);
    slider->setValue(value);
    slider->setFixedSize(120, 40);
    slider->setTickPosition(QSlider::TicksAbove);
    slider->setTickInterval((maximum - minimum) / 10);
    if (sliderStyle_ == nullptr)
        sliderStyle_ = QStyleFactory::create("Fusion");
    slider->setStyle(sliderStyle_);
    const QString c = color.name();
    const QString dark120 = color.darker(120).name();
    const QString dark150 = color.darker(150).name();
    const QString light120 = color.lighter(120).name();
    const QString light150 = color.lighter(150).name();
    slider->setStyleSheet(
        QString("QSlider::groove:horizontal { height: 8px; border-radius: 4px; background: qlineargradient(x1:0, "
                "y1:0, x2:1, y2:0, stop:0 %1, stop:0.5 %2, stop:1 %3); }"
                // The negative vertical margin lets the round handle stand out of the
                // 8 px groove; without it the handle is squeezed to the groove.
                "QSlider::handle:horizontal { width: 20px; height: 20px; margin: -6px 0; border-radius: 10px; "
                "background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.3, fy:0.3, stop:0 %1, stop:0.8 %2, "
                "stop:1 %6); border: 2px solid %1; }"
                "QSlider::handle:horizontal:hover { background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.3, "
                "fy:0.3, stop:0 %4, stop:1 %5); border: 2px solid %4; }")
            .arg(c, dark120, dark150, light120, light150, Theme::kStripKnobShade));
    slider->installEventFilter(this);
    return slider;
}

QWidget* ChannelStripDialog::buildInputGroup()
{
    auto* group = new QGroupBox("⚡ INPUT / FILTER / DYNAMICS", this);
    group->setStyleSheet(QString("QGroupBox { border-color: %1; color: %2; padding: 3px; }")
                             .arg(Theme::kStripInputGroupBorder, Theme::kStripLabelText));
    group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* row = new QHBoxLayout(group);
    row->setSpacing(10);
    row->setContentsMargins(5, 3, 5, 3);

    auto column = [&](const QString& title, const char* titleColor, QCheckBox* active, const QString& activeStyle,
                      QSlider* slider, QLabel* value) {
        auto* layout = new QVBoxLayout;
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        auto* heading = new QLabel(title, group);
        heading->setStyleSheet(QString("font-size: 9px; font-weight: bold; color: %1;").arg(titleColor));
        layout->addWidget(heading, 0, Qt::AlignCenter);
        if (active != nullptr) {
            active->setStyleSheet(activeStyle);
            active->installEventFilter(this);
            layout->addWidget(active, 0, Qt::AlignCenter);
        }
        layout->addWidget(slider, 0, Qt::AlignCenter);
        value->setAlignment(Qt::AlignCenter);
        value->setMinimumWidth(kValueLabelMinWidth);
        value->setStyleSheet(valueLabelStyle());
        layout->addWidget(value, 0, Qt::AlignCenter);
        row->addLayout(layout);
    };

    trimSlider_ = makeStyledSlider(-240, 120, 0, QColor(Theme::kStripTrim));
    trimSlider_->setObjectName("trimSlider");
    trimLabel_ = new EditableValueLabel("0.0 dB", group);
    trimLabel_->setObjectName("trimLabel");
    column("INPUT TRIM", Theme::kStripTrim, nullptr, QString(), trimSlider_, trimLabel_);

    hpfCheck_ = new QCheckBox("ACTIVE", group);
    hpfCheck_->setObjectName("hpfCheck");
    hpfSlider_ = makeStyledSlider(20, 500, 80, QColor(Theme::kStripHighPass));
    hpfSlider_->setObjectName("hpfSlider");
    hpfLabel_ = new EditableValueLabel("80 Hz", group);
    hpfLabel_->setObjectName("hpfLabel");
    column("HIGH-PASS", Theme::kStripHighPass, hpfCheck_, activeCheckStyle(Theme::kStripHighPassCheck), hpfSlider_,
           hpfLabel_);

    limiterCheck_ = new QCheckBox("ACTIVE", group);
    limiterCheck_->setObjectName("limiterCheck");
    limiterSlider_ = makeStyledSlider(-200, 0, -30, QColor(Theme::kStripLimiter));
    limiterSlider_->setObjectName("limiterSlider");
    limiterLabel_ = new EditableValueLabel("-3.0 dB", group);
    limiterLabel_->setObjectName("limiterLabel");
    column("LIMITER", Theme::kStripLimiter, limiterCheck_, activeCheckStyle(Theme::kStripLimiterCheck), limiterSlider_,
           limiterLabel_);

    connect(trimSlider_, &QSlider::valueChanged, this, &ChannelStripDialog::onDigitalGainChanged);
    connect(hpfCheck_, &QCheckBox::toggled, this, &ChannelStripDialog::onHighPassEnabled);
    connect(hpfSlider_, &QSlider::valueChanged, this, &ChannelStripDialog::onHighPassChanged);
    connect(limiterCheck_, &QCheckBox::toggled, this, &ChannelStripDialog::onLimiterEnabled);
    connect(limiterSlider_, &QSlider::valueChanged, this, &ChannelStripDialog::onLimiterThresholdChanged);
    return group;
}

QWidget* ChannelStripDialog::buildEqRow(const QString& name, const char* color, int minimum, int maximum, int value,
                                        QSlider*& slider, EditableValueLabel*& label)
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->setSpacing(7);
    auto* title = new QLabel(name, row);
    title->setFixedWidth(45);
    title->setStyleSheet(QString("color: %1; font-weight: bold; font-size: 9px;").arg(color));
    slider = new QSlider(Qt::Horizontal, row);
    slider->setRange(minimum, maximum);
    slider->setValue(value);
    slider->setMinimumWidth(160);
    slider->setStyleSheet(QString("QSlider::groove:horizontal { background: %3; height: 5px; border-radius: 2px; }"
                                  "QSlider::handle:horizontal { background: %1; width: 12px; margin: -4px 0; "
                                  "border-radius: 6px; }"
                                  "QSlider::handle:horizontal:hover { background: %2; }")
                              .arg(color, QColor(color).lighter(120).name(), Theme::kStripEqGroove));
    label = new EditableValueLabel(row);
    label->setFixedWidth(50);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setStyleSheet(QString("color: %1; font-size: 9px;").arg(Theme::kStripText));
    layout->addWidget(title);
    layout->addWidget(slider, 1);
    layout->addWidget(label);
    return row;
}

QWidget* ChannelStripDialog::buildEqGroup()
{
    auto* group = new QGroupBox("🎚️ 3-BAND PARAMETRIC EQ", this);
    group->setStyleSheet(
        QString("QGroupBox { border-color: %1; color: %2; }").arg(Theme::kStripEq, Theme::kStripEqText));
    auto* layout = new QVBoxLayout(group);
    eqCheck_ = new QCheckBox("⚡ EQ ACTIVE", group);
    eqCheck_->setObjectName("eqCheck");
    eqCheck_->setStyleSheet(QString("QCheckBox { color: %1; font-weight: bold; }").arg(Theme::kStripEqText));
    eqCheck_->installEventFilter(this);
    layout->addWidget(eqCheck_, 0, Qt::AlignCenter);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* bandColumn = new QVBoxLayout;
    bandColumn->setContentsMargins(0, 0, 0, 0);
    bandColumn->setSpacing(5);
    const struct {
        const char* title;
        const char* colour;
    } titles[] = {{"LOW (20-500 Hz)", Theme::kStripEqLowTitle},
                  {"MID (200-5k Hz)", Theme::kStripEqMidTitle},
                  {"HIGH (1k-20k Hz)", Theme::kStripEqHighTitle}};
    for (int band = 0; band < 3; ++band) {
        const size_t b = static_cast<size_t>(band);
        EqBand& controls = eqBands_[b];
        auto* block = new QVBoxLayout;
        block->setContentsMargins(0, 3, 0, 3);
        block->setSpacing(1);
        auto* title = new QLabel(titles[b].title, group);
        title->setStyleSheet(QString("color: %1; font-weight: bold; font-size: 9px;").arg(titles[b].colour));
        block->addWidget(title);
        block->addWidget(buildEqRow("Freq", Theme::kStripEqFrequency, kBandFrequencyRanges[b].first,
                                    kBandFrequencyRanges[b].second,
                                    kBandFrequencyDefaults[b], controls.frequency, controls.frequencyLabel));
        block->addWidget(buildEqRow("Gain", Theme::kStripEqGain, -120, 120, 0, controls.gain, controls.gainLabel));
        block->addWidget(buildEqRow("Q", Theme::kStripEqQ, 1, 100, kQDefault, controls.q, controls.qLabel));
        controls.frequencyLabel->setText(formatFreq(kBandFrequencyDefaults[b]));
        controls.gainLabel->setText("0.0 dB");
        controls.qLabel->setText("1.0");
        const QString prefix = QString("eq.%1.").arg(StripKeys::kPanelEqBands[b]);
        controls.frequency->setObjectName(prefix + "freq");
        controls.gain->setObjectName(prefix + "gain");
        controls.q->setObjectName(prefix + "q");
        controls.frequencyLabel->setObjectName(prefix + "freqLabel");
        controls.gainLabel->setObjectName(prefix + "gainLabel");
        controls.qLabel->setObjectName(prefix + "qLabel");
        for (QSlider* slider : {controls.frequency, controls.gain, controls.q})
            connect(slider, &QSlider::valueChanged, this, [this, band] { onEqBandSlidersChanged(band); });
        bandColumn->addLayout(block);
    }
    bandColumn->addStretch();
    row->addLayout(bandColumn, 1);

    eqVisualization_ = new EQVisualizationWidget(group);
    eqVisualization_->setMinimumSize(250, 200);
    eqVisualization_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    eqVisualization_->setStyleSheet(QString("QWidget { border: 2px solid %1; background-color: %2; }")
                                        .arg(Theme::kStripEq, Theme::kStripEqCurveBackground));
    for (int band = 0; band < 3; ++band)
        eqVisualization_->setBandFrequencyLimits(band, static_cast<float>(kBandFrequencyRanges[static_cast<size_t>(band)].first),
                                                 static_cast<float>(kBandFrequencyRanges[static_cast<size_t>(band)].second));
    qDebug() << "Created EQVisualizationWidget at" << eqVisualization_ << "with size" << eqVisualization_->size();
    connect(eqVisualization_, &EQVisualizationWidget::bandParametersChanged, this,
            &ChannelStripDialog::onCurveBandDragged);
    row->addWidget(eqVisualization_, 1);
    layout->addLayout(row, 1);
    qDebug() << "Added EQVisualizationWidget to layout";
    connect(eqCheck_, &QCheckBox::toggled, this, &ChannelStripDialog::onEqEnabled);
    return group;
}

QWidget* ChannelStripDialog::buildAuxGroup()
{
    auto* group = new QGroupBox("🔀 AUX SENDS", this);
    group->setStyleSheet(
        QString("QGroupBox { border-color: %1; color: %2; }").arg(Theme::kStripAux, Theme::kStripAuxText));
    auto* row = new QHBoxLayout(group);
    row->setSpacing(6);
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        AuxSend& controls = auxSends_[static_cast<size_t>(aux)];
        auto* column = new QVBoxLayout;
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        auto* title = new QLabel(QString("AUX %1").arg(aux + 1), group);
        title->setStyleSheet(QString("font-weight: bold; font-size: 11px; color: %1;").arg(Theme::kStripAuxText));
        column->addWidget(title, 0, Qt::AlignCenter);
        const QString color = QString("#%1").arg(0x8860D0 + aux * 0x101010, 6, 16, QChar('0'));
        controls.send = makeStyledSlider(0, 100, 0, QColor(color));
        controls.send->setObjectName(QString("aux%1Send").arg(aux + 1));
        column->addWidget(controls.send, 0, Qt::AlignCenter);
        controls.label = new EditableValueLabel("0%", group);
        controls.label->setObjectName(QString("aux%1Label").arg(aux + 1));
        controls.label->setStyleSheet(valueLabelStyle());
        controls.label->setAlignment(Qt::AlignCenter);
        controls.label->setMinimumWidth(kValueLabelMinWidth);
        column->addWidget(controls.label, 0, Qt::AlignCenter);
        controls.preFader = new QCheckBox("PRE", group);
        controls.preFader->setObjectName(QString("aux%1Pre").arg(aux + 1));
        controls.preFader->setStyleSheet(
            QString("QCheckBox { font-size: 9px; color: %1; }").arg(Theme::kStripPreFaderText));
        controls.preFader->installEventFilter(this);
        column->addWidget(controls.preFader, 0, Qt::AlignCenter);
        connect(controls.send, &QSlider::valueChanged, this, [this, aux](int value) { onAuxSendChanged(aux, value); });
        connect(controls.preFader, &QCheckBox::toggled, this,
                [this, aux](bool checked) { onAuxPreFaderChanged(aux, checked); });
        row->addLayout(column);
    }
    return group;
}

void ChannelStripDialog::registerEditableLabels()
{
    const auto db = [](int v) { return formatDb(v / 10.0); };
    const auto freq = [](int v) { return formatFreq(v); };
    const auto q = valueLabelText::formatQTenths;
    const auto percent = valueLabelText::formatPercent;
    makeEditableLabel(trimLabel_, trimSlider_, db, parseDb, kTrimDefault);
    makeEditableLabel(hpfLabel_, hpfSlider_, freq, parseFreq, kHpfDefault);
    makeEditableLabel(limiterLabel_, limiterSlider_, db, parseDb, kLimiterLabelDefault);
    for (size_t b = 0; b < eqBands_.size(); ++b) {
        makeEditableLabel(eqBands_[b].frequencyLabel, eqBands_[b].frequency, freq, parseFreq, kBandFrequencyDefaults[b]);
        makeEditableLabel(eqBands_[b].gainLabel, eqBands_[b].gain, db, parseDb, 0);
        makeEditableLabel(eqBands_[b].qLabel, eqBands_[b].q, q, parseQ, kQDefault);
    }
    for (AuxSend& send : auxSends_)
        makeEditableLabel(send.label, send.send, percent, parsePercent, 0);
}

// --- Loading and saving -----------------------------------------------------

void ChannelStripDialog::loadSettings()
{
    const int t = trackIndex_;
    ConfigManager* config = ConfigManager::getInstance();
    loading_ = true;
    std::array<float, 3> frequency{};
    std::array<float, 3> gain{};
    std::array<float, 3> q{};
    bool eqEnabled = false;
    if (audioEngine_ != nullptr) {
        setChecked(hpfCheck_, audioEngine_->getTrackHPFEnabled(t));
        hpfSlider_->setValue(toWhole(audioEngine_->getTrackHPFFrequency(t)));
        eqEnabled = audioEngine_->getTrackEQEnabled(t);
        setChecked(eqCheck_, eqEnabled);
        for (int b = 0; b < 3; ++b) {
            const size_t i = static_cast<size_t>(b);
            audioEngine_->getTrackEQBand(t, b, frequency[i], gain[i], q[i]);
        }
        setChecked(limiterCheck_, audioEngine_->getTrackLimiterEnabled(t));
        limiterSlider_->setValue(toTenths(audioEngine_->getTrackLimiterThreshold(t)));
        trimSlider_->setValue(toTenths(config->getFloat(StripKeys::digitalGainKey(t), 0.0f)));
    } else {
        trimSlider_->setValue(toTenths(config->getFloat(StripKeys::digitalGainKey(t), 0.0f)));
        setChecked(limiterCheck_, config->getBool(StripKeys::limiterEnabledKey(t), false));
        limiterSlider_->setValue(toTenths(config->getFloat(StripKeys::limiterThresholdKey(t), -6.0f)));
        setChecked(hpfCheck_, config->getBool(StripKeys::hpfEnabledKey(t), false));
        hpfSlider_->setValue(toWhole(config->getFloat(StripKeys::hpfFrequencyKey(t), 80.0f)));
        eqEnabled = config->getBool(StripKeys::eqEnabledKey(t), false);
        setChecked(eqCheck_, eqEnabled);
        for (int b = 0; b < 3; ++b) {
            const size_t i = static_cast<size_t>(b);
            frequency[i] =
                config->getFloat(StripKeys::eqBandFrequencyKey(t, b), static_cast<float>(kBandFrequencyDefaults[i]));
            gain[i] = config->getFloat(StripKeys::eqBandGainKey(t, b), 0.0f);
            q[i] = config->getFloat(StripKeys::eqBandQKey(t, b), 1.0f);
        }
    }
    static const char* const kBandNames[] = {"  LOW: freq=", "  MID: freq=", "  HIGH: freq="};
    qDebug() << "Loading EQ settings for track" << t << ": enabled=" << eqEnabled;
    for (int b = 0; b < 3; ++b) {
        const size_t i = static_cast<size_t>(b);
        qDebug() << kBandNames[i] << frequency[i] << "gain=" << gain[i] << "q=" << q[i];
        setEqBandSliders(b, toWhole(frequency[i]), toTenths(gain[i]), toTenths(q[i]));
        // The curve shows the engine's own values, not their slider rounding.
        eqVisualization_->setBandParameters(b, frequency[i], gain[i], q[i]);
    }
    eqVisualization_->setEnabled(eqEnabled);
    loadSends();
    loading_ = false;
    qDebug() << "Loaded settings for channel strip track" << t;
}

void ChannelStripDialog::loadSends()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (int aux = 0; aux < kAuxBuses; ++aux) {
        AuxSend& controls = auxSends_[static_cast<size_t>(aux)];
        float level = 0.0f;
        bool preFader = false;
        if (hasAuxSends()) {
            if (audioEngine_ != nullptr) {
                level = audioEngine_->getTrackAuxSend(trackIndex_, aux);
                preFader = audioEngine_->getTrackAuxSendPreFader(trackIndex_, aux);
            } else {
                level = config->getFloat(AuxKeys::sendKey(trackIndex_, aux), 0.0f);
                preFader = config->getBool(AuxKeys::sendPreFaderKey(trackIndex_, aux), false);
            }
        }
        controls.send->setValue(static_cast<int>(std::lround(level * 100.0)));
        controls.preFader->setChecked(preFader);
        // Tracks beyond the engine's send table have no sends.
        controls.send->setEnabled(hasAuxSends());
        controls.preFader->setEnabled(hasAuxSends());
    }
}

void ChannelStripDialog::saveSettings()
{
    ConfigManager* config = ConfigManager::getInstance();
    const int t = trackIndex_;
    using namespace StripKeys;
    config->setInt(panelKey(t, kPanelGain), trimSlider_->value());
    config->setBool(panelKey(t, kPanelHpfEnabled), hpfCheck_->isChecked());
    config->setInt(panelKey(t, kPanelHpfFrequency), hpfSlider_->value());
    config->setBool(panelKey(t, kPanelEqEnabled), eqCheck_->isChecked());
    for (size_t b = 0; b < eqBands_.size(); ++b) {
        const int band = static_cast<int>(b);
        config->setInt(panelEqBandKey(t, band, kPanelEqFrequency), eqBands_[b].frequency->value());
        config->setInt(panelEqBandKey(t, band, kPanelEqGain), eqBands_[b].gain->value());
        config->setInt(panelEqBandKey(t, band, kPanelEqQ), eqBands_[b].q->value());
    }
    config->setBool(panelKey(t, kPanelLimiterEnabled), limiterCheck_->isChecked());
    config->setInt(panelKey(t, kPanelLimiterThreshold), limiterSlider_->value());
    config->saveConfig("");
    qDebug() << "Saved channel strip settings for track" << t;
}

void ChannelStripDialog::showTrackHeader()
{
    setWindowTitle(QString("Channel Strip - %1").arg(trackName_));
    channelLabel_->setText(channelText(trackIndex_));
    nameLabel_->setText(nameText(trackName_));
}

void ChannelStripDialog::switchToTrack(int track)
{
    saveSettings();
    trackIndex_ = track;
    trackName_ = QString::fromStdString(ConfigManager::getInstance()->getString(
        TrackKeys::nameKey(track), "Track " + std::to_string(track + 1)));
    showTrackHeader();
    loadSettings();
}

void ChannelStripDialog::loadSettingsForTrack(int track, AudioEngineBase* audioEngine)
{
    if (audioEngine == nullptr) {
        qDebug() << "loadSettingsForTrack: audioEngine is null for track" << track;
        return;
    }
    ConfigManager* config = ConfigManager::getInstance();
    using namespace StripKeys;
    auto readInt = [&](const std::string& key, int fallback) { return config->getInt(key, fallback); };
    auto readBool = [&](const std::string& key) { return config->getBool(key, false); };
    const int gain = readInt(panelKey(track, kPanelGain), 0);
    qDebug() << "Track" << track << "loading digital gain:" << gain / 10.0f << "dB";
    audioEngine->setTrackDigitalGain(track, gain / 10.0f);
    const bool hpfEnabled = readBool(panelKey(track, kPanelHpfEnabled));
    const int hpfFrequency = readInt(panelKey(track, kPanelHpfFrequency), kHpfDefault);
    qDebug() << "Track" << track << "loading HPF: enabled=" << hpfEnabled << "freq=" << hpfFrequency;
    audioEngine->setTrackHPFFrequency(track, static_cast<float>(hpfFrequency));
    audioEngine->setTrackHPFEnabled(track, hpfEnabled);
    const bool eqEnabled = readBool(panelKey(track, kPanelEqEnabled));
    qDebug() << "Track" << track << "loading EQ: enabled=" << eqEnabled;
    for (int b = 0; b < 3; ++b) {
        const size_t i = static_cast<size_t>(b);
        const int frequency = readInt(panelEqBandKey(track, b, kPanelEqFrequency), kBandFrequencyDefaults[i]);
        const int gainTenths = readInt(panelEqBandKey(track, b, kPanelEqGain), 0);
        const int q = readInt(panelEqBandKey(track, b, kPanelEqQ), kQDefault);
        audioEngine->setTrackEQBand(track, b, static_cast<float>(frequency), gainTenths / 10.0f, q / 10.0f);
    }
    audioEngine->setTrackEQEnabled(track, eqEnabled);
    const bool limiterEnabled = readBool(panelKey(track, kPanelLimiterEnabled));
    const int threshold = readInt(panelKey(track, kPanelLimiterThreshold), kLimiterResetDefault);
    qDebug() << "Track" << track << "loading Limiter: enabled=" << limiterEnabled << "threshold=" << threshold / 10.0f
             << "dB";
    audioEngine->setTrackLimiterThreshold(track, threshold / 10.0f);
    audioEngine->setTrackLimiterEnabled(track, limiterEnabled);
}

void ChannelStripDialog::saveAllTrackSettings(AudioEngineBase* audioEngine, int trackCount)
{
    if (audioEngine == nullptr) {
        qDebug() << "saveAllTrackSettings: audioEngine is null";
        return;
    }
    ConfigManager* config = ConfigManager::getInstance();
    for (int t = 0; t < std::min(trackCount, kDefaultTrackCount); ++t) {
        const int gain = static_cast<int>(audioEngine->getTrackDigitalGain(t) * 10.0f);
        const int hpfFrequency = static_cast<int>(audioEngine->getTrackHPFFrequency(t));
        qDebug() << "Saving track" << t << "gain:" << gain << "hpf:" << audioEngine->getTrackHPFEnabled(t)
                 << hpfFrequency;
        config->setInt(StripKeys::panelKey(t, StripKeys::kPanelGain), gain);
        config->setBool(StripKeys::panelKey(t, StripKeys::kPanelHpfEnabled), audioEngine->getTrackHPFEnabled(t));
        config->setInt(StripKeys::panelKey(t, StripKeys::kPanelHpfFrequency), hpfFrequency);
    }
    config->saveConfig("");
    qDebug() << "All channel strip settings saved to config";
}

// --- Handlers ---------------------------------------------------------------

void ChannelStripDialog::onDigitalGainChanged(int value)
{
    trimLabel_->setText(formatDb(value / 10.0));
    if (engineWrites())
        audioEngine_->setTrackDigitalGain(trackIndex_, static_cast<float>(value / 10.0));
}

void ChannelStripDialog::onHighPassEnabled(bool enabled)
{
    if (engineWrites())
        audioEngine_->setTrackHPFEnabled(trackIndex_, enabled);
}

void ChannelStripDialog::onHighPassChanged(int value)
{
    hpfLabel_->setText(formatFreq(value));
    if (engineWrites())
        audioEngine_->setTrackHPFFrequency(trackIndex_, static_cast<float>(value));
}

void ChannelStripDialog::onLimiterEnabled(bool enabled)
{
    if (engineWrites())
        audioEngine_->setTrackLimiterEnabled(trackIndex_, enabled);
}

void ChannelStripDialog::onLimiterThresholdChanged(int value)
{
    limiterLabel_->setText(formatDb(value / 10.0));
    if (engineWrites())
        audioEngine_->setTrackLimiterThreshold(trackIndex_, static_cast<float>(value / 10.0));
}

void ChannelStripDialog::onEqEnabled(bool enabled)
{
    qDebug() << "ChannelStripDialog::onEqEnabled(" << enabled << ") for track" << trackIndex_;
    if (engineWrites())
        audioEngine_->setTrackEQEnabled(trackIndex_, enabled);
    if (eqVisualization_ != nullptr) {
        qDebug() << "Setting visualization enabled to" << enabled;
        eqVisualization_->setEnabled(enabled);
    } else {
        qDebug() << "eqVisualization_ is null!";
    }
}

void ChannelStripDialog::onEqBandSlidersChanged(int band)
{
    const EqBand& controls = eqBands_[static_cast<size_t>(band)];
    const int frequency = controls.frequency->value();
    const float gainDb = static_cast<float>(controls.gain->value() / 10.0);
    const float q = static_cast<float>(controls.q->value() / 10.0);
    controls.frequencyLabel->setText(formatFreq(frequency));
    controls.gainLabel->setText(QString("%1 dB").arg(controls.gain->value() / 10.0, 0, 'f', 1));
    controls.qLabel->setText(valueLabelText::formatQTenths(controls.q->value()));
    if (!loading_)
        eqVisualization_->setBandParameters(band, static_cast<float>(frequency), gainDb, q);
    if (engineWrites())
        audioEngine_->setTrackEQBand(trackIndex_, band, static_cast<float>(frequency), gainDb, q);
}

void ChannelStripDialog::onEqBandChanged(int band)
{
    if (band < 0 || band > 2 || audioEngine_ == nullptr)
        return;
    const EqBand& controls = eqBands_[static_cast<size_t>(band)];
    audioEngine_->setTrackEQBand(trackIndex_, band, static_cast<float>(controls.frequency->value()),
                                 static_cast<float>(controls.gain->value() / 10.0),
                                 static_cast<float>(controls.q->value() / 10.0));
}

// Sets a band's three sliders at once, so the engine never gets one band's
// new frequency with its old gain and Q.
void ChannelStripDialog::setEqBandSliders(int band, int frequency, int gain, int q)
{
    const EqBand& controls = eqBands_[static_cast<size_t>(band)];
    bool changed = false;
    for (const auto& [slider, value] : {std::pair{controls.frequency, frequency}, {controls.gain, gain}, {controls.q, q}}) {
        const QSignalBlocker blocker(slider);
        const int before = slider->value();
        slider->setValue(value);
        changed = changed || slider->value() != before;
    }
    if (changed)
        onEqBandSlidersChanged(band);
}

void ChannelStripDialog::onCurveBandDragged(int band, float frequencyHz, float gainDb)
{
    if (band < 0 || band > 2)
        return;
    const EqBand& controls = eqBands_[static_cast<size_t>(band)];
    setEqBandSliders(band, static_cast<int>(frequencyHz), static_cast<int>(gainDb * 10.0f), controls.q->value());
}

void ChannelStripDialog::onAuxSendChanged(int aux, int value)
{
    auxSends_[static_cast<size_t>(aux)].label->setText(valueLabelText::formatPercent(value));
    if (!engineWrites() || !hasAuxSends())
        return;
    const float level = static_cast<float>(value / 100.0);
    audioEngine_->setTrackAuxSend(trackIndex_, aux, level);
    // The aux sends dialog's key, which the start-up restore applies.
    ConfigManager::getInstance()->setFloat(AuxKeys::sendKey(trackIndex_, aux), level);
}

void ChannelStripDialog::onAuxPreFaderChanged(int aux, bool preFader)
{
    if (!engineWrites() || !hasAuxSends())
        return;
    audioEngine_->setTrackAuxSendPreFader(trackIndex_, aux, preFader);
    ConfigManager::getInstance()->setBool(AuxKeys::sendPreFaderKey(trackIndex_, aux), preFader);
    ConfigManager::getInstance()->saveConfig("");
}

// --- COPY, PASTE, RESET -----------------------------------------------------

ChannelStripDialog::ClipboardData ChannelStripDialog::currentStrip() const
{
    ClipboardData strip;
    strip.trim = trimSlider_->value();
    strip.hpfEnabled = hpfCheck_->isChecked();
    strip.hpfFrequency = hpfSlider_->value();
    strip.eqEnabled = eqCheck_->isChecked();
    int* bands[3][3] = {{&strip.lowFrequency, &strip.lowGain, &strip.lowQ},
                        {&strip.midFrequency, &strip.midGain, &strip.midQ},
                        {&strip.highFrequency, &strip.highGain, &strip.highQ}};
    for (size_t b = 0; b < 3; ++b) {
        *bands[b][0] = eqBands_[b].frequency->value();
        *bands[b][1] = eqBands_[b].gain->value();
        *bands[b][2] = eqBands_[b].q->value();
    }
    strip.limiterEnabled = limiterCheck_->isChecked();
    strip.limiterThreshold = limiterSlider_->value();
    return strip;
}

void ChannelStripDialog::applyStrip(const ClipboardData& strip)
{
    trimSlider_->setValue(strip.trim);
    hpfCheck_->setChecked(strip.hpfEnabled);
    hpfSlider_->setValue(strip.hpfFrequency);
    eqCheck_->setChecked(strip.eqEnabled);
    setEqBandSliders(0, strip.lowFrequency, strip.lowGain, strip.lowQ);
    setEqBandSliders(1, strip.midFrequency, strip.midGain, strip.midQ);
    setEqBandSliders(2, strip.highFrequency, strip.highGain, strip.highQ);
    limiterCheck_->setChecked(strip.limiterEnabled);
    limiterSlider_->setValue(strip.limiterThreshold);
}

void ChannelStripDialog::onCopySettings()
{
    clipboard_.copy(currentStrip());
    pasteButton_->setEnabled(true);
    showFeedback("✓ Settings Copied", Theme::kStripCopied);
    qDebug() << "Copied channel strip settings from track" << trackIndex_;
}

void ChannelStripDialog::onPasteSettings()
{
    if (!clipboard_.hasData()) {
        qDebug() << "No clipboard data to paste";
        return;
    }
    applyStrip(clipboard_.strip());
    showFeedback("✓ Settings Pasted", Theme::kStripPasted);
    qDebug() << "Pasted channel strip settings to track" << trackIndex_;
}

void ChannelStripDialog::onResetSettings()
{
    applyStrip(ClipboardData{});
    showFeedback("✓ Channel Reset", Theme::kStripChannelReset);
    qDebug() << "Reset channel strip settings for track" << trackIndex_;
}

// --- Value labels -----------------------------------------------------------

QString ChannelStripDialog::formatDb(double db)
{
    return valueLabelText::formatDb(db);
}

QString ChannelStripDialog::formatFreq(double hz)
{
    return valueLabelText::formatFreq(hz);
}

int ChannelStripDialog::parseDb(const QString& text)
{
    return valueLabelText::parseDbTenths(text);
}

int ChannelStripDialog::parseFreq(const QString& text)
{
    return valueLabelText::parseFreqHz(text);
}

int ChannelStripDialog::parseQ(const QString& text)
{
    return valueLabelText::parseQTenths(text);
}

int ChannelStripDialog::parsePercent(const QString& text)
{
    return valueLabelText::parsePercent(text);
}

void ChannelStripDialog::makeEditableLabel(EditableValueLabel* label, QSlider* slider,
                                           std::function<QString(int)> formatter,
                                           std::function<int(const QString&)> parser, int defaultValue)
{
    if (label == nullptr || slider == nullptr)
        return;
    label->bind(slider, std::move(formatter), std::move(parser), defaultValue);
    connect(label, &EditableValueLabel::wasReset, this,
            [this] { showFeedback("Reset to default", Theme::kStripDefaultRestored); });
}

void ChannelStripDialog::showLabelEditor(EditableValueLabel* label)
{
    if (label != nullptr)
        label->openEditor();
}

void ChannelStripDialog::resetLabelToDefault(EditableValueLabel* label)
{
    if (label != nullptr)
        label->resetToDefault();
}

void ChannelStripDialog::showFeedback(const QString& text, const QString& color)
{
    feedbackLabel_->setText(text);
    feedbackLabel_->setStyleSheet(QString("padding: 5px 10px; border-radius: 3px; font-weight: bold; font-size: 12px; "
                                          "background-color: %1; color: white;")
                                      .arg(color));
    feedbackLabel_->show();
    // Bound to this dialog: a dialog closed within the second is never touched.
    QTimer::singleShot(1000, Qt::PreciseTimer, this, [this] { feedbackLabel_->hide(); });
}

// --- Keys and clicks --------------------------------------------------------

bool ChannelStripDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(QApplication::focusWidget()) == nullptr) {
        const int pressed = static_cast<QKeyEvent*>(event)->key();
        if (pressed == Qt::Key_Right) {
            const int count = ConfigManager::getInstance()->getInt(TrackKeys::kCount, kDefaultTrackCount);
            if (trackIndex_ < count - 1) {
                qDebug() << "Channel Strip: Navigating RIGHT from track" << trackIndex_ << "to" << trackIndex_ + 1;
                switchToTrack(trackIndex_ + 1);
                return true;
            }
        } else if (pressed == Qt::Key_Left && trackIndex_ > 0) {
            qDebug() << "Channel Strip: Navigating LEFT from track" << trackIndex_ << "to" << trackIndex_ - 1;
            switchToTrack(trackIndex_ - 1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ChannelStripDialog::keyPressEvent(QKeyEvent* event)
{
    QDialog::keyPressEvent(event);
}

#include "ui/mixer/InputMatrixDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/LtcKeys.h"
#include "core/settings/RoutingKeys.h"
#include "ui/common/ScreenFit.h"
#include "ui/mixer/MatrixTableStyle.h"
#include "ui/mixer/PortLabels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kDefaultTrackCount = 8;
constexpr int kMaxTrackCount = 32;
constexpr auto kCellAlignment = Qt::AlignHCenter | Qt::AlignVCenter;

QString trackDefaultName(int row)
{
    return QString("Track %1").arg(row + 1);
}

}  // namespace

InputMatrixDialog::InputMatrixDialog(const std::vector<std::string>& inputPorts, int trackCount,
                                     const std::vector<std::string>& trackNames,
                                     const std::vector<std::vector<std::string>>& routing, QWidget* parent)
    : QDialog(parent),
      inputPorts_(inputPorts),
      trackCount_(trackCount < 1 ? kDefaultTrackCount : trackCount),
      trackNames_(trackNames),
      routing_(routing),
      initialTrackNames_(trackNames),
      initialRouting_(routing)
{
    setWindowTitle("Input Matrix - Track Configuration");
    setupUI();
    updateFromCurrentConfig();
    fitToScreen(*this, QSize(1600, 1000), QSize(1400, 900));
}

// --- Getters ----------------------------------------------------------------

int InputMatrixDialog::getTrackCount() const
{
    return trackCount_;
}

std::vector<std::string> InputMatrixDialog::getTrackNames() const
{
    std::vector<std::string> names;
    for (const QLineEdit* edit : trackNameEdits_)
        names.push_back(edit->text().toStdString());
    return names;
}

std::vector<std::vector<std::string>> InputMatrixDialog::getRoutingMatrix() const
{
    std::vector<std::vector<std::string>> matrix;
    for (int row = 0; row < trackCount_ && row < grid_->rowCount(); ++row) {
        std::vector<std::string> ports;
        for (int column = 1; column < grid_->columnCount(); ++column) {
            const QTableWidgetItem* cell = grid_->item(row, column);
            if (cell != nullptr && cell->checkState() == Qt::Checked)
                ports.push_back(cell->data(Qt::UserRole).toString().toStdString());
        }
        matrix.push_back(std::move(ports));
    }
    return matrix;
}

bool InputMatrixDialog::isLtcEnabled() const { return ltcEnable_->isChecked(); }
std::string InputMatrixDialog::getLtcInputPort() const { return comboPort(ltcInput_); }
bool InputMatrixDialog::isSlateMicEnabled() const { return slateEnable_->isChecked(); }
std::string InputMatrixDialog::getSlateMicPort() const { return comboPort(slateInput_); }
int InputMatrixDialog::getSlateMicGain() const { return slateGain_->currentData().toInt(); }
bool InputMatrixDialog::isComInput1Enabled() const { return com1Enable_->isChecked(); }
std::string InputMatrixDialog::getComInput1Port() const { return comboPort(com1Input_); }
bool InputMatrixDialog::isComInput2Enabled() const { return com2Enable_->isChecked(); }
std::string InputMatrixDialog::getComInput2Port() const { return comboPort(com2Input_); }

std::string InputMatrixDialog::comboPort(const QComboBox* combo)
{
    if (combo->currentIndex() <= 0)
        return {};
    const QVariant data = combo->currentData();
    return data.isValid() ? data.toString().toStdString() : std::string();
}

// --- Labels -----------------------------------------------------------------

std::string InputMatrixDialog::getInputLabel(const std::string& port)
{
    return PortLabels::label(PortLabels::Side::Input, port);
}

void InputMatrixDialog::setInputLabel(const std::string& port, const std::string& alias)
{
    PortLabels::storeAlias(PortLabels::Side::Input, port, alias);
}

std::string InputMatrixDialog::abbreviateChannelName(const std::string& label)
{
    return PortLabels::abbreviateChannelName(label);
}

std::map<std::string, std::string> InputMatrixDialog::getInputLabels() const
{
    std::map<std::string, std::string> labels;
    for (const std::string& port : inputPorts_) {
        const std::string shown = getInputLabel(port);
        if (!shown.empty() && shown != port)
            labels[port] = shown;
    }
    return labels;
}

// --- Building ---------------------------------------------------------------

void InputMatrixDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel("Number of Tracks:", this));
    trackCountBox_ = new QSpinBox(this);
    trackCountBox_->setRange(1, kMaxTrackCount);
    trackCountBox_->setValue(trackCount_);
    connect(trackCountBox_, &QSpinBox::valueChanged, this, &InputMatrixDialog::onTrackCountChanged);
    countRow->addWidget(trackCountBox_);
    countRow->addStretch();
    layout->addLayout(countRow);

    grid_ = new QTableWidget(this);
    grid_->verticalHeader()->setVisible(true);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setStyleSheet(matrixTableStyleSheet());
    layout->addWidget(grid_, 10);
    setupHeaderEditing();

    auto* groups = new QHBoxLayout;
    auto* ltcGroup = new QGroupBox("LTC", this);
    auto* ltcLayout = new QHBoxLayout(ltcGroup);
    ltcEnable_ = new QCheckBox("Enable", ltcGroup);
    ltcInput_ = new QComboBox(ltcGroup);
    ltcInput_->setMinimumWidth(150);
    ltcLayout->addWidget(ltcEnable_);
    ltcLayout->addWidget(ltcInput_);
    groups->addWidget(ltcGroup);

    auto* slateGroup = new QGroupBox("Slate", this);
    auto* slateLayout = new QVBoxLayout(slateGroup);
    auto* slateRow = new QHBoxLayout;
    slateEnable_ = new QCheckBox("Enable", slateGroup);
    slateInput_ = new QComboBox(slateGroup);
    slateInput_->setMinimumWidth(150);
    slateRow->addWidget(slateEnable_);
    slateRow->addWidget(slateInput_);
    slateLayout->addLayout(slateRow);
    auto* gainRow = new QHBoxLayout;
    gainRow->addWidget(new QLabel("Gain:", slateGroup));
    slateGain_ = new QComboBox(slateGroup);
    slateGain_->setMinimumWidth(80);
    for (int gainDb : {-6, -3, 0, 3, 6, 12})
        slateGain_->addItem(gainDb > 0 ? QString("+%1 dB").arg(gainDb) : QString("%1 dB").arg(gainDb), gainDb);
    slateGain_->setCurrentIndex(2);
    gainRow->addWidget(slateGain_);
    gainRow->addStretch();
    slateLayout->addLayout(gainRow);
    groups->addWidget(slateGroup);

    auto* comGroup = new QGroupBox("COM", this);
    auto* comLayout = new QHBoxLayout(comGroup);
    com1Enable_ = new QCheckBox("COM 1", comGroup);
    com1Input_ = new QComboBox(comGroup);
    com1Input_->setMinimumWidth(120);
    com2Enable_ = new QCheckBox("COM 2", comGroup);
    com2Input_ = new QComboBox(comGroup);
    com2Input_->setMinimumWidth(120);
    comLayout->addWidget(com1Enable_);
    comLayout->addWidget(com1Input_);
    comLayout->addWidget(com2Enable_);
    comLayout->addWidget(com2Input_);
    groups->addWidget(comGroup);
    groups->addStretch();
    layout->addLayout(groups);

    fillPortCombo(ltcInput_, true);
    fillPortCombo(slateInput_, false);
    fillPortCombo(com1Input_, false);
    fillPortCombo(com2Input_, false);
    for (QCheckBox* box : {ltcEnable_, slateEnable_, com1Enable_, com2Enable_})
        connect(box, &QCheckBox::toggled, this, &InputMatrixDialog::saveAndSignal);
    for (QComboBox* combo : {ltcInput_, slateInput_, slateGain_, com1Input_, com2Input_})
        connect(combo, &QComboBox::currentIndexChanged, this, &InputMatrixDialog::saveAndSignal);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    okButton_ = new QPushButton("OK", this);
    cancelButton_ = new QPushButton("Cancel", this);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);

    rebuildTrackGrid();
}

void InputMatrixDialog::setupHeaderEditing()
{
    if (headerConnected_)
        return;
    connect(grid_->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            &InputMatrixDialog::onHeaderDoubleClicked);
    headerConnected_ = true;
}

std::vector<std::string> InputMatrixDialog::columnPorts() const
{
    std::vector<std::string> ports = inputPorts_;
    ports.push_back(kLtcGeneratorPort);
    return ports;
}

void InputMatrixDialog::takeGridState()
{
    const int rows = grid_->rowCount();
    if (rows == 0)
        return;
    const std::vector<std::string> names = getTrackNames();
    const std::vector<std::vector<std::string>> checks = getRoutingMatrix();
    // Rows the grid has now carry their current state; rows it does not have
    // start again from what the dialog was opened with.
    trackNames_ = initialTrackNames_;
    routing_ = initialRouting_;
    for (int row = 0; row < rows; ++row) {
        const size_t index = static_cast<size_t>(row);
        if (trackNames_.size() <= index)
            trackNames_.resize(index + 1, std::string());
        if (index < names.size())
            trackNames_[index] = names[index];
        if (index < checks.size()) {
            if (routing_.size() <= index)
                routing_.resize(index + 1);
            routing_[index] = checks[index];
        }
    }
}

void InputMatrixDialog::rebuildTrackGrid()
{
    grid_->setUpdatesEnabled(false);
    disconnect(grid_, &QTableWidget::itemChanged, this, &InputMatrixDialog::onMatrixItemChanged);
    takeGridState();
    trackNameEdits_.clear();
    grid_->setRowCount(0);
    grid_->setColumnCount(0);

    const std::vector<std::string> ports = columnPorts();
    const int columns = static_cast<int>(ports.size()) + 1;
    grid_->setColumnCount(columns);
    QStringList headers{"Track Name"};
    for (const std::string& port : ports) {
        const std::string shown = port == kLtcGeneratorPort ? port : getInputLabel(port);
        headers << PortLabels::columnHeaderText(shown.empty() ? port : shown);
    }
    grid_->setHorizontalHeaderLabels(headers);
    grid_->horizontalHeader()->setMinimumHeight(120);
    grid_->setColumnWidth(0, 150);
    for (int column = 1; column < columns; ++column)
        grid_->setColumnWidth(column, 30);

    grid_->setRowCount(trackCount_);
    for (int row = 0; row < trackCount_; ++row) {
        const size_t index = static_cast<size_t>(row);
        grid_->setVerticalHeaderItem(row, new QTableWidgetItem(trackDefaultName(row)));
        auto* edit = new QLineEdit(index < trackNames_.size() ? QString::fromStdString(trackNames_[index])
                                                              : trackDefaultName(row));
        connect(edit, &QLineEdit::textChanged, this, &InputMatrixDialog::saveAndSignal);
        grid_->setCellWidget(row, 0, edit);
        trackNameEdits_.push_back(edit);
        for (int column = 1; column < columns; ++column) {
            auto* cell = new QTableWidgetItem;
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            cell->setTextAlignment(kCellAlignment);
            cell->setCheckState(Qt::Unchecked);
            cell->setData(Qt::UserRole, QString::fromStdString(ports[static_cast<size_t>(column - 1)]));
            grid_->setItem(row, column, cell);
        }
        if (index < routing_.size()) {
            for (const std::string& port : routing_[index]) {
                for (int column = 1; column < columns; ++column) {
                    if (ports[static_cast<size_t>(column - 1)] == port) {
                        grid_->item(row, column)->setCheckState(Qt::Checked);
                        break;
                    }
                }
            }
        } else if (index < inputPorts_.size()) {
            grid_->item(row, row + 1)->setCheckState(Qt::Checked);
        }
    }

    connect(grid_, &QTableWidget::itemChanged, this, &InputMatrixDialog::onMatrixItemChanged);
    grid_->setUpdatesEnabled(true);
}

void InputMatrixDialog::fillPortCombo(QComboBox* combo, bool withLtcGenerator)
{
    combo->addItem("(None)", QString());
    for (const std::string& port : inputPorts_)
        combo->addItem(PortLabels::comboEntryText(PortLabels::Side::Input, port), QString::fromStdString(port));
    if (withLtcGenerator)
        combo->addItem(kLtcGeneratorPort, QString(kLtcGeneratorPort));
}

void InputMatrixDialog::selectByData(QComboBox* combo, const QString& data)
{
    const int index = combo->findData(data);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

void InputMatrixDialog::rebuildCombos()
{
    const std::pair<QComboBox*, bool> combos[] = {
        {ltcInput_, true}, {slateInput_, false}, {com1Input_, false}, {com2Input_, false}};
    for (const auto& [combo, withGenerator] : combos) {
        const QString remembered = combo->currentData().toString();
        combo->clear();
        fillPortCombo(combo, withGenerator);
        selectByData(combo, remembered);
    }
}

void InputMatrixDialog::updateFromCurrentConfig()
{
    rebuildTrackGrid();
    ConfigManager* config = ConfigManager::getInstance();
    ltcEnable_->setChecked(config->getBool(LtcKeys::kEnabled, false));
    slateEnable_->setChecked(config->getBool(RoutingKeys::kSlateEnabled, false));
    com1Enable_->setChecked(config->getBool(RoutingKeys::kCom1Enabled, false));
    com2Enable_->setChecked(config->getBool(RoutingKeys::kCom2Enabled, false));
    const std::pair<QComboBox*, const char*> ports[] = {
        {ltcInput_, LtcKeys::kInput},
        {slateInput_, RoutingKeys::kSlateInput},
        {com1Input_, RoutingKeys::kCom1Input},
        {com2Input_, RoutingKeys::kCom2Input}};
    for (const auto& [combo, key] : ports) {
        const std::string port = config->getString(key, "");
        if (!port.empty())
            selectByData(combo, QString::fromStdString(port));
    }
    const int gain = slateGain_->findData(config->getInt(RoutingKeys::kSlateGain, 0));
    if (gain >= 0)
        slateGain_->setCurrentIndex(gain);
}

// --- Changes ----------------------------------------------------------------

void InputMatrixDialog::saveAndSignal()
{
    ConfigManager::getInstance()->saveConfig("");
    emit configurationChanged();
}

void InputMatrixDialog::onApplyClicked()
{
    saveAndSignal();
}

void InputMatrixDialog::onTrackCountChanged(int count)
{
    trackCount_ = count;
    rebuildTrackGrid();
    saveAndSignal();
}

void InputMatrixDialog::onMatrixItemChanged(QTableWidgetItem* item)
{
    if (item == nullptr || item->column() == 0)
        return;
    if (item->checkState() == Qt::Checked) {
        // One input per track.
        const QSignalBlocker blocker(grid_);
        for (int column = 1; column < grid_->columnCount(); ++column) {
            QTableWidgetItem* other = grid_->item(item->row(), column);
            if (other != nullptr && other != item && other->checkState() == Qt::Checked)
                other->setCheckState(Qt::Unchecked);
        }
    }
    saveAndSignal();
}

void InputMatrixDialog::onHeaderDoubleClicked(int section)
{
    const std::vector<std::string> ports = columnPorts();
    if (section < 1 || section > static_cast<int>(ports.size()))
        return;
    if (!PortLabels::promptAndStoreAlias(this, PortLabels::Side::Input, ports[static_cast<size_t>(section - 1)]))
        return;
    ConfigManager::getInstance()->saveConfig("");
    rebuildCombos();
    rebuildTrackGrid();
    emit configurationChanged();
}

#include "ui/mixer/FaderAssignmentDialog.h"

#include "controllers/MidiControllerManager.h"
#include "controllers/SurfaceRegistry.h"
#include "core/DebugLog.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"
#include "ui/mixer/MatrixTableStyle.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {

constexpr int kTrackRows = 32;
constexpr int kColumnWidth = 45;
const char* kAbsentSuffix = " (not connected)";

// %1 dialog, %2 text, %3 borders, %4 lists and fields, %5 buttons, %6 hover
// and selection, %7 box outline, %8 box hover, %9 ticked, %10 unticked box.
QString dialogStyle()
{
    using namespace Theme;
    return QString("QDialog { background-color: %1; }"
                   "QLabel { color: %2; }"
                   // The group title and the controller list would otherwise keep the
                   // platform's dark-on-light colours on the dark dialog.
                   "QGroupBox { color: %2; }"
                   "QListWidget { background-color: %4; color: %2; border: 1px solid %3; }"
                   "QPushButton { padding: 6px 12px; background-color: %5; border: 1px solid %3; border-radius: 4px;"
                   " color: %2; }"
                   "QPushButton:hover { background-color: %6; }"
                   "QPushButton:pressed { background-color: %4; }"
                   "QComboBox { padding: 4px 8px; background-color: %4; border: 1px solid %3; border-radius: 4px;"
                   " color: %2; }"
                   "QComboBox:hover { background-color: %5; }"
                   "QComboBox::drop-down { border: none; }"
                   "QComboBox QAbstractItemView { background-color: %4; color: %2; selection-background-color: %6; }"
                   "QCheckBox { color: %2; }"
                   "QCheckBox::indicator { width: 18px; height: 18px; border: 1px solid %7; border-radius: 3px;"
                   " background-color: %10; }"
                   "QCheckBox::indicator:hover { border-color: %8; }"
                   "QCheckBox::indicator:checked { background-color: %9; border-color: %9; }")
        .arg(kToolBg, kToolText, kBorderControl, kToolInput, kToolButton, kToolButtonHover, kBorderIndicator,
             kBorderHoverStrong, kToolAccent, kBgField);
}

}  // namespace

FaderAssignmentDialog::FaderAssignmentDialog(MidiControllerManager* manager, QWidget* parent)
    : QDialog(parent), manager(manager)
{
    setWindowTitle("Fader Assignments");
    buildLayout();
    fitToScreen(*this, QSize(), QSize(800, 600));
    applyStyleSheets();
    rebuildMatrix();
}

FaderAssignmentDialog::~FaderAssignmentDialog() = default;

void FaderAssignmentDialog::buildLayout()
{
    mainLayout = new QVBoxLayout(this);
    mainLayout->setSpacing(10);

    auto* heading = new QLabel(QString("<b>Assign Faders to Tracks</b><br><span style='color:%1;'>Select which track "
                                       "each fader controls. Each track can only be controlled by one fader.</span>")
                                   .arg(Theme::kTextMuted),
                               this);
    heading->setWordWrap(true);
    mainLayout->addWidget(heading);

    auto* group = new QGroupBox("Connected Controllers", this);
    auto* groupLayout = new QVBoxLayout(group);
    controllerList = new QListWidget(group);
    controllerList->setMaximumHeight(100);
    controllerList->setSelectionMode(QAbstractItemView::SingleSelection);
    groupLayout->addWidget(controllerList);
    groupLayout->addWidget(
        new QLabel(QString("<span style='color:%1; font-size:10px;'>Double-click a controller to remove it</span>")
                       .arg(Theme::kTextMuted),
                   group));
    mainLayout->addWidget(group);
    connect(controllerList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (item != nullptr)
            onRemoveController(item->data(Qt::UserRole).toString().toStdString());
    });

    matrixTable = new QTableWidget(kTrackRows, 0, this);
    QStringList rowLabels;
    for (int row = 0; row < kTrackRows; ++row)
        rowLabels << QString("Track %1").arg(row + 1);
    matrixTable->setVerticalHeaderLabels(rowLabels);
    matrixTable->verticalHeader()->setVisible(true);
    matrixTable->setSelectionMode(QAbstractItemView::NoSelection);
    matrixTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mainLayout->addWidget(matrixTable, 1);

    buttonLayout = new QHBoxLayout();
    buttonLayout->addWidget(new QLabel("Add Controller:", this));
    deviceCombo = new QComboBox(this);
    deviceCombo->setMinimumWidth(200);
    buttonLayout->addWidget(deviceCombo);
    addButton = new QPushButton("Add", this);
    addButton->setFixedWidth(80);
    buttonLayout->addWidget(addButton);
    refreshButton = new QPushButton("Refresh", this);
    refreshButton->setFixedWidth(80);
    refreshButton->setToolTip("Refresh available controllers list");
    buttonLayout->addWidget(refreshButton);
    buttonLayout->addStretch();
    clearAllButton = new QPushButton("Clear All", this);
    clearAllButton->setFixedWidth(100);
    buttonLayout->addWidget(clearAllButton);
    closeButton = new QPushButton("Close", this);
    closeButton->setFixedWidth(100);
    buttonLayout->addWidget(closeButton);
    mainLayout->addLayout(buttonLayout);

    connect(addButton, &QPushButton::clicked, this, &FaderAssignmentDialog::onAddController);
    connect(refreshButton, &QPushButton::clicked, this, &FaderAssignmentDialog::refreshUI);
    connect(clearAllButton, &QPushButton::clicked, this, &FaderAssignmentDialog::onClearAll);
    connect(closeButton, &QPushButton::clicked, this, [this] {
        if (this->manager != nullptr)
            this->manager->saveConfig();
        accept();
    });
}

void FaderAssignmentDialog::applyStyleSheets()
{
    // The routing matrices' grid, whose check boxes show on the dark cells.
    matrixTable->setStyleSheet(matrixTableStyleSheet());
    setStyleSheet(dialogStyle());
}

void FaderAssignmentDialog::showEvent(QShowEvent* event)
{
    rebuildMatrix();
    QDialog::showEvent(event);
}

bool FaderAssignmentDialog::isConnectedController(const std::string& name) const
{
    for (const PhysicalController& controller : manager->getControllers()) {
        if (controller.deviceName == name)
            return true;
    }
    return false;
}

void FaderAssignmentDialog::rebuildMatrix()
{
    disconnect(matrixTable, &QTableWidget::itemChanged, this, &FaderAssignmentDialog::onItemChanged);
    matrixTable->setUpdatesEnabled(false);

    deviceCombo->clear();
    controllerList->clear();
    columns.clear();
    matrixTable->setColumnCount(0);

    if (manager != nullptr) {
        for (const std::string& device : manager->getAvailableInputDevices()) {
            if (!isConnectedController(device))
                deviceCombo->addItem(QString::fromStdString(device));
        }
        for (const PhysicalController& controller : manager->getControllers()) {
            auto* item = new QListWidgetItem(QString::fromStdString(controller.deviceName), controllerList);
            item->setData(Qt::UserRole, QString::fromStdString(controller.deviceName));
        }
        // A saved surface that is unplugged stays saved until it is removed
        // here; it must be listed, or it could never be removed.
        for (const std::string& name : manager->getAbsentSavedControllers()) {
            auto* item = new QListWidgetItem(QString::fromStdString(name) + kAbsentSuffix, controllerList);
            item->setData(Qt::UserRole, QString::fromStdString(name));
            item->setToolTip("Saved but not connected - double-click to remove it");
        }

        // Every track of a fader gets its check: one fader may drive several.
        std::map<std::pair<std::string, int>, std::set<int>> tracksOfFader;
        const std::vector<FaderAssignment> assignments = manager->getFaderAssignments();
        for (const FaderAssignment& a : assignments)
            tracksOfFader[{a.deviceName, a.faderIndex}].insert(a.trackIndex);

        int column = 0;
        for (const PhysicalController& controller : manager->getControllers()) {
            const std::string& name = controller.deviceName;
            const int faders = MidiControllerManager::getControllerFaderCount(name);
            for (int fader = 0; fader < faders; ++fader, ++column) {
                columns.push_back(ColumnInfo{name, fader, column});
                matrixTable->insertColumn(column);
                matrixTable->setHorizontalHeaderItem(
                    column, new QTableWidgetItem(QString("%1\n%2").arg(abbreviateControllerName(name)).arg(fader + 1)));
                matrixTable->setColumnWidth(column, kColumnWidth);
                const auto found = tracksOfFader.find({name, fader});
                for (int row = 0; row < kTrackRows; ++row) {
                    auto* item = new QTableWidgetItem();
                    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                    const bool checked = found != tracksOfFader.end() && found->second.count(row) != 0;
                    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
                    item->setTextAlignment(Qt::AlignCenter);
                    matrixTable->setItem(row, column, item);
                }
            }
        }
    }

    connect(matrixTable, &QTableWidget::itemChanged, this, &FaderAssignmentDialog::onItemChanged);
    matrixTable->setUpdatesEnabled(true);
}

QString FaderAssignmentDialog::abbreviateControllerName(const std::string& name) const
{
    if (const SurfaceKind* family = SurfaceRegistry::familyOf(name); family && !family->abbreviation.empty())
        return QString::fromStdString(family->abbreviation);
    // Four bytes may end inside a multi-byte character; the decoder then
    // shows a replacement mark rather than reading past the text.
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(std::min<size_t>(4, name.size())));
}

std::string FaderAssignmentDialog::getControllerNameForColumn(int column) const
{
    if (column < 0 || column >= static_cast<int>(columns.size()))
        return {};
    return columns[static_cast<size_t>(column)].deviceName;
}

int FaderAssignmentDialog::getFaderIndexForColumn(int column) const
{
    if (column < 0 || column >= static_cast<int>(columns.size()))
        return -1;
    return columns[static_cast<size_t>(column)].faderIndex;
}

int FaderAssignmentDialog::findColumnForFader(const std::string& deviceName, int faderIndex) const
{
    for (const ColumnInfo& info : columns) {
        if (info.deviceName == deviceName && info.faderIndex == faderIndex)
            return info.column;
    }
    return -1;
}

int FaderAssignmentDialog::getFaderCountForController(const std::string& deviceName) const
{
    return MidiControllerManager::getControllerFaderCount(deviceName);
}

void FaderAssignmentDialog::onItemChanged(QTableWidgetItem* item)
{
    if (item == nullptr)
        return;
    const int row = item->tableWidget() != nullptr ? item->row() : -1;
    const int column = item->tableWidget() != nullptr ? item->column() : -1;
    const bool checked = item->checkState() == Qt::Checked;
    matrixTable->blockSignals(true);
    onFaderAssignmentChanged(row, column, checked);
    matrixTable->blockSignals(false);
}

void FaderAssignmentDialog::onFaderAssignmentChanged(int row, int column, bool checked)
{
    const std::string name = getControllerNameForColumn(column);
    const int fader = getFaderIndexForColumn(column);
    if (name.empty() || fader < 0 || manager == nullptr)
        return;
    const bool wasBlocked = matrixTable->blockSignals(true);
    if (checked) {
        // A track has one fader: the check moves here from any other column.
        for (int other = 0; other < matrixTable->columnCount(); ++other) {
            if (other == column)
                continue;
            QTableWidgetItem* cell = matrixTable->item(row, other);
            if (cell == nullptr || cell->checkState() != Qt::Checked)
                continue;
            const std::string otherName = getControllerNameForColumn(other);
            const int otherFader = getFaderIndexForColumn(other);
            if (!otherName.empty() && otherFader >= 0)
                manager->removeFaderAssignment(otherName, otherFader, row);
            cell->setCheckState(Qt::Unchecked);
        }
        manager->assignFader(name, fader, row);
    } else {
        manager->removeFaderAssignment(name, fader, row);
    }
    matrixTable->blockSignals(wasBlocked);
}

void FaderAssignmentDialog::onRemoveController(const std::string& deviceName)
{
    if (deviceName.empty() || manager == nullptr)
        return;
    // Removing an absent saved surface forgets it; the manager answers
    // false (nothing was connected) but the list changes all the same.
    const std::vector<std::string>& absent = manager->getAbsentSavedControllers();
    const bool savedButAbsent = std::find(absent.begin(), absent.end(), deviceName) != absent.end();
    if (manager->removeController(deviceName) || savedButAbsent)
        rebuildMatrix();
}

void FaderAssignmentDialog::onAddController()
{
    if (deviceCombo->currentIndex() < 0 || manager == nullptr)
        return;
    const std::string name = deviceCombo->currentText().toStdString();
    if (manager->addController(name, true)) {
        rebuildMatrix();
        return;
    }
    QMessageBox::warning(this, "Error", QString::fromStdString("Failed to add controller: " + name), QMessageBox::Ok);
}

void FaderAssignmentDialog::refreshUI()
{
    if (manager == nullptr)
        return;
    manager->refreshAvailableDevices();
    deviceCombo->clear();
    const std::vector<std::string> devices = manager->getAvailableInputDevices();
    debugLog("Refresh: Found " + std::to_string(devices.size()) + " total devices");
    int added = 0;
    for (const std::string& device : devices) {
        if (!isConnectedController(device)) {
            deviceCombo->addItem(QString::fromStdString(device));
            debugLog("  Available: " + device);
            ++added;
        } else {
            debugLog("  Already connected: " + device);
        }
    }
    debugLog("Refresh: Added " + std::to_string(added) + " devices to dropdown");
}

void FaderAssignmentDialog::onClearAll()
{
    if (manager == nullptr)
        return;
    manager->removeAllFaderAssignments();
    rebuildMatrix();
}

#include "ui/mixer/OutputMatrixDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/LtcKeys.h"
#include "timecode/LtcEncoder.h"
#include "timecode/LtcOutputLevel.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"
#include "ui/mixer/MatrixTableStyle.h"
#include "ui/mixer/PortLabels.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr auto kCellAlignment = Qt::AlignHCenter | Qt::AlignVCenter;

struct BusRow {
    const char* header;
    const char* text;
    const char* foreground;
    const char* background;
    const char* tooltip;
};

constexpr BusRow kMixRow{"Mix\n(All Tracks)", "Mix", Theme::kBusMix, Theme::kBusMixBg, "Include %1 in Mix output"};
constexpr BusRow kComsRow{"COMS\n(Slate + Talkback)", "COMS", Theme::kBusComs, Theme::kBusComsBg,
                          "Include %1 in COMS output"};
constexpr BusRow kMonitorRow{"MONITOR\n(PFL/Mix)", "MONITOR", Theme::kBusMonitor, Theme::kBusMonitorBg,
                             "Include %1 in MONITOR output"};
constexpr BusRow kLtcGenRow{"INTERNAL\nLTC GEN", "INTERNAL", Theme::kBusLtcGen, Theme::kBusLtcGenBg,
                            "Route LTC Generator to %1"};
constexpr const char* kTrackForeground = Theme::kBusTrack;
constexpr const char* kTrackBackground = Theme::kBusTrackBg;

QTableWidgetItem* headerItem(const QString& text, const char* foreground, const char* background)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(kCellAlignment);
    item->setForeground(QColor(foreground));
    item->setBackground(QColor(background));
    return item;
}

QTableWidgetItem* portCell(const QString& tooltip, const char* background, const char* foreground, bool checked)
{
    auto* cell = new QTableWidgetItem;
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    cell->setTextAlignment(kCellAlignment);
    cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    cell->setBackground(QColor(background));
    if (foreground != nullptr)
        cell->setForeground(QColor(foreground));
    cell->setToolTip(tooltip);
    return cell;
}

}  // namespace

OutputMatrixDialog::OutputMatrixDialog(const std::vector<std::string>& outputPorts, int trackCount,
                                       const std::vector<std::string>& trackNames,
                                       const std::vector<std::vector<std::string>>& routingMatrix,
                                       const std::vector<std::map<std::string, std::string>>& routingStates,
                                       const std::string& mixOutputPort, const std::string& comsOutputPort,
                                       const std::string& monitorOutputPort, const std::string& ltcGenOutputPort,
                                       LtcEncoder* generator, QWidget* parent)
    : QDialog(parent),
      outputPorts_(outputPorts),
      trackCount_(trackCount),
      trackNames_(trackNames),
      routingMatrix_(routingMatrix),
      routingStates_(routingStates),
      mixOutputPort_(mixOutputPort),
      comsOutputPort_(comsOutputPort),
      monitorOutputPort_(monitorOutputPort),
      ltcGenOutputPort_(ltcGenOutputPort),
      generator_(generator)
{
    setWindowTitle("Output Matrix - Track Routing");
    setupUI();
    fitToScreen(*this, QSize(800, 500), QSize(600, 400));
}

// --- Getters ----------------------------------------------------------------

std::vector<std::vector<std::string>> OutputMatrixDialog::getRoutingMatrix() const
{
    std::vector<std::vector<std::string>> matrix;
    for (const auto& cells : trackCells_) {
        std::vector<std::string> ports;
        for (size_t column = 0; column < cells.size(); ++column)
            if (cells[column]->checkState() == Qt::Checked)
                ports.push_back(outputPorts_[column]);
        matrix.push_back(std::move(ports));
    }
    return matrix;
}

std::vector<std::map<std::string, std::string>> OutputMatrixDialog::getRoutingStates() const
{
    return std::vector<std::map<std::string, std::string>>(trackCells_.size());
}

std::string OutputMatrixDialog::checkedPorts(const std::vector<QTableWidgetItem*>& cells)
{
    std::string list;
    for (const QTableWidgetItem* cell : cells) {
        if (cell->checkState() != Qt::Checked)
            continue;
        if (!list.empty())
            list += ',';
        list += cell->data(Qt::UserRole).toString().toStdString();
    }
    return list;
}

std::string OutputMatrixDialog::getMixOutputPort() const { return checkedPorts(mixCells_); }
std::string OutputMatrixDialog::getComsOutputPort() const { return checkedPorts(comsCells_); }
std::string OutputMatrixDialog::getMonitorOutputPort() const { return checkedPorts(monitorCells_); }
std::string OutputMatrixDialog::getLtcGenOutputPort() const { return checkedPorts(ltcGenCells_); }

std::vector<std::string> OutputMatrixDialog::getTrackNames() const
{
    std::vector<std::string> names;
    for (const QLineEdit* edit : trackNameEdits_)
        names.push_back(edit->text().toStdString());
    return names;
}

bool OutputMatrixDialog::isOutputInList(const std::string& port, const std::string& list)
{
    if (list.empty())
        return false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string piece = list.substr(start, end - start);
        const size_t first = piece.find_first_not_of(' ');
        piece = first == std::string::npos ? std::string() : piece.substr(first, piece.find_last_not_of(' ') - first + 1);
        if (piece == port)
            return true;
        start = end + 1;
    }
    return false;
}

std::string OutputMatrixDialog::getOutputLabel(const std::string& port)
{
    return PortLabels::label(PortLabels::Side::Output, port);
}

void OutputMatrixDialog::setOutputLabel(const std::string& port, const std::string& alias)
{
    PortLabels::storeAlias(PortLabels::Side::Output, port, alias);
}

std::string OutputMatrixDialog::abbreviateChannelName(const std::string& label)
{
    return PortLabels::abbreviateChannelName(label);
}

// --- Building ---------------------------------------------------------------

void OutputMatrixDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);

    auto* hint = new QLabel("Check boxes to route tracks to outputs. Each track can go to multiple outputs.", this);
    hint->setStyleSheet(QString("color: %1; font-style: italic;").arg(Theme::kTextMuted));
    layout->addWidget(hint);

    grid_ = new QTableWidget(this);
    grid_->verticalHeader()->setVisible(true);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setStyleSheet(matrixTableStyleSheet());
    // The bus rows' headers have two lines.
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Output aliases are set the way the input matrix sets its own: a
    // double-click on the port's column header.
    connect(grid_->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this](int section) { renameOutput(section - 1); });
    layout->addWidget(grid_, 10);

    levelGroup_ = new QGroupBox("LTC Generator Level", this);
    levelGroup_->setStyleSheet(
        // The top margin leaves room for the title's whole line above the border.
        QString("QGroupBox { background-color: %1; border: 1px solid %2; border-radius: 4px; margin-top: 14px; "
                "padding-top: 8px; }"
                "QGroupBox::title { color: %2; subcontrol-origin: margin; left: 10px; padding: 0 3px; }")
            .arg(Theme::kBusLtcGenBg, Theme::kBusLtcGen));
    auto* levelLayout = new QHBoxLayout(levelGroup_);
    levelLayout->addWidget(new QLabel("Output Level:", levelGroup_));
    levelChooser_ = new QComboBox(levelGroup_);
    for (double levelDb : LtcOutputLevel::kLevelsDb)
        levelChooser_->addItem(QString("%1 dBFS").arg(levelDb), levelDb);
    // A stored index this list does not know shows the default level; it is
    // not rewritten until the user picks one.
    levelChooser_->setCurrentIndex(LtcOutputLevel::indexOrDefault(
        ConfigManager::getInstance()->getInt(LtcKeys::kGeneratorLevel, LtcOutputLevel::kDefaultIndex)));
    connect(levelChooser_, &QComboBox::currentIndexChanged, this, &OutputMatrixDialog::onLtcLevelChanged);
    levelLayout->addWidget(levelChooser_);
    levelLayout->addStretch();
    levelGroup_->hide();
    layout->addWidget(levelGroup_);

    rebuildOutputMatrix();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    okButton_ = new QPushButton("OK", this);
    cancelButton_ = new QPushButton("Cancel", this);
    connect(okButton_, &QPushButton::clicked, this, &OutputMatrixDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);
}

void OutputMatrixDialog::takeGridState()
{
    if (mixCells_.empty())
        return;
    routingMatrix_ = getRoutingMatrix();
    mixOutputPort_ = getMixOutputPort();
    comsOutputPort_ = getComsOutputPort();
    monitorOutputPort_ = getMonitorOutputPort();
    ltcGenOutputPort_ = getLtcGenOutputPort();
}

void OutputMatrixDialog::rebuildOutputMatrix()
{
    grid_->setUpdatesEnabled(false);
    disconnect(grid_, &QTableWidget::itemChanged, this, &OutputMatrixDialog::onItemChanged);
    takeGridState();
    trackCells_.clear();
    trackNameEdits_.clear();
    mixCells_.clear();
    comsCells_.clear();
    monitorCells_.clear();
    ltcGenCells_.clear();
    grid_->setRowCount(0);
    grid_->setColumnCount(0);

    if (outputPorts_.empty()) {
        grid_->setRowCount(1);
        grid_->setColumnCount(1);
        grid_->setHorizontalHeaderLabels({"Track"});
        grid_->setItem(0, 0, new QTableWidgetItem("No outputs available. Please configure your audio interface."));
        grid_->setUpdatesEnabled(true);
        return;
    }

    const int ports = static_cast<int>(outputPorts_.size());
    grid_->setColumnCount(ports + 1);
    QStringList headers{"Track Name"};
    for (const std::string& port : outputPorts_) {
        const std::string shown = getOutputLabel(port);
        headers << PortLabels::columnHeaderText(shown.empty() ? port : shown);
    }
    grid_->setHorizontalHeaderLabels(headers);
    grid_->horizontalHeader()->setMinimumHeight(120);
    grid_->setColumnWidth(0, 150);
    for (int column = 1; column <= ports; ++column)
        grid_->setColumnWidth(column, 30);

    const int n = std::max(trackCount_, 0);
    grid_->setRowCount(n + 4);
    auto fillBusRow = [&](int row, const BusRow& bus, const std::string& list, std::vector<QTableWidgetItem*>& cells) {
        grid_->setVerticalHeaderItem(row, headerItem(bus.header, bus.foreground, bus.background));
        grid_->setItem(row, 0, headerItem(bus.text, bus.foreground, bus.background));
        for (int j = 0; j < ports; ++j) {
            const std::string& port = outputPorts_[static_cast<size_t>(j)];
            auto* cell = portCell(QString(bus.tooltip).arg(QString::fromStdString(port)), bus.background,
                                  bus.foreground, isOutputInList(port, list));
            cell->setData(Qt::UserRole, QString::fromStdString(port));
            grid_->setItem(row, j + 1, cell);
            cells.push_back(cell);
        }
    };
    fillBusRow(0, kMixRow, mixOutputPort_, mixCells_);
    fillBusRow(1, kComsRow, comsOutputPort_, comsCells_);
    fillBusRow(2, kMonitorRow, monitorOutputPort_, monitorCells_);
    for (int k = 0; k < n; ++k) {
        const int row = k + 3;
        const size_t index = static_cast<size_t>(k);
        grid_->setVerticalHeaderItem(row, headerItem(QString("Track %1").arg(k + 1), kTrackForeground, kTrackBackground));
        auto* edit = new QLineEdit(index < trackNames_.size() ? QString::fromStdString(trackNames_[index])
                                                              : QString("Track %1").arg(k + 1));
        // Names are edited in the input matrix; nothing here would carry them.
        edit->setReadOnly(true);
        grid_->setCellWidget(row, 0, edit);
        trackNameEdits_.push_back(edit);
        std::vector<QTableWidgetItem*> cells;
        for (int j = 0; j < ports; ++j) {
            const std::string& port = outputPorts_[static_cast<size_t>(j)];
            bool checked = false;
            if (index < routingMatrix_.size())
                for (const std::string& routed : routingMatrix_[index])
                    checked = checked || routed == port;
            auto* cell = portCell(QString("Route Track %1 to %2").arg(k + 1).arg(QString::fromStdString(port)),
                                  kTrackBackground, nullptr, checked);
            cell->setData(Qt::UserRole, QString::fromStdString(port));
            grid_->setItem(row, j + 1, cell);
            cells.push_back(cell);
        }
        trackCells_.push_back(std::move(cells));
    }
    fillBusRow(n + 3, kLtcGenRow, ltcGenOutputPort_, ltcGenCells_);

    connect(grid_, &QTableWidget::itemChanged, this, &OutputMatrixDialog::onItemChanged, Qt::UniqueConnection);
    grid_->setUpdatesEnabled(true);
    updateLtcLevelVisibility();
}

bool OutputMatrixDialog::ltcGeneratorChecked() const
{
    for (const QTableWidgetItem* cell : ltcGenCells_)
        if (cell->checkState() == Qt::Checked)
            return true;
    return false;
}

void OutputMatrixDialog::updateLtcLevelVisibility()
{
    if (levelGroup_ == nullptr)
        return;
    levelGroup_->setVisible(generator_ != nullptr && ltcGeneratorChecked());
}

// --- Changes ----------------------------------------------------------------

void OutputMatrixDialog::onItemChanged(QTableWidgetItem* item)
{
    if (item == nullptr || item->column() == 0)
        return;
    updateLtcLevelVisibility();
    emit configurationChanged();
}

void OutputMatrixDialog::onLtcLevelChanged(int index)
{
    if (generator_ == nullptr || levelChooser_ == nullptr)
        return;
    generator_->setOutputLevel(levelChooser_->itemData(index).toDouble());
    ConfigManager::getInstance()->setInt(LtcKeys::kGeneratorLevel, index);
    ConfigManager::getInstance()->saveConfig("");
    emit configurationChanged();
}

void OutputMatrixDialog::emitRoutingApplied()
{
    emit routingApplied(getRoutingMatrix(), getRoutingStates(), getMixOutputPort(), getComsOutputPort(),
                        getMonitorOutputPort(), getLtcGenOutputPort());
}

void OutputMatrixDialog::accept()
{
    emitRoutingApplied();
    QDialog::accept();
}

void OutputMatrixDialog::onApplyClicked()
{
    ConfigManager::getInstance()->saveConfig("");
    emitRoutingApplied();
}

void OutputMatrixDialog::renameOutput(int portIndex)
{
    if (portIndex < 0 || portIndex >= static_cast<int>(outputPorts_.size()))
        return;
    if (!PortLabels::promptAndStoreAlias(this, PortLabels::Side::Output, outputPorts_[static_cast<size_t>(portIndex)]))
        return;
    rebuildOutputMatrix();
    emit configurationChanged();
}

bool OutputMatrixDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* label = qobject_cast<QLabel*>(watched);
        const QVariant index = label != nullptr ? label->property("outputIndex") : QVariant();
        bool ok = false;
        const int portIndex = index.toInt(&ok);
        if (index.isValid() && ok && portIndex >= 0 && portIndex < static_cast<int>(outputPorts_.size())) {
            renameOutput(portIndex);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

#include "ui/tools/RepairDialog.h"

#include "core/DebugLog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

const char* const kTitle = "Recover Incomplete Recordings";
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

QString durationText(double seconds)
{
    const int whole = static_cast<int>(seconds);
    return QString("%1:%2:%3")
        .arg(whole / 3600, 2, 10, QChar('0'))
        .arg(whole / 60 % 60, 2, 10, QChar('0'))
        .arg(whole % 60, 2, 10, QChar('0'));
}

QString sizeText(int64_t bytes)
{
    if (bytes < 0)
        return "?";
    return QString::number(static_cast<double>(bytes) / kBytesPerMegabyte, 'f', 1) + " MB";
}

} // namespace

RepairDialog::RepairDialog(const std::vector<RF64Repairer::CorruptedFile>& files, QWidget* parent)
    : QDialog(parent)
    , files_(files)
{
    setWindowTitle(kTitle);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("These recordings were not closed properly (for example after a crash or a "
                                 "power loss). Repair makes every complete sample on disk readable again.",
                                 this));

    table_ = new QTableWidget(static_cast<int>(files_.size()), ColumnCount, this);
    table_->setHorizontalHeaderLabels({"Name", "Size", "Duration", "Channels", "Sample Rate", "Status"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::MultiSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < static_cast<int>(files_.size()); ++row) {
        fillRow(row, files_[static_cast<size_t>(row)]);
        if (files_[static_cast<size_t>(row)].canRepair)
            table_->selectRow(row);
    }
    layout->addWidget(table_);

    results_ = new QPlainTextEdit(this);
    results_->setReadOnly(true);
    results_->setMaximumBlockCount(1000);
    layout->addWidget(results_);

    auto* buttons = new QHBoxLayout;
    auto* repairButton = new QPushButton("Repair Selected", this);
    auto* deleteButton = new QPushButton("Delete Selected", this);
    auto* skipButton = new QPushButton("Skip", this);
    buttons->addWidget(repairButton);
    buttons->addWidget(deleteButton);
    buttons->addStretch();
    buttons->addWidget(skipButton);
    layout->addLayout(buttons);
    connect(repairButton, &QPushButton::clicked, this, &RepairDialog::repairSelected);
    connect(deleteButton, &QPushButton::clicked, this, &RepairDialog::deleteSelected);
    connect(skipButton, &QPushButton::clicked, this, &QDialog::reject);
    resize(760, 420);
}

void RepairDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    debugLog("RepairDialog: listing " + std::to_string(files_.size()) + " recording(s)");
}

int RepairDialog::rowCount() const
{
    return table_->rowCount();
}

QString RepairDialog::resultText() const
{
    return results_->toPlainText();
}

void RepairDialog::fillRow(int row, const RF64Repairer::CorruptedFile& file)
{
    const QString values[ColumnCount] = {
        QString::fromStdString(file.fileName),
        sizeText(file.fileSize),
        durationText(file.durationSeconds),
        QString::number(file.channels),
        QString::number(file.sampleRate) + " Hz",
        file.canRepair ? QString("Can be repaired") : "Cannot repair: " + QString::fromStdString(file.error),
    };
    for (int column = 0; column < ColumnCount; ++column)
        table_->setItem(row, column, new QTableWidgetItem(values[column]));
    table_->item(row, ColumnName)->setToolTip(QString::fromStdString(file.path));
}

std::vector<int> RepairDialog::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void RepairDialog::report(const QString& line)
{
    results_->appendPlainText(line);
    debugLog("RepairDialog: " + line.toStdString());
}

void RepairDialog::repairSelected()
{
    RF64Repairer repairer;
    for (const int row : selectedRows()) {
        const RF64Repairer::CorruptedFile& file = files_[static_cast<size_t>(row)];
        const QString name = QString::fromStdString(file.fileName);
        if (repairer.repairFile(file.path)) {
            report("Successfully repaired: " + name);
            table_->item(row, ColumnStatus)->setText("Repaired");
        } else {
            report("Failed to repair: " + name + " (" + QString::fromStdString(repairer.getLastError()) + ")");
            table_->item(row, ColumnStatus)->setText("Failed: " + QString::fromStdString(repairer.getLastError()));
        }
    }
    table_->clearSelection();
}

bool RepairDialog::askDeleteConfirmation(int fileCount)
{
    if (confirmDelete_)
        return confirmDelete_(fileCount);
    return QMessageBox::question(this, "Delete Recordings",
                                 QString("Delete %1 selected recording(s) from disk?\n\nThis cannot be undone.")
                                     .arg(fileCount),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void RepairDialog::deleteSelected()
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty() || !askDeleteConfirmation(static_cast<int>(rows.size())))
        return;
    // From the last row up, so the earlier row numbers stay valid.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        const RF64Repairer::CorruptedFile& file = files_[static_cast<size_t>(*row)];
        std::error_code error;
        if (std::filesystem::remove(file.path, error)) {
            report("Deleted: " + QString::fromStdString(file.fileName));
            table_->removeRow(*row);
            files_.erase(files_.begin() + *row);
        } else {
            report("Failed to delete: " + QString::fromStdString(file.fileName) + " (" +
                   QString::fromStdString(error ? error.message() : "file not found") + ")");
        }
    }
}

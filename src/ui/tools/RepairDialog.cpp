#include "ui/tools/RepairDialog.h"

#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "ui/common/BackgroundWork.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {

QString listStyle()
{
    using namespace Theme;
    return QString("QListWidget { background-color: %1; border: 2px solid %2; border-radius: 4px; padding: 5px;"
                   " color: %3; font-family: monospace; }"
                   "QListWidget::item { padding: 8px; border-bottom: 1px solid %4; }"
                   "QListWidget::item:selected { background-color: %5; color: white; }"
                   "QListWidget::item:hover { background-color: %6; }")
        .arg(kBgSurface, kBorder, kRepairText, kBorderRow, kRepairAction, kBgControl);
}

QString progressStyle()
{
    return QString("QProgressBar { border: 2px solid %1; border-radius: 3px; text-align: center; background-color: %2;"
                   " color: white; }"
                   "QProgressBar::chunk { background-color: %3; }")
        .arg(Theme::kBorder, Theme::kBgSurface, Theme::kRepairAction);
}

// A button of the dialog's row: `padding` and `weight` are its own, the
// colours and corners every one of them shares.
QString buttonStyle(const char* padding, const char* background, bool bold)
{
    return QString("padding: %1; background-color: %2; color: white; %3border-radius: 3px;")
        .arg(padding, background, bold ? "font-weight: bold; " : "");
}

QPushButton* styledButton(const QString& text, const QString& style)
{
    auto* button = new QPushButton(text);
    button->setStyleSheet(style);
    return button;
}

// Worker thread: one file at a time, logged as before, so a cancel stops
// between files and never leaves one half-treated.
bool repairOne(const RF64Repairer::CorruptedFile& file)
{
    RF64Repairer repairer;
    debugLog("Attempting to repair: " + file.path);
    if (repairer.repairFile(file.path)) {
        debugLog("Successfully repaired: " + file.path);
        return true;
    }
    debugLog("Failed to repair: " + file.path + " - " + repairer.getLastError());
    return false;
}

bool deleteOne(const RF64Repairer::CorruptedFile& file)
{
    debugLog("Attempting to delete: " + file.path);
    try {
        if (std::filesystem::remove(file.path)) {
            debugLog("Successfully deleted: " + file.path);
            return true;
        }
        debugLog("Failed to delete: " + file.path + " - file not found");
    } catch (const std::filesystem::filesystem_error& error) {
        debugLog("Failed to delete: " + file.path + " - " + error.what());
    }
    return false;
}

} // namespace

RepairDialog::RepairDialog(const std::vector<RF64Repairer::CorruptedFile>& files, QWidget* parent)
    : QDialog(parent), files_(files)
{
    setWindowTitle("Recover Incomplete Recordings");
    setMinimumSize(700, 500);
    // The texts are light on dark; at start-up no window has set the dark look yet.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor(Theme::kBgWindow));
    dark.setColor(QPalette::WindowText, QColor(Theme::kRepairText));
    setPalette(dark);
    setAutoFillBackground(true);
    setupUI();
    populateList();
    connect(&work_, &QFutureWatcherBase::progressValueChanged, progress_, &QProgressBar::setValue);
    connect(&work_, &QFutureWatcherBase::progressTextChanged, status_, &QLabel::setText);
}

RepairDialog::~RepairDialog()
{
    // The run reads nothing of the dialog, but it must not outlive it.
    cancelAndWait(work_);
}

void RepairDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(15);
    layout->setContentsMargins(20, 20, 20, 20);

    auto* title = new QLabel(QString::fromUtf8("⚠️ Incomplete Recordings Detected"));
    title->setStyleSheet(QString("font-size: 16px; font-weight: bold; color: %1;").arg(Theme::kRepairTitle));
    layout->addWidget(title);
    auto* intro = new QLabel("Tonvale found recordings that were not properly closed (possibly due to a crash).\n"
                             "The audio data is intact and can be recovered. Select which files to repair:");
    intro->setWordWrap(true);
    intro->setStyleSheet(QString("color: %1; padding: 5px 0px;").arg(Theme::kTextLabel));
    layout->addWidget(intro);

    list_ = new QListWidget;
    list_->setSelectionMode(QAbstractItemView::MultiSelection);
    list_->setStyleSheet(listStyle());
    layout->addWidget(list_);

    progress_ = new QProgressBar;
    progress_->setStyleSheet(progressStyle());
    progress_->hide();
    layout->addWidget(progress_);
    status_ = new QLabel;
    status_->setStyleSheet(QString("color: %1; font-style: italic;").arg(Theme::kTextSecondary));
    status_->hide();
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    selectAllButton_ = styledButton("Select All", buttonStyle("8px 15px", Theme::kRepairButton, false));
    deleteButton_ = styledButton("Delete Selected", buttonStyle("8px 20px", Theme::kRepairDelete, false));
    skipButton_ = styledButton("Skip", buttonStyle("8px 20px", Theme::kRepairButton, false));
    cancelButton_ = styledButton("Cancel", buttonStyle("8px 20px", Theme::kRepairButton, false));
    cancelButton_->hide();
    repairButton_ = styledButton("Repair Selected", buttonStyle("8px 20px", Theme::kRepairAction, true));
    repairButton_->setDefault(true);
    buttons->addWidget(selectAllButton_);
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(deleteButton_);
    buttons->addWidget(skipButton_);
    buttons->addWidget(repairButton_);
    layout->addLayout(buttons);

    connect(selectAllButton_, &QPushButton::clicked, list_, &QListWidget::selectAll);
    connect(cancelButton_, &QPushButton::clicked, &work_, &QFutureWatcherBase::cancel);
    connect(repairButton_, &QPushButton::clicked, this, &RepairDialog::onRepairClicked);
    connect(deleteButton_, &QPushButton::clicked, this, &RepairDialog::onDeleteClicked);
    connect(skipButton_, &QPushButton::clicked, this, &RepairDialog::onSkipClicked);
}

void RepairDialog::populateList()
{
    list_->clear();
    list_->setEnabled(true);
    list_->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const RF64Repairer::CorruptedFile& file : files_) {
        QString text = QString::fromStdString(file.fileName) + QString::fromUtf8("  —  ") +
                       QString::fromStdString(formatDuration(file.durationSeconds)) + "  (" +
                       QString::number(file.channels) + " ch, " + QString::number(file.sampleRate) + " Hz, " +
                       QString::fromStdString(formatFileSize(file.fileSize)) + ")";
        if (!file.canRepair)
            text += "  [Cannot repair: " + QString::fromStdString(file.error) + "]";
        auto* item = new QListWidgetItem(text);
        item->setToolTip(text);  // a long reason runs past the list's width
        if (!file.canRepair)
            item->setForeground(QColor(Theme::kTextMuted));
        list_->addItem(item);
        item->setSelected(file.canRepair);
    }
}

void RepairDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    debugLog("RepairDialog: listing " + std::to_string(files_.size()) + " recording(s)");
}

std::vector<int> RepairDialog::selectedRows() const
{
    std::vector<int> rows;
    for (int row = 0; row < list_->count(); ++row)
        if (list_->item(row)->isSelected())
            rows.push_back(row);
    return rows;
}

std::vector<RF64Repairer::CorruptedFile> RepairDialog::getSelectedFiles() const
{
    std::vector<RF64Repairer::CorruptedFile> selected;
    for (const int row : selectedRows())
        if (static_cast<size_t>(row) < files_.size() && files_[static_cast<size_t>(row)].canRepair)
            selected.push_back(files_[static_cast<size_t>(row)]);
    return selected;
}

std::vector<RF64Repairer::CorruptedFile> RepairDialog::getAllSelectedFiles() const
{
    std::vector<RF64Repairer::CorruptedFile> selected;
    for (const int row : selectedRows())
        if (static_cast<size_t>(row) < files_.size())
            selected.push_back(files_[static_cast<size_t>(row)]);
    return selected;
}

std::string RepairDialog::formatDuration(double seconds) const
{
    const long long whole = static_cast<long long>(seconds);
    const long long hours = whole / 3600;
    const long long minutes = whole % 3600 / 60;
    const long long rest = whole % 60;
    if (hours >= 1)
        return std::to_string(hours) + "h " + std::to_string(minutes) + "m " + std::to_string(rest) + "s";
    if (minutes >= 1)
        return std::to_string(minutes) + "m " + std::to_string(rest) + "s";
    return std::to_string(rest) + "s";
}

std::string RepairDialog::formatFileSize(long long bytes) const
{
    static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    return fixedText(value, 1) + " " + kUnits[unit];
}

void RepairDialog::showProgress(int maximum)
{
    progress_->setMaximum(maximum);
    progress_->setValue(0);
    progress_->show();
    status_->show();
}

void RepairDialog::setWorking(bool working)
{
    for (QWidget* control : {static_cast<QWidget*>(list_), static_cast<QWidget*>(selectAllButton_),
                             static_cast<QWidget*>(repairButton_), static_cast<QWidget*>(deleteButton_),
                             static_cast<QWidget*>(skipButton_)})
        control->setEnabled(!working);
    cancelButton_->setVisible(working);
    if (!working) {
        progress_->hide();
        status_->hide();
    }
}

bool RepairDialog::treatFiles(const std::vector<RF64Repairer::CorruptedFile>& files, Treatment treatment,
                              Tally& tally)
{
    const char* const verb = treatment == Treatment::Repair ? "Repairing: %1" : "Deleting: %1";
    setWorking(true);
    showProgress(static_cast<int>(files.size()));
    status_->setText(QString(verb).arg(QString::fromStdString(files.front().fileName)));
    auto outcome = std::make_shared<Tally>();
    startBackgroundWork(work_, [files, treatment, verb, outcome](QPromise<void>& promise) {
        for (size_t i = 0; i < files.size() && !promise.isCanceled(); ++i) {
            promise.setProgressValueAndText(static_cast<int>(i),
                                            QString(verb).arg(QString::fromStdString(files[i].fileName)));
            const bool done = treatment == Treatment::Repair ? repairOne(files[i]) : deleteOne(files[i]);
            if (done)
                outcome->donePaths.push_back(files[i].path);
            else
                ++outcome->failures;
        }
        promise.setProgressValue(static_cast<int>(files.size()));
    });
    if (!waitForWork(work_))
        return false;
    // The future's end orders the worker's writes before this read.
    tally = *outcome;
    setWorking(false);
    return true;
}

void RepairDialog::removeRowsOf(const std::vector<std::string>& paths)
{
    std::vector<size_t> removedRows;
    for (const std::string& path : paths) {
        const auto match = std::find_if(files_.begin(), files_.end(),
                                        [&](const auto& record) { return record.path == path; });
        if (match != files_.end())
            removedRows.push_back(static_cast<size_t>(match - files_.begin()));
    }
    std::sort(removedRows.begin(), removedRows.end());
    removedRows.erase(std::unique(removedRows.begin(), removedRows.end()), removedRows.end());
    for (auto row = removedRows.rbegin(); row != removedRows.rend(); ++row) {
        delete list_->takeItem(static_cast<int>(*row));
        files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(*row));
    }
}

void RepairDialog::onRepairClicked()
{
    if (work_.isRunning())
        return;
    const std::vector<RF64Repairer::CorruptedFile> files = getSelectedFiles();
    if (files.empty()) {
        QMessageBox::warning(this, "No Files Selected", "Please select at least one file to repair.", QMessageBox::Ok);
        return;
    }
    Tally tally;
    if (!treatFiles(files, Treatment::Repair, tally))
        return;
    repairedPaths_.insert(repairedPaths_.end(), tally.donePaths.begin(), tally.donePaths.end());
    const bool cancelled = work_.isCanceled();

    QString summary = QString::fromUtf8("Repair complete:\n\n✓ Successfully repaired: %1 file(s)\n")
                          .arg(tally.donePaths.size());
    if (tally.failures > 0)
        summary += QString::fromUtf8("✗ Failed to repair: %1 file(s)").arg(tally.failures);
    showStyledMessageBox(this, "Repair Complete", summary, QMessageBox::Ok);
    if (!cancelled) {
        accept();
        return;
    }
    // Stopped part-way: the repaired rows go, the rest stay on offer.
    removeRowsOf(tally.donePaths);
    if (files_.empty())
        accept();
}

void RepairDialog::onDeleteClicked()
{
    if (work_.isRunning())
        return;
    const std::vector<RF64Repairer::CorruptedFile> files = getAllSelectedFiles();
    if (files.empty()) {
        QMessageBox::warning(this, "No Files Selected", "Please select at least one file to delete.", QMessageBox::Ok);
        return;
    }
    const QString question =
        QString::fromUtf8("Are you sure you want to permanently delete %1 file(s)?\n\n"
                          "⚠️ This action cannot be undone. The audio data will be lost forever.")
            .arg(files.size());
    if (QMessageBox::warning(this, "Confirm Deletion", question, QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::No) != QMessageBox::Yes)
        return;

    Tally tally;
    if (!treatFiles(files, Treatment::Delete, tally))
        return;
    removeRowsOf(tally.donePaths);

    QString summary = QString::fromUtf8("Deletion complete:\n\n✓ Successfully deleted: %1 file(s)\n")
                          .arg(tally.donePaths.size());
    if (tally.failures > 0)
        summary += QString::fromUtf8("✗ Failed to delete: %1 file(s)").arg(tally.failures);
    QMessageBox::information(this, "Deletion Complete", summary, QMessageBox::Ok);
    if (files_.empty())
        accept();
}

void RepairDialog::onSkipClicked()
{
    reject();
}

void RepairDialog::reject()
{
    if (work_.isRunning()) {
        work_.cancel();
        return;
    }
    QDialog::reject();
}

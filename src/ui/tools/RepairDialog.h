#pragma once

#include "media/RF64Repairer.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// Offers recordings that were never closed: repair the selected ones,
// delete them after a confirmation, or skip. GUI thread only.
class RepairDialog : public QDialog {
    Q_OBJECT

public:
    explicit RepairDialog(const std::vector<RF64Repairer::CorruptedFile>& files, QWidget* parent = nullptr);

    // Asks before deleting; a test may answer instead of a message box.
    void setDeleteConfirmation(std::function<bool(int fileCount)> confirm) { confirmDelete_ = std::move(confirm); }

    int rowCount() const;
    QString resultText() const;

public slots:
    void repairSelected();
    void deleteSelected();

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum Column { ColumnName, ColumnSize, ColumnDuration, ColumnChannels, ColumnSampleRate, ColumnStatus, ColumnCount };

    void fillRow(int row, const RF64Repairer::CorruptedFile& file);
    std::vector<int> selectedRows() const;
    void report(const QString& line);
    bool askDeleteConfirmation(int fileCount);

    std::vector<RF64Repairer::CorruptedFile> files_;
    QTableWidget* table_ = nullptr;
    QPlainTextEdit* results_ = nullptr;
    std::function<bool(int)> confirmDelete_;
};

#pragma once

#include "media/RF64Repairer.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// Offers the recordings a crash left unclosed: repairs the selected ones in
// place, deletes them after a confirmation, or skips. Row i always shows
// record i; both are removed together. GUI thread only; between files the
// handlers let pending events run so the progress repaints, with the controls
// disabled so no second run starts meanwhile.
class RepairDialog : public QDialog {
    Q_OBJECT

public:
    explicit RepairDialog(const std::vector<RF64Repairer::CorruptedFile>& files, QWidget* parent = nullptr);

    // The selected rows' records that can be repaired, in row order.
    std::vector<RF64Repairer::CorruptedFile> getSelectedFiles() const;
    // The selected rows' records, in row order.
    std::vector<RF64Repairer::CorruptedFile> getAllSelectedFiles() const;

    std::string formatDuration(double seconds) const;
    std::string formatFileSize(long long bytes) const;

private slots:
    void onRepairClicked();
    void onDeleteClicked();
    void onSkipClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setupUI();
    void populateList();
    std::vector<int> selectedRows() const;
    void showProgress(int maximum);

    std::vector<RF64Repairer::CorruptedFile> files_;
    QListWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* repairButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
};

#pragma once

#include "media/RF64Repairer.h"

#include <QDialog>
#include <QFutureWatcher>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// Offers the recordings a crash left unclosed: repairs the selected ones in
// place, deletes them after a confirmation, or skips. Row i always shows
// record i; both are removed together.
//
// Threads: the dialog lives on the GUI thread. Repair and delete run file by
// file on the shared background pool, on a copy of the selected records;
// progress and the file being treated come back by the watcher's signals,
// and the handler waits in a local event loop so the window keeps recording,
// stopping and metering. Meanwhile the controls are disabled (no second run)
// and Cancel (or closing) stops the run after the file under way; the
// destructor cancels and waits for the worker.
class RepairDialog : public QDialog {
    Q_OBJECT

public:
    explicit RepairDialog(const std::vector<RF64Repairer::CorruptedFile>& files, QWidget* parent = nullptr);
    ~RepairDialog() override;

    // The selected rows' records that can be repaired, in row order.
    std::vector<RF64Repairer::CorruptedFile> getSelectedFiles() const;
    // The selected rows' records, in row order.
    std::vector<RF64Repairer::CorruptedFile> getAllSelectedFiles() const;

    // Every file a repair run of this dialog mended, in the order mended.
    const std::vector<std::string>& repairedPaths() const { return repairedPaths_; }

    std::string formatDuration(double seconds) const;
    std::string formatFileSize(long long bytes) const;

private slots:
    void onRepairClicked();
    void onDeleteClicked();
    void onSkipClicked();

public slots:
    // While a repair or delete runs, closing cancels it instead.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setupUI();
    void populateList();
    std::vector<int> selectedRows() const;
    void showProgress(int maximum);

    // What a run did: the files it treated successfully, and the failures.
    struct Tally {
        std::vector<std::string> donePaths;
        int failures = 0;
    };
    enum class Treatment { Repair, Delete };
    // Treats `files` off the GUI thread and waits for the end in the event
    // loop. False when the dialog was closed or the application quit
    // meanwhile: nothing more of the dialog may be touched.
    bool treatFiles(const std::vector<RF64Repairer::CorruptedFile>& files, Treatment treatment, Tally& tally);
    void setWorking(bool working);
    void removeRowsOf(const std::vector<std::string>& paths);

    std::vector<RF64Repairer::CorruptedFile> files_;
    std::vector<std::string> repairedPaths_;
    QListWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* repairButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
    QPushButton* selectAllButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QFutureWatcher<void> work_;
};

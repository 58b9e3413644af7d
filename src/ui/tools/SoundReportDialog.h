#pragma once

#include "ui/tools/SoundReportFormats.h"
#include "ui/tools/SoundReportTakes.h"
#include "ui/tools/SoundReportWriters.h"

#include <QDialog>
#include <QFutureWatcher>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The sound report window: pick a sound-roll folder, look through its
// takes, enter the production information, and write the report as PDF,
// CSV or ALE. Modal, GUI thread only; the folder is scanned on the shared
// background pool (ui/common/BackgroundWork.h) with a progress dialog and
// Cancel, and the list changes when the scan has finished.
class SoundReportDialog : public QDialog {
    Q_OBJECT

public:
    using TakeInfo = SoundReportTake;

    // The file and message dialogs it opens; a test answers them instead.
    struct Prompts {
        std::function<QString(QWidget* parent, const QString& caption, const QString& startFolder)> chooseFolder;
        std::function<QString(QWidget* parent, const QString& caption, const QString& proposedPath,
                              const QString& filter)>
            chooseSaveFile;
        std::function<QString(QWidget* parent, const QString& caption, const QString& startPath, const QString& filter)>
            chooseLogo;
        std::function<void(QWidget* parent, const QString& title, const QString& text)> showMessage;
        // Runs the configuration dialog; returns its QDialog::DialogCode.
        std::function<int(QDialog& dialog)> runDialog;
    };

    explicit SoundReportDialog(QWidget* parent = nullptr);
    // Cancels a running scan and waits for the file it is reading.
    ~SoundReportDialog() override;

    void setPrompts(const Prompts& prompts);

    // Starts the scan of the folder; the takes and the roll name change when
    // it has finished, a cancelled scan changes nothing. Ignored while a
    // scan runs.
    void scanWavFiles(const QString& folder);
    // From the start of a scan until its takes are listed.
    bool isScanning() const { return scanning_ || fillingRows_; }
    void updateTakeList();

    // Writes the report in `format` to `path`; false with lastReportError().
    bool generateReport(const SoundReportFormat& format, const QString& path);
    // The named writers of the three formats, each `generateReport` with its
    // table entry: false when the file cannot be written (PDF: no takes).
    bool generatePdfReport(const QString& path) { return generateReport(soundReportFormat(0), path); }
    bool generateCsvReport(const QString& path) { return generateReport(soundReportFormat(1), path); }
    bool generateAleReport(const QString& path) { return generateReport(soundReportFormat(2), path); }
    // Why the last report failed.
    const QString& lastReportError() const { return lastReportError_; }

    const std::vector<TakeInfo>& takes() const { return takes_; }
    const QString& folderPath() const { return folderPath_; }
    const QString& rollName() const { return rollName_; }
    const SoundReportProduction& production() const { return production_; }
    int outputFormat() const { return outputFormat_; }
    // The file name the save dialog proposes for the current format.
    QString proposedFileName() const;

public slots:
    void onSelectFolder();
    void onScanFolder();
    void onTakeSelectionChanged();
    void onConfigure();
    void onCreateReport();

private:
    void setupUI();
    void loadProductionInfo();
    void saveProductionInfo();
    // Scans the folder and, once done, shows it and its takes.
    void scanAndShow(const QString& folder);
    void startScan(const QString& folder, bool show);
    // Puts the takes from `first` on into the table, a slice now and the
    // rest on later turns of the event loop.
    void fillTakeRows(int first);
    void showDetails(const TakeInfo* take);
    // The chosen format; PDF for a stored value no format has.
    const SoundReportFormat& chosenFormat() const;
    void showSuccess(const QString& text);

    QString folderPath_;
    QString rollName_;
    std::vector<TakeInfo> takes_;
    SoundReportProduction production_;
    int outputFormat_ = 0;
    QString lastReportError_;
    Prompts prompts_;
    QFutureWatcher<void> scan_;
    bool scanning_ = false;
    bool fillingRows_ = false;

    QLineEdit* folderField_ = nullptr;
    QPushButton* selectFolderButton_ = nullptr;
    QTableWidget* takeTable_ = nullptr;
    std::vector<QLabel*> detailLabels_;
    QPushButton* configureButton_ = nullptr;
    QPushButton* createButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};

#pragma once

#include "media/BwfMetadataReader.h"

#include <QFutureWatcher>
#include <QMainWindow>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTextEdit;
class QVBoxLayout;

// Collects recorded broadcast-wave files, shows their bext and iXML metadata
// and edits it in place, one file or a batch. The window lives on the GUI
// thread; the files are read and written on the shared background pool
// (ui/common/BackgroundWork.h), from copies of the paths and the edits, with a
// progress dialog and Cancel. While that work runs the window's controls are
// disabled and a further add or save is ignored. The audio of a file is never
// touched: the editor only rewrites the bext Description/TimeReference and
// the iXML text.
class MetadataManagerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MetadataManagerWindow(QWidget* parent);
    ~MetadataManagerWindow() override;

    // Reads the files in the background and lists them when done; ignored
    // while other files are being read or written.
    void addFiles(const QStringList& paths);
    // True from the start of a read or save until its results are shown.
    bool isWorking() const { return working_; }

    static QString formatFileSize(uint64_t bytes);
    static QString formatTimecode(uint64_t timeReference, uint32_t rate, double fps);
    static QString formatDuration(double seconds);
    static QString formatFrameRate(double fps);

private slots:
    void onAddFiles();
    void onRemoveFile();
    void onClear();
    void onFileSelectionChanged();
    void onMetadataChanged();
    void onSaveChanges();
    void onTimecodeClicked();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Closing mid-work cancels the work and waits for the file it is on.
    void closeEvent(QCloseEvent* event) override;

    // Seams for tests: the file dialog and the message boxes.
    virtual QStringList chooseFiles(const QString& startFolder);
    virtual void showInformation(const QString& title, const QString& text);
    virtual void showWarning(const QString& title, const QString& text);

private:
    struct LoadOutcome;
    struct SaveOutcome;

    void setupUI();
    // Marks the window busy and shows the work's progress; `showResults`
    // runs on the GUI thread once the work has returned (or was cancelled).
    void beginWork(const QString& title, const QString& label, std::function<void()> showResults);
    void showLoaded(const LoadOutcome& outcome);
    void showSaved(const SaveOutcome& outcome);
    void updateMetadataDisplay();
    void addChosenFiles(const QStringList& paths);
    void fillRow(int row, bool allColumns);
    std::vector<int> selectedRows() const;
    QString getCommonValue(const std::function<QString(const BwfMetadata&)>& accessor) const;
    // Qt::PartiallyChecked when the selected files differ.
    Qt::CheckState getCommonFlag(const std::function<bool(const BwfMetadata&)>& accessor) const;
    void setFlagBox(QCheckBox* box, Qt::CheckState state);

    QWidget* centralWidget_ = nullptr;
    QVBoxLayout* mainLayout_ = nullptr;
    QTableWidget* fileTable_ = nullptr;
    QPushButton* addFilesButton_ = nullptr;
    QPushButton* removeFileButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QHBoxLayout* panelsLayout_ = nullptr;
    QGroupBox* generalGroup_ = nullptr;
    QFormLayout* generalLayout_ = nullptr;
    QLabel* currentFileLabel_ = nullptr;
    QLabel* channelsLabel_ = nullptr;
    QLineEdit* sceneEdit_ = nullptr;
    QLineEdit* takeEdit_ = nullptr;
    QCheckBox* circledCheck_ = nullptr;
    QCheckBox* wildTrackCheck_ = nullptr;
    QLineEdit* projectEdit_ = nullptr;
    QLineEdit* tapeIdEdit_ = nullptr;
    QTextEdit* notesEdit_ = nullptr;
    QGroupBox* recordingGroup_ = nullptr;
    QFormLayout* recordingLayout_ = nullptr;
    QLabel* sampleRateLabel_ = nullptr;
    QLabel* tcSampleRateLabel_ = nullptr;
    QLabel* frameRateLabel_ = nullptr;
    QPushButton* timecodeButton_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    QLabel* samplesSinceMidnightLabel_ = nullptr;
    QLabel* userBitsLabel_ = nullptr;
    QLabel* bitDepthLabel_ = nullptr;
    uint64_t pendingTimeReference_ = 0;
    QGroupBox* trackGroup_ = nullptr;
    QVBoxLayout* trackLayout_ = nullptr;
    QTableWidget* trackTable_ = nullptr;
    QPushButton* saveButton_ = nullptr;

    std::vector<BwfMetadata> metadataList_;
    std::vector<QString> filePaths_;
    bool hasUnsavedChanges_ = false;
    // The flag states the display showed; a box still showing its mixed
    // state was not touched and leaves each file its own flag.
    bool displaying_ = false;
    // The background read or save; its results come back on the GUI thread.
    QFutureWatcher<void> work_;
    std::function<void()> showResults_;
    QPointer<QProgressDialog> progress_;  // of the running work; deletes itself when it ends
    bool working_ = false;
};

#include "ui/tools/MetadataManagerWindow.h"

#include "core/ConfigManager.h"
#include "core/settings/MetadataKeys.h"
#include "media/BwfMetadataWriter.h"
#include "media/CantarMetadataParser.h"
#include "media/RiffChunkWalker.h"
#include "ui/common/BackgroundWork.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"
#include "ui/tools/TimecodeText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

const QString kDash = QString(QChar(0x2014));

enum Column { kName, kSize, kChannels, kTape, kScene, kTake, kStartTc, kLength, kDate, kCircled, kSampleRate, kFrameRate, kNotes };

uint32_t timecodeRate(const BwfMetadata& m) { return m.timestampSampleRate != 0 ? m.timestampSampleRate : m.sampleRate; }

QString u8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Why a file must not be edited, or empty. A FIFO or device would block or
// misbehave on open; an RF64 take whose ds64 sizes are still zero is being
// recorded (or was cut off) and belongs to the recorder or the repair tool.
QString refusalReason(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0) return QStringLiteral("The file does not exist.");
    if (!S_ISREG(st.st_mode)) return QStringLiteral("Not a regular file.");
    std::FILE* file = std::fopen(native.constData(), "rbe");
    if (file == nullptr) return {};
    RiffChunkWalker walker(file, static_cast<int64_t>(st.st_size));
    const BwfMetadataReader::WaveForm form = BwfMetadataReader::readWaveForm(walker);
    std::fclose(file);
    if (form.isRF64 && (!form.hasDs64 || form.ds64DataSize == 0))
        return QStringLiteral("The take is still being recorded (its sizes are not written yet).");
    return {};
}

}  // namespace

MetadataManagerWindow::MetadataManagerWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Metadata Manager - BWF Editor"));
    setAcceptDrops(true);
    setupUI();
    fitToScreen(*this, QSize(1200, 800));
    connect(&work_, &QFutureWatcherBase::finished, this, [this] {
        centralWidget_->setEnabled(true);
        // The finished progress box goes before any result box opens, not
        // after the person has answered it.
        if (progress_ != nullptr)
            progress_->hide();
        const std::function<void()> show = std::move(showResults_);
        showResults_ = nullptr;
        if (show) show();
        working_ = false;
    });
}

MetadataManagerWindow::~MetadataManagerWindow() {
    // The work stops at its next file and is waited for: no thread outlives the window.
    cancelAndWait(work_);
}

void MetadataManagerWindow::closeEvent(QCloseEvent* event) {
    if (work_.isRunning()) cancelAndWait(work_);
    QMainWindow::closeEvent(event);
}

void MetadataManagerWindow::beginWork(const QString& title, const QString& label,
                                      std::function<void()> showResults) {
    working_ = true;
    showResults_ = std::move(showResults);
    // No edit, removal or second start while files are read or written; the
    // rows the work refers to stay where they are.
    centralWidget_->setEnabled(false);
    progress_ = showWorkProgress(work_, this, title, label, true);
}

void MetadataManagerWindow::setupUI() {
    centralWidget_ = new QWidget(this);
    setCentralWidget(centralWidget_);
    mainLayout_ = new QVBoxLayout(centralWidget_);

    auto* filesGroup = new QGroupBox(QStringLiteral("Files"), centralWidget_);
    auto* filesLayout = new QVBoxLayout(filesGroup);
    fileTable_ = new QTableWidget(0, 13, filesGroup);
    fileTable_->setHorizontalHeaderLabels({"File Name", "File Size", "Channels", "TAPEID", "SCENE", "TAKE", "START TC",
                                           "LENGTH", "DATE", "CIRCLED", "SAMPLE RATE", "FRAME RATE", "Notes"});
    fileTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileTable_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileTable_->setDragDropMode(QAbstractItemView::DropOnly);
    fileTable_->verticalHeader()->setVisible(false);
    fileTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileTable_->horizontalHeader()->setStretchLastSection(true);
    fileTable_->setShowGrid(false);
    fileTable_->setAlternatingRowColors(true);
    filesLayout->addWidget(fileTable_);
    auto* buttons = new QHBoxLayout;
    addFilesButton_ = new QPushButton(QStringLiteral("Add Files..."), filesGroup);
    removeFileButton_ = new QPushButton(QStringLiteral("Remove File"), filesGroup);
    removeFileButton_->setEnabled(false);
    clearButton_ = new QPushButton(QStringLiteral("Clear"), filesGroup);
    buttons->addWidget(addFilesButton_);
    buttons->addWidget(removeFileButton_);
    buttons->addWidget(clearButton_);
    buttons->addStretch();
    filesLayout->addLayout(buttons);
    mainLayout_->addWidget(filesGroup, 1);

    panelsLayout_ = new QHBoxLayout;
    generalGroup_ = new QGroupBox(QStringLiteral("GENERAL"), centralWidget_);
    generalLayout_ = new QFormLayout(generalGroup_);
    currentFileLabel_ = new QLabel(kDash, generalGroup_);
    channelsLabel_ = new QLabel(kDash, generalGroup_);
    sceneEdit_ = new QLineEdit(generalGroup_);
    takeEdit_ = new QLineEdit(generalGroup_);
    circledCheck_ = new QCheckBox(generalGroup_);
    wildTrackCheck_ = new QCheckBox(generalGroup_);
    projectEdit_ = new QLineEdit(generalGroup_);
    tapeIdEdit_ = new QLineEdit(generalGroup_);
    notesEdit_ = new QTextEdit(generalGroup_);
    notesEdit_->setAcceptRichText(false);
    notesEdit_->setMaximumHeight(100);
    generalLayout_->addRow(QStringLiteral("Current File:"), currentFileLabel_);
    generalLayout_->addRow(QStringLiteral("Channels:"), channelsLabel_);
    generalLayout_->addRow(QStringLiteral("Scene:"), sceneEdit_);
    generalLayout_->addRow(QStringLiteral("Take:"), takeEdit_);
    generalLayout_->addRow(QStringLiteral("Circled:"), circledCheck_);
    generalLayout_->addRow(QStringLiteral("Wild Track:"), wildTrackCheck_);
    generalLayout_->addRow(QStringLiteral("Project:"), projectEdit_);
    generalLayout_->addRow(QStringLiteral("Tape ID:"), tapeIdEdit_);
    generalLayout_->addRow(QStringLiteral("Notes:"), notesEdit_);

    recordingGroup_ = new QGroupBox(QStringLiteral("RECORDING INFO"), centralWidget_);
    recordingLayout_ = new QFormLayout(recordingGroup_);
    sampleRateLabel_ = new QLabel(kDash, recordingGroup_);
    tcSampleRateLabel_ = new QLabel(kDash, recordingGroup_);
    frameRateLabel_ = new QLabel(kDash, recordingGroup_);
    timecodeButton_ = new QPushButton(kDash, recordingGroup_);
    timecodeButton_->setFlat(true);
    timecodeButton_->setStyleSheet(
        QStringLiteral("QPushButton { text-align: left; padding: 2px; } QPushButton:hover { background-color: %1; }")
            .arg(Theme::kBgControl));
    timecodeButton_->setCursor(Qt::PointingHandCursor);
    lengthLabel_ = new QLabel(kDash, recordingGroup_);
    samplesSinceMidnightLabel_ = new QLabel(kDash, recordingGroup_);
    userBitsLabel_ = new QLabel(kDash, recordingGroup_);
    bitDepthLabel_ = new QLabel(kDash, recordingGroup_);
    // Value labels keep their line height; spare room goes below the form.
    for (QLabel* label : {currentFileLabel_, channelsLabel_, sampleRateLabel_, tcSampleRateLabel_, frameRateLabel_,
                          lengthLabel_, samplesSinceMidnightLabel_, userBitsLabel_, bitDepthLabel_})
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    recordingLayout_->addRow(QStringLiteral("Sample Rate:"), sampleRateLabel_);
    recordingLayout_->addRow(QStringLiteral("TC Sample Rate:"), tcSampleRateLabel_);
    recordingLayout_->addRow(QStringLiteral("Frame Rate:"), frameRateLabel_);
    recordingLayout_->addRow(QStringLiteral("Timecode:"), timecodeButton_);
    recordingLayout_->addRow(QStringLiteral("Length:"), lengthLabel_);
    recordingLayout_->addRow(QStringLiteral("Samples Since Midnight:"), samplesSinceMidnightLabel_);
    recordingLayout_->addRow(QStringLiteral("UserBits:"), userBitsLabel_);
    recordingLayout_->addRow(QStringLiteral("Bit Depth:"), bitDepthLabel_);

    trackGroup_ = new QGroupBox(QStringLiteral("TRACK INFO"), centralWidget_);
    trackLayout_ = new QVBoxLayout(trackGroup_);
    trackTable_ = new QTableWidget(0, 4, trackGroup_);
    trackTable_->setHorizontalHeaderLabels({"Interleave", "Channel", "Track Name", "Function"});
    trackTable_->horizontalHeader()->setStretchLastSection(true);
    trackTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    trackTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    trackTable_->verticalHeader()->setVisible(false);
    trackTable_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
    trackLayout_->addWidget(trackTable_);

    panelsLayout_->addWidget(generalGroup_, 1);
    panelsLayout_->addWidget(recordingGroup_, 1);
    panelsLayout_->addWidget(trackGroup_, 1);
    mainLayout_->addLayout(panelsLayout_, 2);

    saveButton_ = new QPushButton(QStringLiteral("Save Changes to Selected Files"), centralWidget_);
    saveButton_->setEnabled(false);
    mainLayout_->addWidget(saveButton_);

    connect(fileTable_, &QTableWidget::itemSelectionChanged, this, &MetadataManagerWindow::onFileSelectionChanged);
    connect(addFilesButton_, &QPushButton::clicked, this, &MetadataManagerWindow::onAddFiles);
    connect(removeFileButton_, &QPushButton::clicked, this, &MetadataManagerWindow::onRemoveFile);
    connect(clearButton_, &QPushButton::clicked, this, &MetadataManagerWindow::onClear);
    connect(timecodeButton_, &QPushButton::clicked, this, &MetadataManagerWindow::onTimecodeClicked);
    connect(saveButton_, &QPushButton::clicked, this, &MetadataManagerWindow::onSaveChanges);
    for (QLineEdit* edit : {sceneEdit_, takeEdit_, projectEdit_, tapeIdEdit_})
        connect(edit, &QLineEdit::textChanged, this, &MetadataManagerWindow::onMetadataChanged);
    connect(notesEdit_, &QTextEdit::textChanged, this, &MetadataManagerWindow::onMetadataChanged);
    for (QCheckBox* box : {circledCheck_, wildTrackCheck_}) {
        connect(box, &QCheckBox::stateChanged, this, [this, box](int state) {
            // A click on a mixed box decides the flag for every file.
            if (!displaying_ && state != Qt::PartiallyChecked) box->setTristate(false);
            onMetadataChanged();
        });
    }
    connect(trackTable_, &QTableWidget::itemChanged, this, &MetadataManagerWindow::onMetadataChanged);
}

QStringList MetadataManagerWindow::chooseFiles(const QString& startFolder) {
    return QFileDialog::getOpenFileNames(this, QStringLiteral("Select WAV Files"), startFolder,
                                         QStringLiteral("WAV Files (*.wav)"));
}

void MetadataManagerWindow::showInformation(const QString& title, const QString& text) {
    QMessageBox::information(this, title, text, QMessageBox::Ok);
}

void MetadataManagerWindow::showWarning(const QString& title, const QString& text) {
    QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

void MetadataManagerWindow::onAddFiles() {
    ConfigManager* config = ConfigManager::getInstance();
    QString folder = u8(config->getString(MetadataKeys::kManagerLastFolder, ""));
    if (folder.isEmpty()) folder = u8(config->getString(MetadataKeys::kLastFolderPath, ""));
    QString start;
    if (!folder.isEmpty()) {
        QDir dir(folder);
        if (dir.exists() || dir.cdUp()) start = dir.absolutePath();
    }
    addChosenFiles(chooseFiles(start));
}

void MetadataManagerWindow::addChosenFiles(const QStringList& paths) {
    if (paths.isEmpty() || working_) return;
    ConfigManager* config = ConfigManager::getInstance();
    config->setString(MetadataKeys::kManagerLastFolder, QFileInfo(paths.first()).absolutePath().toStdString());
    config->saveConfig("");
    addFiles(paths);
}

void MetadataManagerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MetadataManagerWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() && QFileInfo(path).suffix().toLower() == QLatin1String("wav")) paths << path;
    }
    addChosenFiles(paths);
}

struct MetadataManagerWindow::LoadOutcome {
    std::vector<std::pair<QString, BwfMetadata>> files;
    QStringList skipped;
};

void MetadataManagerWindow::addFiles(const QStringList& paths) {
    if (working_) return;
    QStringList fresh;
    for (const QString& path : paths) {
        if (std::find(filePaths_.begin(), filePaths_.end(), path) == filePaths_.end() && !fresh.contains(path))
            fresh << path;
    }
    if (fresh.isEmpty()) return;
    auto outcome = std::make_shared<LoadOutcome>();
    startBackgroundWork(work_, [fresh, outcome](QPromise<void>& promise) {
        promise.setProgressRange(0, static_cast<int>(fresh.size()));
        int done = 0;
        for (const QString& path : fresh) {
            if (promise.isCanceled()) return;
            promise.setProgressValue(done++);
            const QString refusal = refusalReason(path);
            if (refusal == QLatin1String("The file does not exist.") || refusal == QLatin1String("Not a regular file.")) {
                outcome->skipped << path + QStringLiteral(" (") + refusal + QLatin1Char(')');
                continue;
            }
            try {
                outcome->files.emplace_back(path, BwfMetadataReader::readMetadata(path.toStdString()));
            } catch (const std::exception& error) {
                // The file vanished between the listing and the read.
                outcome->skipped << path + QStringLiteral(" (") + QString::fromLocal8Bit(error.what()) + QLatin1Char(')');
            }
        }
        promise.setProgressValue(done);
    });
    beginWork(QStringLiteral("Add Files"), QStringLiteral("Reading %1 file(s)...").arg(fresh.size()),
              [this, outcome] { showLoaded(*outcome); });
}

void MetadataManagerWindow::showLoaded(const LoadOutcome& outcome) {
    // All rows at once: a row at a time makes the view lay itself out per row.
    int row = fileTable_->rowCount();
    fileTable_->setRowCount(row + static_cast<int>(outcome.files.size()));
    for (const auto& [path, metadata] : outcome.files) {
        metadataList_.push_back(metadata);
        filePaths_.push_back(path);
        fillRow(row++, true);
    }
    fileTable_->resizeColumnsToContents();
    if (!outcome.skipped.isEmpty())
        showWarning(QStringLiteral("Error"), QStringLiteral("Could not add:\n%1").arg(outcome.skipped.join(QLatin1Char('\n'))));
}

void MetadataManagerWindow::fillRow(int row, bool allColumns) {
    const BwfMetadata& m = metadataList_[static_cast<size_t>(row)];
    auto set = [&](int column, const QString& text) {
        if (QTableWidgetItem* item = fileTable_->item(row, column)) item->setText(text);
        else fileTable_->setItem(row, column, new QTableWidgetItem(text));
    };
    const uint32_t rate = timecodeRate(m);
    if (allColumns) {
        set(kName, QFileInfo(filePaths_[static_cast<size_t>(row)]).fileName());
        set(kSize, formatFileSize(m.fileSize));
        set(kChannels, m.channels == 1   ? QStringLiteral("MONO")
                       : m.channels > 1  ? QStringLiteral("POLY (%1)").arg(m.channels)
                                         : QString::number(m.channels));
        set(kLength, formatDuration(m.durationSeconds));
        set(kDate, QFileInfo(filePaths_[static_cast<size_t>(row)]).lastModified().toLocalTime().toString("yyyy-MM-dd"));
        set(kSampleRate, QStringLiteral("%1 Hz").arg(m.sampleRate));
    }
    set(kTape, u8(m.tape));
    set(kScene, u8(m.scene));
    set(kTake, u8(m.take));
    set(kStartTc, m.timeReference != 0 && rate != 0 && m.frameRate > 0 ? formatTimecode(m.timeReference, rate, m.frameRate)
                                                                       : kDash);
    set(kCircled, m.circled ? QStringLiteral("Yes") : QStringLiteral("No"));
    set(kFrameRate, m.frameRate > 0 ? formatFrameRate(m.frameRate) + QStringLiteral(" fps") : kDash);
    set(kNotes, u8(m.note));
}

std::vector<int> MetadataManagerWindow::selectedRows() const {
    std::set<int> rows;
    for (const QTableWidgetItem* item : fileTable_->selectedItems()) rows.insert(item->row());
    return {rows.begin(), rows.end()};
}

void MetadataManagerWindow::onRemoveFile() {
    std::vector<int> rows = selectedRows();
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows) {
        if (row < 0 || static_cast<size_t>(row) >= metadataList_.size() || static_cast<size_t>(row) >= filePaths_.size())
            continue;
        metadataList_.erase(metadataList_.begin() + row);
        filePaths_.erase(filePaths_.begin() + row);
        fileTable_->removeRow(row);
    }
    if (fileTable_->rowCount() == 0) updateMetadataDisplay();
    hasUnsavedChanges_ = false;
}

void MetadataManagerWindow::onClear() {
    fileTable_->setRowCount(0);
    metadataList_.clear();
    filePaths_.clear();
    updateMetadataDisplay();
    hasUnsavedChanges_ = false;
}

void MetadataManagerWindow::onFileSelectionChanged() {
    removeFileButton_->setEnabled(!fileTable_->selectedItems().isEmpty());
    updateMetadataDisplay();
}

QString MetadataManagerWindow::getCommonValue(const std::function<QString(const BwfMetadata&)>& accessor) const {
    bool first = true;
    QString common;
    for (int row : selectedRows()) {
        if (static_cast<size_t>(row) >= metadataList_.size()) continue;
        const QString value = accessor(metadataList_[static_cast<size_t>(row)]);
        if (first) {
            common = value;
            first = false;
        } else if (value != common) {
            return kDash;
        }
    }
    return first ? kDash : common;
}

Qt::CheckState MetadataManagerWindow::getCommonFlag(const std::function<bool(const BwfMetadata&)>& accessor) const {
    int set = 0, total = 0;
    for (int row : selectedRows()) {
        if (static_cast<size_t>(row) >= metadataList_.size()) continue;
        ++total;
        if (accessor(metadataList_[static_cast<size_t>(row)])) ++set;
    }
    if (total == 0 || set == 0) return Qt::Unchecked;
    return set == total ? Qt::Checked : Qt::PartiallyChecked;
}

void MetadataManagerWindow::setFlagBox(QCheckBox* box, Qt::CheckState state) {
    box->setTristate(state == Qt::PartiallyChecked);
    box->setCheckState(state);
}

void MetadataManagerWindow::updateMetadataDisplay() {
    displaying_ = true;
    const std::vector<int> rows = selectedRows();
    pendingTimeReference_ = 0;
    if (rows.empty()) {
        currentFileLabel_->setText(kDash);
        channelsLabel_->setText(kDash);
        for (QLineEdit* edit : {sceneEdit_, takeEdit_, projectEdit_, tapeIdEdit_}) edit->clear();
        notesEdit_->clear();
        setFlagBox(circledCheck_, Qt::Unchecked);
        setFlagBox(wildTrackCheck_, Qt::Unchecked);
        for (QLabel* label : {sampleRateLabel_, tcSampleRateLabel_, frameRateLabel_, lengthLabel_,
                              samplesSinceMidnightLabel_, userBitsLabel_, bitDepthLabel_})
            label->setText(kDash);
        timecodeButton_->setText(kDash);
        trackTable_->setRowCount(0);
        saveButton_->setEnabled(false);
        displaying_ = false;
        return;
    }
    if (rows.size() == 1) {
        const BwfMetadata& m = metadataList_[static_cast<size_t>(rows.front())];
        const uint32_t rate = timecodeRate(m);
        currentFileLabel_->setText(u8(m.fileName));
        channelsLabel_->setText(QString::number(m.channels));
        sceneEdit_->setText(u8(m.scene));
        takeEdit_->setText(u8(m.take));
        takeEdit_->setEnabled(true);
        projectEdit_->setText(u8(m.project));
        tapeIdEdit_->setText(u8(m.tape));
        if (notesEdit_->toPlainText() != u8(m.note)) notesEdit_->setPlainText(u8(m.note));
        setFlagBox(circledCheck_, m.circled ? Qt::Checked : Qt::Unchecked);
        setFlagBox(wildTrackCheck_, m.wildTrack ? Qt::Checked : Qt::Unchecked);
        sampleRateLabel_->setText(QStringLiteral("%1 Hz").arg(m.sampleRate));
        tcSampleRateLabel_->setText(rate != 0 ? QStringLiteral("%1 Hz").arg(rate) : kDash);
        frameRateLabel_->setText(m.frameRate > 0 ? QStringLiteral("%1 fps").arg(formatFrameRate(m.frameRate)) : kDash);
        QString tc;
        if (rate != 0 && m.timeReference != 0 && m.frameRate > 0) tc = formatTimecode(m.timeReference, rate, m.frameRate);
        timecodeButton_->setText(tc.isEmpty() ? kDash : tc);
        lengthLabel_->setText(formatDuration(m.durationSeconds));
        samplesSinceMidnightLabel_->setText(m.timeReference != 0 ? QString::number(m.timeReference) : kDash);
        userBitsLabel_->setText(m.userBits.empty() ? kDash : u8(m.userBits));
        bitDepthLabel_->setText(QStringLiteral("%1 bit").arg(m.bitsPerSample));
        trackTable_->setRowCount(0);
        trackTable_->setRowCount(static_cast<int>(m.tracks.size()));
        for (size_t i = 0; i < m.tracks.size(); ++i) {
            const int row = static_cast<int>(i);
            auto* interleave = new QTableWidgetItem(QString::number(row + 1));
            interleave->setFlags(interleave->flags() & ~Qt::ItemIsEditable);
            auto* channel = new QTableWidgetItem(QString::number(m.tracks[i].channelIndex));
            channel->setFlags(channel->flags() & ~Qt::ItemIsEditable);
            trackTable_->setItem(row, 0, interleave);
            trackTable_->setItem(row, 1, channel);
            trackTable_->setItem(row, 2, new QTableWidgetItem(u8(m.tracks[i].name)));
            trackTable_->setItem(row, 3, new QTableWidgetItem(u8(m.tracks[i].function)));
        }
    } else {
        currentFileLabel_->setText(QStringLiteral("%1 files selected").arg(rows.size()));
        channelsLabel_->setText(getCommonValue([](const BwfMetadata& m) { return QString::number(m.channels); }));
        sceneEdit_->setText(getCommonValue([](const BwfMetadata& m) { return u8(m.scene); }));
        setFlagBox(circledCheck_, getCommonFlag([](const BwfMetadata& m) { return m.circled; }));
        setFlagBox(wildTrackCheck_, getCommonFlag([](const BwfMetadata& m) { return m.wildTrack; }));
        projectEdit_->setText(getCommonValue([](const BwfMetadata& m) { return u8(m.project); }));
        tapeIdEdit_->setText(getCommonValue([](const BwfMetadata& m) { return u8(m.tape); }));
        const QString note = getCommonValue([](const BwfMetadata& m) { return u8(m.note); });
        if (notesEdit_->toPlainText() != note) notesEdit_->setPlainText(note);
        sampleRateLabel_->setText(getCommonValue([](const BwfMetadata& m) { return QStringLiteral("%1 Hz").arg(m.sampleRate); }));
        tcSampleRateLabel_->setText(getCommonValue([](const BwfMetadata& m) {
            return m.timestampSampleRate != 0 ? QStringLiteral("%1 Hz").arg(m.timestampSampleRate) : kDash;
        }));
        frameRateLabel_->setText(getCommonValue([](const BwfMetadata& m) {
            return m.frameRate > 0 ? QStringLiteral("%1 fps").arg(formatFrameRate(m.frameRate)) : kDash;
        }));
        takeEdit_->setEnabled(false);
        takeEdit_->setText(kDash);
        timecodeButton_->setText(kDash);
        for (QLabel* label : {lengthLabel_, samplesSinceMidnightLabel_, userBitsLabel_, bitDepthLabel_}) label->setText(kDash);
        trackTable_->setRowCount(0);
    }
    saveButton_->setEnabled(hasUnsavedChanges_);
    displaying_ = false;
}

void MetadataManagerWindow::onMetadataChanged() {
    hasUnsavedChanges_ = true;
    saveButton_->setEnabled(!fileTable_->selectedItems().isEmpty());
}

void MetadataManagerWindow::onTimecodeClicked() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) {
        showInformation(QStringLiteral("Set New TC Start"), QStringLiteral("Please select a file first."));
        return;
    }
    if (rows.size() > 1) {
        showInformation(QStringLiteral("Set New TC Start"), QStringLiteral("Please select exactly one file to edit timecode."));
        return;
    }
    const BwfMetadata& m = metadataList_[static_cast<size_t>(rows.front())];
    const uint32_t rate = timecodeRate(m);
    const double fps = m.frameRate > 0 ? m.frameRate : 24.0;

    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Set New TC Start"));
    dialog.setFixedSize(280, 120);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Enter timecode (HHMMSSFF):"), &dialog));
    auto* entry = new QLineEdit(&dialog);
    entry->setObjectName(QStringLiteral("timecodeEntry"));
    entry->setPlaceholderText(QStringLiteral("00:00:00:00"));
    entry->setMaxLength(11);
    layout->addWidget(entry);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    const QString current = timecodeButton_->text();
    if (current != kDash && !current.isEmpty()) entry->setText(current);
    connect(entry, &QLineEdit::textChanged, entry, [entry](const QString& old) {
        QString digits;
        for (const QChar c : old)
            if (c.isDigit() && digits.size() < 8) digits += QString::number(c.digitValue());
        QString text;
        for (qsizetype i = 0; i < digits.size(); ++i) {
            if (i > 0 && i % 2 == 0) text += QLatin1Char(':');
            text += digits[i];
        }
        if (text == old) return;
        const int p = entry->cursorPosition();
        const int c1 = static_cast<int>(old.left(p).count(QLatin1Char(':')));
        const int n = static_cast<int>(text.count(QLatin1Char(':'))) - c1 + p;
        const int c2 = static_cast<int>(text.left(std::max(0, n)).count(QLatin1Char(':')));
        entry->blockSignals(true);
        entry->setText(text);
        entry->setCursorPosition(std::min(static_cast<int>(text.size()), p - c1 + c2));
        entry->blockSignals(false);
    });
    entry->setFocus();
    entry->selectAll();
    if (dialog.exec() != QDialog::Accepted) return;
    const QString text = entry->text();
    if (text.isEmpty()) return;
    if (text.size() != 11) {
        showWarning(QStringLiteral("Invalid Timecode"), QStringLiteral("Please enter a complete timecode (HH:MM:SS:FF)."));
        return;
    }
    const uint64_t samples = parseTimecodeToSamples(text, rate, fps);
    if (samples == 0) return;
    pendingTimeReference_ = samples;
    timecodeButton_->setText(text);
    onMetadataChanged();
}

struct MetadataManagerWindow::SaveOutcome {
    int files = 0;
    int saved = 0;
    // Path and reason, in the order the files were written.
    std::vector<std::pair<QString, QString>> failures;
    // What each row's file says after the write.
    std::vector<std::pair<int, BwfMetadata>> reread;
};

namespace {

// Writes one file's edit and reads it back; empty when every field landed.
QString saveOne(const QString& path, const BwfMetadata& change) {
    QString reason = refusalReason(path);
    if (!reason.isEmpty()) return reason;
    std::string why;
    try {
        if (!BwfMetadataWriter::writeMetadata(path.toStdString(), change, why)) return QString::fromStdString(why);
        // Read back what the file now says: a field the writer could not
        // place must not pass as saved.
        const BwfMetadata back = BwfMetadataReader::readMetadata(path.toStdString());
        // The reader trims the values it finds.
        const auto differs = [](const std::string& wanted, const std::string& read) {
            return !wanted.empty() && CantarMetadataParser::trim(wanted) != read;
        };
        QStringList lost;
        if (differs(change.scene, back.scene)) lost << "scene";
        if (differs(change.take, back.take)) lost << "take";
        if (differs(change.tape, back.tape)) lost << "tape";
        if (differs(change.project, back.project)) lost << "project";
        if (differs(change.note, back.note)) lost << "notes";
        if (back.circled != change.circled) lost << "circled";
        if (back.wildTrack != change.wildTrack) lost << "wild track";
        if (change.timeReference != 0 && back.timeReference != change.timeReference) lost << "start timecode";
        for (size_t i = 0; i < change.tracks.size(); ++i) {
            const BwfMetadata::TrackInfo& track = change.tracks[i];
            const bool held = i < back.tracks.size() &&
                              CantarMetadataParser::trim(track.name) == back.tracks[i].name &&
                              CantarMetadataParser::trim(track.function) == back.tracks[i].function;
            if (!held) lost << QStringLiteral("track %1").arg(track.channelIndex);
        }
        if (!lost.isEmpty()) return QStringLiteral("Not stored: %1").arg(lost.join(", "));
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
    return {};
}

}  // namespace

void MetadataManagerWindow::onSaveChanges() {
    const std::vector<int> rows = selectedRows();
    if (rows.empty() || working_) return;
    const bool single = rows.size() == 1;
    auto fieldText = [&](const QString& text) -> std::string {
        if (text.isEmpty() || (!single && text == kDash)) return {};
        return text.toStdString();
    };
    // The edits are taken from the form here, on the GUI thread; the work
    // gets copies.
    struct Job {
        int row;
        QString path;
        BwfMetadata change;
    };
    std::vector<Job> jobs;
    for (int row : rows) {
        const BwfMetadata& shown = metadataList_[static_cast<size_t>(row)];
        BwfMetadata change;
        change.scene = fieldText(sceneEdit_->text());
        change.project = fieldText(projectEdit_->text());
        change.tape = fieldText(tapeIdEdit_->text());
        change.note = fieldText(notesEdit_->toPlainText());
        // A box still in its mixed state was not touched: each file keeps its flag.
        change.circled = circledCheck_->checkState() == Qt::PartiallyChecked ? shown.circled
                                                                             : circledCheck_->checkState() == Qt::Checked;
        change.wildTrack = wildTrackCheck_->checkState() == Qt::PartiallyChecked
                               ? shown.wildTrack
                               : wildTrackCheck_->checkState() == Qt::Checked;
        if (single) {
            change.take = fieldText(takeEdit_->text());
            change.timeReference = pendingTimeReference_;
            for (int t = 0; t < trackTable_->rowCount(); ++t) {
                BwfMetadata::TrackInfo track;
                if (const QTableWidgetItem* channel = trackTable_->item(t, 1)) {
                    bool ok = false;
                    const int value = channel->text().toInt(&ok, 10);
                    track.channelIndex = ok ? value : 0;
                } else {
                    track.channelIndex = t + 1;
                }
                if (const QTableWidgetItem* name = trackTable_->item(t, 2)) track.name = name->text().toStdString();
                if (const QTableWidgetItem* function = trackTable_->item(t, 3)) track.function = function->text().toStdString();
                change.tracks.push_back(std::move(track));
            }
        }
        jobs.push_back({row, filePaths_[static_cast<size_t>(row)], std::move(change)});
    }
    auto outcome = std::make_shared<SaveOutcome>();
    outcome->files = static_cast<int>(jobs.size());
    startBackgroundWork(work_, [jobs = std::move(jobs), outcome](QPromise<void>& promise) {
        promise.setProgressRange(0, static_cast<int>(jobs.size()));
        int done = 0;
        for (const Job& job : jobs) {
            // A cancel stops before the next file, never inside one.
            if (promise.isCanceled()) break;
            promise.setProgressValue(done++);
            const QString reason = saveOne(job.path, job.change);
            if (reason.isEmpty()) ++outcome->saved;
            else outcome->failures.emplace_back(job.path, reason);
        }
        promise.setProgressValue(done);
        for (const Job& job : jobs) {
            try {
                outcome->reread.emplace_back(job.row, BwfMetadataReader::readMetadata(job.path.toStdString()));
            } catch (const std::exception&) {
                // Vanished since the write: the row stays as it was; its error is shown.
            }
        }
    });
    beginWork(QStringLiteral("Save Changes"), QStringLiteral("Saving metadata to %1 file(s)...").arg(rows.size()),
              [this, outcome] { showSaved(*outcome); });
}

void MetadataManagerWindow::showSaved(const SaveOutcome& outcome) {
    for (const auto& [path, reason] : outcome.failures)
        showWarning(QStringLiteral("Error"), QStringLiteral("Failed to save metadata to:\n%1\n\n%2").arg(path, reason));
    for (const auto& [row, metadata] : outcome.reread) {
        metadataList_[static_cast<size_t>(row)] = metadata;
        fillRow(row, false);
    }
    if (outcome.saved == outcome.files) {
        hasUnsavedChanges_ = false;
        updateMetadataDisplay();
        hasUnsavedChanges_ = false;
        saveButton_->setEnabled(false);
    } else {
        // Some file did not take the edit: what was typed stays in the form,
        // to be saved again once the cause is mended.
        saveButton_->setEnabled(true);
    }
    if (outcome.saved > 0)
        showInformation(QStringLiteral("Success"), QStringLiteral("Metadata saved to %1 file(s)").arg(outcome.saved));
}

QString MetadataManagerWindow::formatFileSize(uint64_t bytes) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString MetadataManagerWindow::formatTimecode(uint64_t timeReference, uint32_t rate, double fps) {
    return samplesToTimecodeText(timeReference, rate, fps);
}

QString MetadataManagerWindow::formatDuration(double seconds) {
    if (!(seconds > 0)) return kDash;
    const auto s = static_cast<uint64_t>(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString MetadataManagerWindow::formatFrameRate(double fps) {
    QString text = QString::number(fps, 'f', 3);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

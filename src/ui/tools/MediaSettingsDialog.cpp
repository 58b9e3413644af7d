#include "ui/tools/MediaSettingsDialog.h"

#include "platform/volumes/VolumeSystem.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

constexpr int kMaxRollSeconds = 30;

// A drive row's text gives way to the row's layout box: a long mount path is
// shortened in the middle on screen; the text itself stays whole (and is the
// tooltip).
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override
    {
        return {fontMetrics().averageCharWidth() * 8, QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
        style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                              foregroundRole());
    }
};

int rollOrZero(int seconds)
{
    return seconds >= 0 && seconds <= kMaxRollSeconds ? seconds : 0;
}

QSpinBox* makeRollSpin(int seconds, const QString& toolTip)
{
    auto* spin = new QSpinBox;
    spin->setRange(0, kMaxRollSeconds);
    spin->setSuffix(" seconds");
    spin->setMinimumWidth(140);
    spin->setToolTip(toolTip);
    spin->setValue(rollOrZero(seconds));
    return spin;
}

QHBoxLayout* labelledRow(const QString& label, QWidget* field, bool stretch = true)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label));
    row->addWidget(field);
    if (stretch)
        row->addStretch();
    return row;
}

} // namespace

MediaSettingsDialog::MediaSettingsDialog(const std::string& saveLocation, int fileFormat, int bitDepth,
                                         int prerollSeconds, int postrollSeconds, bool /*externalEnabled*/,
                                         bool liveBackupActiveTake, const std::vector<ExternalPathInfo>& externalPaths,
                                         QWidget* parent)
    : QDialog(parent), configuredPaths_(externalPaths)
{
    setWindowTitle("Media Settings");
    setModal(true);
    resize(550, 480);
    auto* layout = new QVBoxLayout(this);

    fileFormatCombo_ = new QComboBox;
    fileFormatCombo_->addItems({"Polyphonic (Multi-track WAV)", "Monophonic (One file per track)"});
    fileFormatCombo_->setCurrentIndex(fileFormat == 0 || fileFormat == 1 ? fileFormat : 0);
    layout->addLayout(labelledRow("File Format:", fileFormatCombo_));

    bitDepthCombo_ = new QComboBox;
    bitDepthCombo_->addItems({"16-bit", "24-bit", "32-bit float"});
    bitDepthCombo_->setCurrentIndex(bitDepth == 16 ? 0 : bitDepth == 32 ? 2 : 1);
    layout->addLayout(labelledRow("Bit Depth:", bitDepthCombo_));

    prerollSpin_ = makeRollSpin(prerollSeconds, "Audio captured before pressing Record will be included in the "
                                                "recording (max 30 seconds)");
    layout->addLayout(labelledRow("Pre-Record Buffer:", prerollSpin_));
    postrollSpin_ = makeRollSpin(postrollSeconds, "Continue recording for up to 30 seconds after pressing Stop");
    layout->addLayout(labelledRow("Post-Record Buffer:", postrollSpin_));

    saveLocationEdit_ = new QLineEdit(QString::fromStdString(saveLocation));
    saveLocationEdit_->setReadOnly(true);
    auto* browse = new QPushButton("Browse...");
    auto* saveRow = labelledRow("Save Location:", saveLocationEdit_, false);
    saveRow->setStretchFactor(saveLocationEdit_, 1);
    saveRow->addWidget(browse);
    layout->addLayout(saveRow);

    auto* group = new QGroupBox("External Media");
    auto* groupLayout = new QVBoxLayout(group);
    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel("Select External Drives (check to enable):"));
    header->addStretch();
    auto* refresh = new QPushButton("Refresh");
    refresh->setFixedWidth(80);
    header->addWidget(refresh);
    groupLayout->addLayout(header);

    driveList_ = new QListWidget;
    driveList_->setMinimumHeight(120);
    driveList_->setSelectionMode(QAbstractItemView::NoSelection);
    driveList_->setSpacing(4);
    // Rows follow the list's width; a long path is shortened, not scrolled to.
    driveList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    driveList_->setResizeMode(QListView::Adjust);
    QFont listFont(driveList_->font().family(), 11);
    driveList_->setFont(listFont);
    driveList_->setStyleSheet("QListWidget::indicator:unchecked { border: 1px solid white; }");
    groupLayout->addWidget(driveList_);

    liveBackupCheck_ = new QCheckBox("Live backup active take");
    liveBackupCheck_->setChecked(liveBackupActiveTake);
    liveBackupCheck_->setToolTip("Writes the active take, including pre-roll and post-roll, to each selected drive "
                                 "on an isolated worker. Finalized-primary catch-up remains enabled if a live "
                                 "destination fails.");
    groupLayout->addWidget(liveBackupCheck_);
    auto* hint = new QLabel("Select file format (Poly/Mono) for each drive independently.");
    hint->setStyleSheet(QString("color: %1; font-size: 10px;").arg(Theme::kTextMuted));
    groupLayout->addWidget(hint);
    layout->addWidget(group);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton("OK");
    auto* cancel = new QPushButton("Cancel");
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(browse, &QPushButton::clicked, this, &MediaSettingsDialog::onBrowseLocation);
    connect(refresh, &QPushButton::clicked, this, &MediaSettingsDialog::onRefreshDrives);
    connect(ok, &QPushButton::clicked, this, &MediaSettingsDialog::onOk);
    connect(cancel, &QPushButton::clicked, this, &MediaSettingsDialog::onCancel);

    detectExternalDrives();
    updateDriveList();
}

void MediaSettingsDialog::detectExternalDrives()
{
    drives_.clear();
    std::vector<bool> found(configuredPaths_.size(), false);
    for (const MountedVolume& volume : volumeSystem().mountedVolumes()) {
        if (!isExternalDrive(volume))
            continue;
        DriveInfo drive;
        drive.path = volume.rootPath;
        drive.name = volume.name.empty() ? lastPathComponent(volume.rootPath) : volume.name;
        drive.device = volume.device;
        drive.totalBytes = volume.totalBytes;
        drive.availableBytes = volume.availableBytes;
        drive.mounted = true;
        for (size_t i = 0; i < configuredPaths_.size(); ++i) {
            if (configuredPaths_[i].path == volume.rootPath) {
                drive.enabled = true;
                drive.format = configuredPaths_[i].format;
                found[i] = true;
                break;
            }
        }
        drives_.push_back(drive);
    }
    for (size_t i = 0; i < configuredPaths_.size(); ++i) {
        if (found[i] || configuredPaths_[i].path.empty())
            continue;
        DriveInfo drive;
        drive.path = configuredPaths_[i].path;
        drive.name = lastPathComponent(drive.path);
        drive.enabled = true;
        drive.format = configuredPaths_[i].format;
        drives_.push_back(drive);
    }
}

void MediaSettingsDialog::updateDriveList()
{
    driveList_->clear();
    formatCombos_.clear();
    if (drives_.empty()) {
        auto* item = new QListWidgetItem("No external drives detected - connect USB drive and click Refresh");
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        driveList_->addItem(item);
        return;
    }
    for (int i = 0; i < static_cast<int>(drives_.size()); ++i) {
        const DriveInfo& drive = drives_[static_cast<size_t>(i)];
        auto* row = new QWidget;
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(4, 2, 4, 2);
        rowLayout->setSpacing(8);
        auto* check = new QCheckBox;
        check->setChecked(drive.enabled);
        rowLayout->addWidget(check);

        const QString name = QString::fromStdString(drive.name);
        const QString path = QString::fromStdString(drive.path);
        auto* label = new ElidedLabel;
        if (drive.mounted) {
            label->setText(QString("%1 (%2) - %3 free").arg(name, path, formatSize(drive.availableBytes)));
        } else {
            label->setText(QString("%1 (%2) - DISCONNECTED!").arg(name, path));
            label->setStyleSheet(QString("color: %1; font-weight: bold;").arg(Theme::kDriveProblem));
        }
        label->setToolTip(label->text());
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        rowLayout->addWidget(label, 1);

        auto* layoutBox = new QComboBox;
        layoutBox->addItems({"Poly", "Mono"});
        layoutBox->setCurrentIndex(drive.format == 1 ? 1 : 0);
        layoutBox->setFixedWidth(70);
        layoutBox->setEnabled(drive.mounted);
        rowLayout->addWidget(layoutBox);
        formatCombos_[i] = layoutBox;

        auto* item = new QListWidgetItem;
        item->setData(Qt::UserRole, path);
        item->setData(Qt::UserRole + 1, i);
        if (!drive.mounted)
            item->setBackground(QColor(Theme::kDriveUnusableRow));
        row->setProperty("checkbox", QVariant::fromValue(static_cast<QObject*>(check)));
        driveList_->addItem(item);
        driveList_->setItemWidget(item, row);
        // Under a style sheet with wider padding (the main window's) 70 px
        // would cut "Mono" short.
        row->ensurePolished();
        layoutBox->setFixedWidth(std::max(70, layoutBox->sizeHint().width()));
        // As wide as the list shows: the row's text shortens, its layout box stays in view.
        item->setSizeHint(QSize(row->minimumSizeHint().width(), row->sizeHint().height()));
    }
}

QCheckBox* MediaSettingsDialog::rowCheckBox(int row) const
{
    QListWidgetItem* item = driveList_->item(row);
    QWidget* widget = item ? driveList_->itemWidget(item) : nullptr;
    return widget ? qobject_cast<QCheckBox*>(widget->property("checkbox").value<QObject*>()) : nullptr;
}

std::string MediaSettingsDialog::getSaveLocation() const
{
    return saveLocationEdit_->text().trimmed().toStdString();
}

int MediaSettingsDialog::getFileFormat() const
{
    return fileFormatCombo_->currentIndex();
}

int MediaSettingsDialog::getBitDepth() const
{
    static constexpr int kDepths[] = {16, 24, 32};
    const int index = bitDepthCombo_->currentIndex();
    return index >= 0 && index < 3 ? kDepths[index] : 24;
}

int MediaSettingsDialog::getSampleFormat() const
{
    // 16-bit and 24-bit integer, or 32-bit float; 32-bit integer is never offered here.
    static constexpr int kFormats[] = {0, 1, 3};
    const int index = bitDepthCombo_->currentIndex();
    return index >= 0 && index < 3 ? kFormats[index] : 1;
}

int MediaSettingsDialog::getPrerollSeconds() const
{
    return rollOrZero(prerollSpin_->value());
}

int MediaSettingsDialog::getPostrollSeconds() const
{
    return rollOrZero(postrollSpin_->value());
}

bool MediaSettingsDialog::isExternalMediaEnabled() const
{
    return !getExternalMediaPaths().empty();
}

bool MediaSettingsDialog::isLiveBackupActiveTakeEnabled() const
{
    return liveBackupCheck_->isChecked();
}

std::vector<std::string> MediaSettingsDialog::getExternalMediaPaths() const
{
    std::vector<std::string> paths;
    for (const ExternalPathInfo& info : getExternalMediaPathsWithFormats())
        paths.push_back(info.path);
    return paths;
}

std::vector<MediaSettingsDialog::ExternalPathInfo> MediaSettingsDialog::getExternalMediaPathsWithFormats() const
{
    std::vector<ExternalPathInfo> checked;
    for (int i = 0; i < static_cast<int>(drives_.size()) && i < driveList_->count(); ++i) {
        QCheckBox* check = rowCheckBox(i);
        if (!check || !check->isChecked())
            continue;
        const auto combo = formatCombos_.find(i);
        const int format = combo != formatCombos_.end() && combo->second ? combo->second->currentIndex() : 0;
        checked.push_back({drives_[static_cast<size_t>(i)].path, format});
    }
    return checked;
}

QString MediaSettingsDialog::formatSize(unsigned long long bytes)
{
    const double value = static_cast<double>(bytes);
    if (bytes >= (1ULL << 40))
        return QString::number(value / double(1ULL << 40), 'f', 1) + " TB";
    if (bytes >= (1ULL << 30))
        return QString::number(value / double(1ULL << 30), 'f', 1) + " GB";
    if (bytes >= (1ULL << 20))
        return QString::number(value / double(1ULL << 20), 'f', 1) + " MB";
    if (bytes >= 1024)
        return QString::number(value / 1024.0, 'f', 1) + " KB";
    return QString::number(bytes) + " B";
}

void MediaSettingsDialog::onBrowseLocation()
{
    const QString current = saveLocationEdit_->text();
    const QString chosen = QFileDialog::getExistingDirectory(
        this, "Select Save Location", current.isEmpty() ? QDir::homePath() : current,
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!chosen.isEmpty())
        saveLocationEdit_->setText(chosen);
}

void MediaSettingsDialog::onRefreshDrives()
{
    detectExternalDrives();
    updateDriveList();
}

void MediaSettingsDialog::showBox(const QString& title, const QString& text)
{
    showPlainMessageBox(this, title, text);
}

void MediaSettingsDialog::onOk()
{
    const QString location = saveLocationEdit_->text().trimmed();
    if (location.isEmpty()) {
        showBox("Invalid Location", "Please select a save location.");
        return;
    }
    const std::filesystem::path path(location.toStdString());
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status)) {
        // Every take would fail to open under a file; say so now instead of losing the next take.
        if (!std::filesystem::is_directory(status)) {
            showBox("Invalid Location",
                    QString("The save location is not a folder:\n%1\n\nPlease select a folder.").arg(location));
            return;
        }
        accept();
        return;
    }
    if (!std::filesystem::create_directories(path, error) || error) {
        showBox("Error", QString("Failed to create directory: %1")
                             .arg(QString::fromStdString(error ? error.message() : std::string("unknown error"))));
        return;
    }
    accept();
}

void MediaSettingsDialog::onCancel()
{
    reject();
}

#include "ui/tools/ConfigSnapshotDialog.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/MetadataKeys.h"
#include "core/settings/SnapshotKeys.h"
#include "engine/AudioEngineBase.h"
#include "ui/common/Theme.h"
#include "ui/tools/ProcessRestart.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Where the recordist is now, not where the snapshot was made: loading a
// setup must not bring back an older project, roll, scene, take or file
// counter, or the next take would repeat a take already on disk.
const char* const kLiveTakeKeys[] = {MetadataKeys::kProject,        MetadataKeys::kSoundRoll,
                                     MetadataKeys::kScene,          MetadataKeys::kTake,
                                     MetadataKeys::kLastFolderPath, MetadataKeys::kLastSoundRoll,
                                     MetadataKeys::kLastScene,      MetadataKeys::kLastTake,
                                     MediaKeys::kFileNumber};
constexpr const char* kKeyAbsent = "\x01";

const QString kGreen = QStringLiteral("green");
const QString kRed = QStringLiteral("red");
constexpr int kRestartDelayMs = 3000;

QString sanitisedName(QString name)
{
    for (const QChar c : {u'"', u'*', u'/', u':', u'<', u'>', u'?', u'\\', u'|'})
        name.replace(c, QLatin1Char('_'));
    // A leading dot makes a hidden file that the list never shows (with an
    // empty displayed name), and ".." is a step out of the folder.
    name.replace(QStringLiteral(".."), QStringLiteral("_"));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name;
}

// Copies through a temporary file and a rename, so the target is either the
// old file or the whole new one, never missing or half written.
bool replaceByCopy(const QString& source, const QString& target)
{
    const QString temporary = target + QStringLiteral(".tmp");
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary))
        return false;
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace

ConfigSnapshotPrompts ConfigSnapshotPrompts::standard()
{
    ConfigSnapshotPrompts prompts;
    prompts.askText = [](QWidget* parent, const QString& title, const QString& label, const QString& text) -> std::optional<QString> {
        bool ok = false;
        const QString answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
        if (!ok)
            return std::nullopt;
        return answer;
    };
    prompts.askYesNo = [](QWidget* parent, const QString& title, const QString& question) {
        return QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    prompts.showCritical = [](QWidget* parent, const QString& title, const QString& message) {
        QMessageBox::critical(parent, title, message, QMessageBox::Ok);
    };
    prompts.chooseFolder = [](QWidget* parent, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(parent, title, startFolder,
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    };
    return prompts;
}

ConfigSnapshotDialog::ConfigSnapshotDialog(AudioEngineBase* engine, QWidget* parent)
    : QDialog(parent)
    , engine_(engine)
    , prompts_(ConfigSnapshotPrompts::standard())
{
    restart_ = [this] { runRestartSequence(parentWidget()); };
    setWindowTitle(QStringLiteral("Save/Load Configuration Snapshot"));
    setMinimumSize(600, 400);
    setupUI();
    refreshSnapshotList();
}

void ConfigSnapshotDialog::setupUI()
{
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>Configuration Snapshots</b>"), this);
    title->setStyleSheet(QStringLiteral("font-size: 14px; padding: 10px;"));
    layout->addWidget(title);
    auto* description = new QLabel(QStringLiteral("Save and load complete application configuration including:\n"
                                                  "• Input/Output routing  • Track settings  • Fader positions\n"
                                                  "• Channel strip settings  • MIDI mappings  • All preferences"),
                                   this);
    description->setStyleSheet(QStringLiteral("color: %1; padding: 5px 10px; font-size: 10px;").arg(Theme::kTextFaint));
    layout->addWidget(description);

    auto* locationRow = new QHBoxLayout;
    auto* locationCaption = new QLabel(QStringLiteral("Snapshot Location:"), this);
    locationCaption->setStyleSheet(QStringLiteral("font-weight: bold;"));
    locationEdit_ = new QLineEdit(this);
    locationEdit_->setReadOnly(true);
    locationEdit_->setText(getSnapshotsDirectory());
    auto* browseButton = new QPushButton(QStringLiteral("Browse..."), this);
    locationRow->addWidget(locationCaption);
    locationRow->addWidget(locationEdit_);
    locationRow->addWidget(browseButton);
    layout->addLayout(locationRow);

    snapshotList_ = new QListWidget(this);
    snapshotList_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(snapshotList_);

    auto* actionRow = new QHBoxLayout;
    saveButton_ = new QPushButton(QStringLiteral("Save Current Configuration..."), this);
    saveButton_->setStyleSheet(QStringLiteral("padding: 10px;"));
    loadButton_ = new QPushButton(QStringLiteral("Load Selected Configuration"), this);
    loadButton_->setStyleSheet(QStringLiteral("padding: 10px;"));
    loadButton_->setEnabled(false);
    deleteButton_ = new QPushButton(QStringLiteral("Delete Selected"), this);
    deleteButton_->setEnabled(false);
    actionRow->addWidget(saveButton_);
    actionRow->addWidget(loadButton_);
    actionRow->addWidget(deleteButton_);
    layout->addLayout(actionRow);

    infoLabel_ = new QLabel(this);
    infoLabel_->setWordWrap(true);
    infoLabel_->setStyleSheet(QStringLiteral("color: %1; padding: 5px; font-size: 10px;").arg(Theme::kTextFaint));
    layout->addWidget(infoLabel_);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeRow->addWidget(closeButton);
    layout->addLayout(closeRow);

    connect(browseButton, &QPushButton::clicked, this, &ConfigSnapshotDialog::onBrowseDirectory);
    connect(snapshotList_, &QListWidget::itemSelectionChanged, this, &ConfigSnapshotDialog::onSnapshotSelectionChanged);
    connect(saveButton_, &QPushButton::clicked, this, &ConfigSnapshotDialog::onSaveSnapshot);
    connect(loadButton_, &QPushButton::clicked, this, &ConfigSnapshotDialog::onLoadSnapshot);
    connect(deleteButton_, &QPushButton::clicked, this, &ConfigSnapshotDialog::onDeleteSnapshot);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    // The list is what the dialog is about: arrow keys pick a snapshot at once.
    snapshotList_->setFocus();
}

QString ConfigSnapshotDialog::getSnapshotsDirectory()
{
    QString folder = QString::fromStdString(ConfigManager::getInstance()->getString(SnapshotKeys::kFolder, ""));
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Tonvale/Snapshots");
    QDir().mkpath(folder);
    return folder;
}

void ConfigSnapshotDialog::refreshSnapshotList()
{
    snapshotList_->clear();
    const QString folder = getSnapshotsDirectory();
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.config")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& file : files) {
        auto* item = new QListWidgetItem(file.completeBaseName(), snapshotList_);
        item->setData(Qt::UserRole, file.absoluteFilePath());
    }
    infoLabel_->setText(QStringLiteral("Found %1 saved configuration(s) in: %2").arg(files.size()).arg(folder));
}

bool ConfigSnapshotDialog::listHoldsPath(const QString& path) const
{
    for (int row = 0; row < snapshotList_->count(); ++row) {
        if (snapshotList_->item(row)->data(Qt::UserRole).toString() == path)
            return true;
    }
    return false;
}

void ConfigSnapshotDialog::reportSaveFailure(const QString& name)
{
    showInfo(QStringLiteral("✗ Failed to save configuration: %1").arg(name), kRed);
    prompts_.showCritical(this, QStringLiteral("Save Failed"), QStringLiteral("Failed to save configuration snapshot."));
}

void ConfigSnapshotDialog::showInfo(const QString& text, const QString& colour)
{
    infoLabel_->setText(text);
    infoLabel_->setStyleSheet(QStringLiteral("color: %1; padding: 5px; font-size: 10px;").arg(colour));
}

void ConfigSnapshotDialog::onSnapshotSelectionChanged()
{
    const bool selected = !snapshotList_->selectedItems().isEmpty();
    loadButton_->setEnabled(selected);
    deleteButton_->setEnabled(selected);
}

void ConfigSnapshotDialog::onSaveSnapshot()
{
    const QString suggestion =
        QStringLiteral("Config_%1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm")));
    const std::optional<QString> answer = prompts_.askText(this, QStringLiteral("Save Configuration Snapshot"),
                                                           QStringLiteral("Enter a name for this configuration:"), suggestion);
    if (!answer || answer->isEmpty())
        return;
    const QString name = sanitisedName(*answer);
    if (name.isEmpty()) {
        reportSaveFailure(*answer);
        return;
    }
    const QString target = getSnapshotsDirectory() + QLatin1Char('/') + name + QStringLiteral(".config");
    if (QFileInfo::exists(target)
        && !prompts_.askYesNo(this, QStringLiteral("Overwrite Configuration?"),
                              QStringLiteral("A configuration named '%1' already exists. Overwrite it?").arg(name))) {
        return;
    }
    ConfigManager::getInstance()->saveConfig("");
    if (!saveSnapshotToFile(target)) {
        reportSaveFailure(name);
        return;
    }
    refreshSnapshotList();
    // A snapshot the list cannot show could never be loaded or deleted.
    if (!listHoldsPath(QFileInfo(target).absoluteFilePath())) {
        QFile::remove(target);
        refreshSnapshotList();
        reportSaveFailure(name);
        return;
    }
    const QList<QListWidgetItem*> matching = snapshotList_->findItems(name, Qt::MatchExactly);
    if (!matching.isEmpty())
        snapshotList_->setCurrentItem(matching.first());
    showInfo(QStringLiteral("✓ Configuration saved: %1").arg(name), kGreen);
}

bool ConfigSnapshotDialog::saveSnapshotToFile(const QString& path)
{
    const QString configPath = QString::fromStdString(ConfigManager::getInstance()->getConfigPath());
    if (!QFileInfo::exists(configPath))
        return false;
    // An old snapshot under this name stays whole until the new copy is complete.
    return replaceByCopy(configPath, path);
}

void ConfigSnapshotDialog::onLoadSnapshot()
{
    QListWidgetItem* item = snapshotList_->currentItem();
    if (!item)
        return;
    const QString path = item->data(Qt::UserRole).toString();
    const QString name = item->text();
    const QString question =
        QStringLiteral("Load configuration '%1'?\n\nThis will replace ALL current settings including:\n"
                       "• Routing  • Track settings  • Fader positions\n• Channel strips  • MIDI mappings  • Preferences\n\n"
                       "Current unsaved changes will be lost!")
            .arg(name);
    if (refuseLoadDuringTake())
        return;
    if (!prompts_.askYesNo(this, QStringLiteral("Load Configuration?"), question))
        return;
    // A controller may have started a take while the question was open.
    if (refuseLoadDuringTake())
        return;
    if (!loadSnapshotFromFile(path)) {
        showInfo(QStringLiteral("✗ Failed to load configuration: %1").arg(name), kRed);
        prompts_.showCritical(this, QStringLiteral("Load Failed"), QStringLiteral("Failed to load configuration snapshot."));
        return;
    }
    // The file now holds what the next process must start with; nothing this
    // process still does (its shutdown saves faders and geometry) may change it.
    ConfigManager::getInstance()->sealForRestart();
    debugLog("Configuration snapshot loaded: " + name.toStdString() + "; restarting");
    accept();
    if (restart_)
        restart_();
}

// A load restarts the program, which would cut off a take still recording
// or being closed, and its end would never reach the configuration.
bool ConfigSnapshotDialog::refuseLoadDuringTake()
{
    if (engine_ == nullptr || !(engine_->isRecording() || engine_->isWriterDraining()))
        return false;
    debugLog("Snapshot load refused: a take is recording or being closed");
    showInfo(QStringLiteral("✗ Not loaded while a take is recording"), kRed);
    prompts_.showCritical(this, QStringLiteral("Recording Active"),
                          QStringLiteral("A configuration can be loaded after the current take finishes.\n\n"
                                         "Loading restarts Tonvale, which would end the take."));
    return true;
}

bool ConfigSnapshotDialog::loadSnapshotFromFile(const QString& path)
{
    ConfigManager* config = ConfigManager::getInstance();
    const QString configPath = QString::fromStdString(config->getConfigPath());
    const QString backupPath = configPath + QStringLiteral(".backup");
    if (QFileInfo::exists(configPath)) {
        // Without a backup there is no way back: refuse rather than risk the
        // only copy of the current setup.
        QFile::remove(backupPath);
        if (!QFile::copy(configPath, backupPath)) {
            debugLog("Snapshot load refused: cannot back up the configuration to " + backupPath.toStdString());
            return false;
        }
    }
    if (!QFileInfo(path).isFile())
        return false;
    QDir().mkpath(QFileInfo(configPath).absolutePath());
    std::vector<std::pair<std::string, std::string>> live;
    for (const char* key : kLiveTakeKeys)
        live.emplace_back(key, config->getString(key, kKeyAbsent));
    // Copied beside the configuration and renamed over it: a failed copy
    // leaves the configuration file as it was.
    if (!replaceByCopy(path, configPath)) {
        debugLog("Snapshot load failed: cannot copy " + path.toStdString() + " to " + configPath.toStdString());
        return false;
    }
    config->loadConfig("");
    for (const auto& [key, value] : live) {
        if (value != kKeyAbsent)
            config->setString(key, value);
    }
    return config->saveConfig("");
}

void ConfigSnapshotDialog::onDeleteSnapshot()
{
    QListWidgetItem* item = snapshotList_->currentItem();
    if (!item)
        return;
    const QString path = item->data(Qt::UserRole).toString();
    const QString name = item->text();
    if (!prompts_.askYesNo(this, QStringLiteral("Delete Configuration?"),
                           QStringLiteral("Permanently delete configuration '%1'?").arg(name))) {
        return;
    }
    if (!QFile::remove(path)) {
        showInfo(QStringLiteral("✗ Failed to delete configuration: %1").arg(name), kRed);
        prompts_.showCritical(this, QStringLiteral("Delete Failed"), QStringLiteral("Failed to delete configuration snapshot."));
        return;
    }
    refreshSnapshotList();
    showInfo(QStringLiteral("✓ Configuration deleted: %1").arg(name), kGreen);
}

void ConfigSnapshotDialog::onBrowseDirectory()
{
    const QString folder =
        prompts_.chooseFolder(this, QStringLiteral("Select Snapshot Storage Location"), locationEdit_->text());
    if (folder.isEmpty())
        return;
    locationEdit_->setText(folder);
    ConfigManager::getInstance()->setString(SnapshotKeys::kFolder, folder.toStdString());
    ConfigManager::getInstance()->saveConfig("");
    refreshSnapshotList();
    showInfo(QStringLiteral("Snapshot location changed to: %1").arg(folder), kGreen);
}

void ConfigSnapshotDialog::runRestartSequence(QWidget* parent)
{
    auto* overlay = new QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    overlay->setModal(true);
    overlay->setStyleSheet(QStringLiteral("QDialog { background-color: %1; border: 3px solid %2; }")
                               .arg(Theme::kBgSurface, Theme::kRestartAccent));
    auto* layout = new QVBoxLayout(overlay);
    layout->setContentsMargins(40, 30, 40, 30);
    auto* message = new QLabel(QStringLiteral("APPLYING CONFIGURATION\nAND RESTARTING TONVALE"), overlay);
    QFont font = message->font();
    font.setPointSize(16);
    font.setWeight(QFont::Bold);
    message->setFont(font);
    message->setStyleSheet(QStringLiteral("color: %1; padding: 20px;").arg(Theme::kTextBright));
    message->setAlignment(Qt::AlignCenter);
    auto* dots = new QLabel(QStringLiteral("●●●"), overlay);
    dots->setStyleSheet(QStringLiteral("color: %1; font-size: 20px;").arg(Theme::kRestartAccent));
    dots->setAlignment(Qt::AlignCenter);
    layout->addWidget(message);
    layout->addWidget(dots);
    overlay->setFixedSize(500, 200);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect geometry = screen->geometry();
        overlay->move((geometry.width() - 500) / 2, (geometry.height() - 200) / 2);
    }
    // Painted by the event loop the caller returns to; the restart waits on a timer, never here.
    overlay->show();

    QTimer::singleShot(kRestartDelayMs, Qt::CoarseTimer, [] {
        QStringList arguments = QCoreApplication::arguments();
        if (!arguments.isEmpty())
            arguments.removeFirst();
        // The new process waits until this one has ended, so it never finds
        // the single-instance lock still held.
        if (!startAfterProcessExits(QCoreApplication::applicationPid(), QCoreApplication::applicationFilePath(), arguments)) {
            debugLog("Restart failed: cannot start " + QCoreApplication::applicationFilePath().toStdString());
            QMessageBox::critical(nullptr, QStringLiteral("Restart Failed"),
                                  QStringLiteral("Tonvale could not restart itself. Quit and start it again to use the "
                                                 "loaded configuration."));
            return;
        }
        QCoreApplication::quit();
    });
}

#include "ui/tools/SoundReportDialog.h"

#include "ui/common/BackgroundWork.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MetadataKeys.h"
#include "core/settings/ReportKeys.h"
#include "media/PortableFileName.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/ScreenFit.h"
#include "ui/common/Theme.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QFontMetricsF>
#include <QSet>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr int kTakeColumns = 6;

const char* const kDetailNames[] = {"File Number:", "Filename:",     "Scene:",        "Take:",
                                    "Project:",     "Sound Roll:",   "Timecode In:",  "Timecode Out:",
                                    "Duration:",    "Tracks:",       "Notes:",        "File Date:"};
constexpr int kDetailCount = 12;
constexpr int kSuccessMilliseconds = 2000;
constexpr QSize kLogoPreview(150, 75);

struct Key {
    const char* name;
    QString SoundReportProduction::*member;
};
const Key kStringKeys[] = {
    {ReportKeys::kProductionCompany, &SoundReportProduction::productionCompany},
    {ReportKeys::kProjectName, &SoundReportProduction::projectName},
    {ReportKeys::kDirector, &SoundReportProduction::director},
    {ReportKeys::kSoundMixer, &SoundReportProduction::soundMixer},
    {ReportKeys::kMixerPhone, &SoundReportProduction::mixerPhone},
    {ReportKeys::kMixerEmail, &SoundReportProduction::mixerEmail},
    {ReportKeys::kCompanyLogoPath, &SoundReportProduction::companyLogoPath},
};

// A name from file metadata must not lead the proposed path out of the
// roll folder or hold characters no file system takes.
QString safeNamePart(QString text)
{
    for (QChar& c : text) {
        if (c == '/' || c == '\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = '_';
    }
    if (text == QLatin1String(".") || text == QLatin1String(".."))
        text.fill('_');
    return text;
}

void showLogoPreview(QLabel* preview, const QString& path)
{
    preview->setPixmap(QPixmap());
    if (path.isEmpty()) {
        preview->setText(QStringLiteral("No logo"));
        return;
    }
    QPixmap image;
    if (!image.load(path)) {
        preview->setText(QStringLiteral("Invalid image"));
        return;
    }
    preview->setText(QString());
    preview->setPixmap(image.scaled(kLogoPreview, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

SoundReportDialog::Prompts defaultPrompts()
{
    SoundReportDialog::Prompts prompts;
    prompts.chooseFolder = [](QWidget* parent, const QString& caption, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
    };
    prompts.chooseSaveFile = [](QWidget* parent, const QString& caption, const QString& proposed, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
    };
    prompts.chooseLogo = [](QWidget* parent, const QString& caption, const QString& start, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, start, filter);
    };
    prompts.showMessage = [](QWidget* parent, const QString& title, const QString& text) {
        showPlainMessageBox(parent, title, text);
    };
    prompts.runDialog = [](QDialog& dialog) { return dialog.exec(); };
    return prompts;
}

// The texts of a take's row in the table.
std::array<QString, kTakeColumns> takeCells(const SoundReportTake& take)
{
    return {take.fileNumber, take.scene,     take.take,
            take.project,    take.soundRoll, SoundReportTakes::formatDuration(take.durationSeconds, take.frameRate)};
}

} // namespace

SoundReportDialog::SoundReportDialog(QWidget* parent)
    : QDialog(parent)
    , prompts_(defaultPrompts())
{
    setWindowTitle(QStringLiteral("Sound Report Generator"));
    setupUI();
    fitToScreen(*this, QSize(1200, 800), QSize(1000, 700));
    loadProductionInfo();
    const QString opening = SoundReportTakes::openingFolder();
    if (!opening.isEmpty())
        scanAndShow(opening);
}

void SoundReportDialog::setPrompts(const Prompts& prompts)
{
    const Prompts defaults = defaultPrompts();
    prompts_.chooseFolder = prompts.chooseFolder ? prompts.chooseFolder : defaults.chooseFolder;
    prompts_.chooseSaveFile = prompts.chooseSaveFile ? prompts.chooseSaveFile : defaults.chooseSaveFile;
    prompts_.chooseLogo = prompts.chooseLogo ? prompts.chooseLogo : defaults.chooseLogo;
    prompts_.showMessage = prompts.showMessage ? prompts.showMessage : defaults.showMessage;
    prompts_.runDialog = prompts.runDialog ? prompts.runDialog : defaults.runDialog;
}

void SoundReportDialog::setupUI()
{
    auto* main = new QVBoxLayout(this);
    main->setSpacing(10);
    main->setContentsMargins(10, 10, 10, 10);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(QStringLiteral("Sound Roll Folder:"), this));
    folderField_ = new QLineEdit(this);
    folderField_->setReadOnly(true);
    folderRow->addWidget(folderField_, 1);
    selectFolderButton_ = new QPushButton(QStringLiteral("Select Folder..."), this);
    connect(selectFolderButton_, &QPushButton::clicked, this, &SoundReportDialog::onSelectFolder);
    folderRow->addWidget(selectFolderButton_);
    main->addLayout(folderRow);

    auto* middle = new QHBoxLayout;
    auto* takesBox = new QGroupBox(QStringLiteral("Takes"), this);
    auto* takesLayout = new QVBoxLayout(takesBox);
    takeTable_ = new QTableWidget(0, 6, takesBox);
    takeTable_->setHorizontalHeaderLabels(
        {"File #", "Scene", "Take", "Project", "Sound Roll", "Duration"});
    takeTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    takeTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    takeTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    takeTable_->horizontalHeader()->setStretchLastSection(true);
    takeTable_->setAlternatingRowColors(true);
    connect(takeTable_, &QTableWidget::itemSelectionChanged, this, &SoundReportDialog::onTakeSelectionChanged);
    takesLayout->addWidget(takeTable_);
    middle->addWidget(takesBox, 2);

    auto* detailsBox = new QGroupBox(QStringLiteral("Take Details"), this);
    detailsBox->setMaximumWidth(400);
    auto* form = new QFormLayout(detailsBox);
    for (int i = 0; i < kDetailCount; ++i) {
        auto* value = new QLabel(QStringLiteral("--"), detailsBox);
        value->setObjectName(QStringLiteral("detail%1").arg(i));
        value->setWordWrap(true);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(new QLabel(QString::fromLatin1(kDetailNames[i]), detailsBox), value);
        detailLabels_.push_back(value);
    }
    middle->addWidget(detailsBox, 1);
    main->addLayout(middle, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    configureButton_ = new QPushButton(QStringLiteral("Configure..."), this);
    connect(configureButton_, &QPushButton::clicked, this, &SoundReportDialog::onConfigure);
    buttons->addWidget(configureButton_);
    createButton_ = new QPushButton(QStringLiteral("Create Sound Report"), this);
    createButton_->setEnabled(false);
    connect(createButton_, &QPushButton::clicked, this, &SoundReportDialog::onCreateReport);
    buttons->addWidget(createButton_);
    closeButton_ = new QPushButton(QStringLiteral("Close"), this);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(closeButton_);
    main->addLayout(buttons);
}

void SoundReportDialog::loadProductionInfo()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (const Key& key : kStringKeys)
        production_.*key.member = QString::fromStdString(config->getString(key.name, ""));
    outputFormat_ = config->getInt(ReportKeys::kOutputFormat, 0);
}

void SoundReportDialog::saveProductionInfo()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (const Key& key : kStringKeys)
        config->setString(key.name, (production_.*key.member).toStdString());
    config->setInt(ReportKeys::kOutputFormat, outputFormat_);
    config->saveConfig("");
}

void SoundReportDialog::scanWavFiles(const QString& folder)
{
    startScan(folder, false);
}

void SoundReportDialog::scanAndShow(const QString& folder)
{
    startScan(folder, true);
}

void SoundReportDialog::startScan(const QString& folder, bool show)
{
    if (isScanning())
        return;
    scanning_ = true;
    // No report from the old list while the new one is read.
    const bool couldCreate = createButton_->isEnabled();
    createButton_->setEnabled(false);
    auto takes = std::make_shared<std::vector<TakeInfo>>();
    startBackgroundWork(scan_, [folder, takes](QPromise<void>& promise) {
        *takes = SoundReportTakes::scanFolder(folder, [&promise](int done, int total) {
            if (done == 0)
                promise.setProgressRange(0, total);
            promise.setProgressValue(done);
            return !promise.isCanceled();
        });
    });
    showWorkProgress(scan_, this, QStringLiteral("Sound Report"), QStringLiteral("Scanning takes..."), true);
    const auto showTakes = [this, folder, show, takes, couldCreate] {
        if (!scan_.isCanceled()) {
            if (show) {
                folderPath_ = folder;
                folderField_->setText(folder);
            }
            takes_ = std::move(*takes);
            rollName_ = QDir(folder).dirName();
            if (show)
                updateTakeList();
        }
        createButton_->setEnabled(show ? !takes_.empty() : couldCreate);
        scanning_ = false;
    };
    connect(&scan_, &QFutureWatcherBase::finished, this, showTakes, Qt::SingleShotConnection);
}

SoundReportDialog::~SoundReportDialog()
{
    cancelAndWait(scan_);
}

void SoundReportDialog::updateTakeList()
{
    takeTable_->setRowCount(0);
    takeTable_->setRowCount(static_cast<int>(takes_.size()));
    // Each distinct text of a column is measured once: a roll repeats its
    // scenes, takes, project and roll on every row, and measuring every
    // cell (resizeColumnsToContents) costs more than the whole scan.
    QStyleOptionViewItem option;
    option.initFrom(takeTable_);
    option.widget = takeTable_;
    option.features = QStyleOptionViewItem::HasDisplay;
    if (takeTable_->wordWrap())
        option.features |= QStyleOptionViewItem::WrapText;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.textElideMode = takeTable_->textElideMode();
    option.font = takeTable_->font();
    option.fontMetrics = QFontMetrics(option.font);
    QStyle* const style = takeTable_->style();
    int contentWidths[kTakeColumns] = {};
    std::array<QSet<QString>, kTakeColumns> measured;
    // With digits of one width (tabular figures, as in the fonts a table
    // uses), texts that differ only in their digits are as wide as each
    // other: the file numbers of a roll (ABC0001, ABC0002, ...) and its
    // durations are then measured once each, not once per take.
    const QFontMetricsF digitMetrics(option.font);
    const qreal digitAdvance = digitMetrics.horizontalAdvance(QLatin1Char('0'));
    bool digitsOfOneWidth = digitMetrics.horizontalAdvance(QStringLiteral("0123456789")) == 10 * digitAdvance;
    for (char digit = '1'; digit <= '9'; ++digit)
        digitsOfOneWidth = digitsOfOneWidth && digitMetrics.horizontalAdvance(QLatin1Char(digit)) == digitAdvance;
    const auto widthKey = [digitsOfOneWidth](QString text) {
        if (digitsOfOneWidth) {
            for (QChar& c : text) {
                if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                    c = QLatin1Char('0');
            }
        }
        return text;
    };
    for (const TakeInfo& take : takes_) {
        const std::array<QString, kTakeColumns> cells = takeCells(take);
        for (int column = 0; column < kTakeColumns; ++column) {
            const QString key = widthKey(cells[column]);
            if (measured[column].contains(key))
                continue;
            measured[column].insert(key);
            option.text = cells[column];
            // What the item delegate reports for a plain text cell.
            option.text.replace(QLatin1Char('\n'), QChar::LineSeparator);
            const int width = style->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), takeTable_).width();
            contentWidths[column] = std::max(contentWidths[column], width);
        }
    }
    QHeaderView* const header = takeTable_->horizontalHeader();
    const int gridWidth = takeTable_->showGrid() ? 1 : 0;
    for (int column = 0; column < kTakeColumns; ++column) {
        const int content = takes_.empty() ? 0 : contentWidths[column] + gridWidth;
        header->resizeSection(column, std::max(content, header->isHidden() ? 0 : header->sectionSizeHint(column)));
    }
    fillingRows_ = true;
    fillTakeRows(0);
    onTakeSelectionChanged();
}

void SoundReportDialog::fillTakeRows(int first)
{
    // A slice of rows per turn of the event loop: thousands of cells at once
    // would hold the GUI thread, and the record keys with it, for too long.
    constexpr int kRowsPerTurn = 250;
    const int end = std::min(first + kRowsPerTurn, static_cast<int>(takes_.size()));
    QAbstractItemModel* const model = takeTable_->model();
    {
        // One change notice per slice instead of one per cell.
        const QSignalBlocker quietModel(model);
        for (int row = first; row < end; ++row) {
            const std::array<QString, kTakeColumns> cells = takeCells(takes_[static_cast<size_t>(row)]);
            for (int column = 0; column < kTakeColumns; ++column)
                takeTable_->setItem(row, column, new QTableWidgetItem(cells[static_cast<size_t>(column)]));
        }
    }
    if (end > first)
        emit model->dataChanged(model->index(first, 0), model->index(end - 1, kTakeColumns - 1));
    if (end < static_cast<int>(takes_.size()))
        QTimer::singleShot(0, this, [this, end] { fillTakeRows(end); });
    else
        fillingRows_ = false;
}

void SoundReportDialog::onSelectFolder()
{
    QString start = SoundReportTakes::currentRollFolder();
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = prompts_.chooseFolder(this, QStringLiteral("Select Sound Roll Folder"), start);
    if (!folder.isEmpty())
        scanAndShow(folder);
}

void SoundReportDialog::onScanFolder()
{
    if (!folderPath_.isEmpty())
        scanAndShow(folderPath_);
}

void SoundReportDialog::onTakeSelectionChanged()
{
    const int row = takeTable_->currentRow();
    showDetails(row >= 0 && row < static_cast<int>(takes_.size()) ? &takes_[static_cast<size_t>(row)] : nullptr);
}

void SoundReportDialog::showDetails(const TakeInfo* take)
{
    if (!take) {
        for (QLabel* label : detailLabels_)
            label->setText(QStringLiteral("--"));
        return;
    }
    const QString values[kDetailCount] = {
        take->fileNumber,
        take->fileName,
        take->scene,
        take->take,
        take->project,
        take->soundRoll,
        take->timecodeIn,
        take->timecodeOut,
        SoundReportTakes::formatDuration(take->durationSeconds, take->frameRate),
        take->trackNames.isEmpty() ? QStringLiteral("N/A") : take->trackNames.join(", "),
        take->notes.isEmpty() ? QStringLiteral("N/A") : take->notes,
        take->fileDate.isValid() ? take->fileDate.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString(),
    };
    for (int i = 0; i < kDetailCount; ++i)
        detailLabels_[static_cast<size_t>(i)]->setText(values[i]);
}

void SoundReportDialog::onConfigure()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Sound Report Configuration"));
    dialog.setMinimumWidth(500);
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    const char* const kLabels[] = {"Production Company:", "Project/Show Name:", "Director:",
                                   "Sound Mixer:",        "Mixer Phone:",       "Mixer Email:"};
    std::vector<QLineEdit*> fields;
    for (int i = 0; i < 6; ++i) {
        auto* field = new QLineEdit(production_.*kStringKeys[i].member, &dialog);
        field->setObjectName(QString::fromLatin1(kStringKeys[i].name).section('.', 1));
        form->addRow(QString::fromLatin1(kLabels[i]), field);
        fields.push_back(field);
    }
    auto* format = new QComboBox(&dialog);
    format->setObjectName(QStringLiteral("outputFormat"));
    for (const SoundReportFormat& each : soundReportFormats())
        format->addItem(QString::fromUtf8(each.shownName), each.comboValue);
    format->setCurrentIndex(outputFormat_);
    form->addRow(QStringLiteral("Output Format:"), format);

    auto* logoRow = new QHBoxLayout;
    auto* logoField = new QLineEdit(production_.companyLogoPath, &dialog);
    logoField->setObjectName(QStringLiteral("companyLogoPath"));
    logoField->setReadOnly(true);
    logoField->setPlaceholderText(QStringLiteral("No logo selected"));
    logoRow->addWidget(logoField, 1);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), &dialog);
    auto* clear = new QPushButton(QStringLiteral("Clear"), &dialog);
    logoRow->addWidget(browse);
    logoRow->addWidget(clear);
    form->addRow(QStringLiteral("Company Logo:"), logoRow);

    auto* preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("logoPreview"));
    preview->setFixedSize(kLogoPreview);
    preview->setAlignment(Qt::AlignCenter);
    // A light box for logos drawn on white; its own text colour, since the
    // dark window around it would hand it light grey text.
    preview->setStyleSheet(QStringLiteral("QLabel { border: 1px solid %1; background: %2; color: %3; }")
                               .arg(Theme::kReportPaperBorder, Theme::kReportPaper, Theme::kReportPaperText));
    showLogoPreview(preview, production_.companyLogoPath);
    form->addRow(QString(), preview);
    layout->addLayout(form);

    const QString startPath = production_.companyLogoPath;
    connect(browse, &QPushButton::clicked, &dialog, [&, this] {
        const QString chosen = prompts_.chooseLogo(&dialog, QStringLiteral("Select Company Logo"), startPath,
                                                   QStringLiteral("Images (*.png *.jpg *.jpeg *.bmp *.gif)"));
        if (chosen.isEmpty())
            return;
        logoField->setText(chosen);
        showLogoPreview(preview, chosen);
    });
    connect(clear, &QPushButton::clicked, &dialog, [&] {
        logoField->clear();
        showLogoPreview(preview, QString());
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    if (prompts_.runDialog(dialog) != QDialog::Accepted)
        return;
    for (int i = 0; i < 6; ++i)
        production_.*kStringKeys[i].member = fields[static_cast<size_t>(i)]->text();
    production_.companyLogoPath = logoField->text();
    outputFormat_ = format->currentIndex();
    saveProductionInfo();
}

const SoundReportFormat& SoundReportDialog::chosenFormat() const
{
    return soundReportFormat(outputFormat_);
}

QString SoundReportDialog::proposedFileName() const
{
    const QString project = takes_.empty() ? QString() : safeNamePart(takes_.front().project);
    const QString roll = safeNamePart(rollName_);
    const QString extension = QString::fromUtf8(chosenFormat().extension);
    QString stem = QStringLiteral("SoundReport");
    if (!project.isEmpty() && !roll.isEmpty())
        stem = project + "_" + roll + "_SoundReport";
    else if (!project.isEmpty())
        stem = project + "_SoundReport";
    else if (!roll.isEmpty())
        stem = roll + "_SoundReport";
    // Named as takes are, so the card, a backup drive or a share takes it:
    // a project such as "Day1: Unit" is no name FAT, exFAT or NTFS accepts.
    const size_t stemBytes = kMaxFileNameBytes - static_cast<size_t>(extension.toUtf8().size());
    return QString::fromStdString(portableName(shortenUtf8(stem.toStdString(), stemBytes))) + extension;
}

void SoundReportDialog::onCreateReport()
{
    if (takes_.empty()) {
        prompts_.showMessage(this, QStringLiteral("No Takes"), QStringLiteral("Please scan a folder with WAV files first."));
        return;
    }
    const SoundReportFormat& chosen = chosenFormat();
    const QString path = prompts_.chooseSaveFile(this, QStringLiteral("Save Sound Report"),
                                                 folderPath_ + "/" + proposedFileName(),
                                                 QString::fromUtf8(chosen.fileFilter));
    if (path.isEmpty())
        return;
    const QString name = QString::fromUtf8(chosen.shortName);
    if (generateReport(chosen, path)) {
        showSuccess(name + " report generated successfully!");
        return;
    }
    debugLog("SoundReport: " + name.toStdString() + " report to " + path.toStdString() + " failed: " +
             lastReportError_.toStdString());
    // The reason and the path, so the recordist can choose another place or
    // name rather than guess.
    QString text = "Failed to generate " + name + " report.";
    if (!lastReportError_.isEmpty())
        text += "\n\n" + lastReportError_;
    text += "\n\nFile: " + QDir::toNativeSeparators(path);
    prompts_.showMessage(this, QStringLiteral("Error"), text);
}

void SoundReportDialog::showSuccess(const QString& text)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("reportSuccessLabel"));
    label->setStyleSheet(toastStyle(Theme::kToastSuccess));
    label->setAlignment(Qt::AlignCenter);
    label->adjustSize();
    label->move((width() - label->width()) / 2, 50);
    label->show();
    label->raise();
    QTimer::singleShot(kSuccessMilliseconds, label, &QObject::deleteLater);
}

bool SoundReportDialog::generateReport(const SoundReportFormat& format, const QString& path)
{
    lastReportError_.clear();
    // Without a project name of its own the report carries the project the
    // takes are recorded under.
    SoundReportProduction production = production_;
    if (production.projectName.trimmed().isEmpty())
        production.projectName =
            QString::fromStdString(ConfigManager::getInstance()->getString(MetadataKeys::kProject, "")).trimmed();
    if (production.projectName.isEmpty() && !takes_.empty())
        production.projectName = takes_.front().project;
    return format.write(path, takes_, production, rollName_, lastReportError_);
}

#include "ui/tools/MediaSettingsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>

namespace {

constexpr int kMaxRollSeconds = 30;

int rollSecondsShown(int seconds)
{
    return seconds >= 0 && seconds <= kMaxRollSeconds ? seconds : 0;
}

int bitDepthShown(int bitDepth)
{
    return bitDepth == 16 || bitDepth == 32 ? bitDepth : 24;
}

} // namespace

MediaSettingsDialog::MediaSettingsDialog(const std::string& saveLocation, int fileFormat, int bitDepth,
                                         int prerollSeconds, int postrollSeconds, bool externalMediaEnabled,
                                         bool liveBackupActiveTake, const std::vector<ExternalPathInfo>& externalPaths,
                                         QWidget* parent)
    : QDialog(parent),
      saveLocation_(saveLocation),
      fileFormat_(fileFormat == 1 ? 1 : 0),
      bitDepth_(bitDepthShown(bitDepth)),
      prerollSeconds_(rollSecondsShown(prerollSeconds)),
      postrollSeconds_(rollSecondsShown(postrollSeconds)),
      liveBackupActiveTake_(liveBackupActiveTake)
{
    if (externalMediaEnabled)
        externalPaths_ = externalPaths;
    setWindowTitle("Media Settings");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString("Save location: %1").arg(QString::fromStdString(saveLocation_)), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::string MediaSettingsDialog::getSaveLocation() const
{
    return QString::fromStdString(saveLocation_).trimmed().toStdString();
}

int MediaSettingsDialog::getSampleFormat() const
{
    if (bitDepth_ == 16)
        return 0;
    return bitDepth_ == 32 ? 3 : 1;
}

// The media settings dialog over virtual volumes: initial values and their
// clamping, the drive rows of each kind, what the getters hand back, Refresh,
// and OK's handling of the save location.

#include "ModalBoxAnswerer.h"
#include "platform/volumes/VirtualVolumeSystem.h"
#include "support/TempHome.h"
#include "ui/tools/MediaSettingsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace {

using PathInfo = MediaSettingsDialog::ExternalPathInfo;

class MediaSettingsDialogTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        setVolumesRoots(defaultVolumesRoots());
        installVolumeSystem(&volumes_);
    }
    void TearDown() override { installVolumeSystem(nullptr); }

    static QListWidget* list(MediaSettingsDialog& dialog) { return dialog.findChild<QListWidget*>(); }
    static QWidget* row(MediaSettingsDialog& dialog, int index)
    {
        return list(dialog)->itemWidget(list(dialog)->item(index));
    }
    static QCheckBox* check(MediaSettingsDialog& dialog, int index) { return row(dialog, index)->findChild<QCheckBox*>(); }
    static QComboBox* layoutBox(MediaSettingsDialog& dialog, int index)
    {
        return row(dialog, index)->findChild<QComboBox*>();
    }
    static QString label(MediaSettingsDialog& dialog, int index) { return row(dialog, index)->findChild<QLabel*>()->text(); }
    static QPushButton* button(QDialog& dialog, const QString& text)
    {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
            if (candidate->text() == text)
                return candidate;
        return nullptr;
    }
    MediaSettingsDialog* open(const std::string& save, const std::vector<PathInfo>& drives, int fileFormat = 0,
                              int bitDepth = 24, int preroll = 5, int postroll = 3)
    {
        dialog_ = std::make_unique<MediaSettingsDialog>(save, fileFormat, bitDepth, preroll, postroll, true, false,
                                                        drives);
        return dialog_.get();
    }

    VirtualVolumeSystem volumes_;
    std::unique_ptr<MediaSettingsDialog> dialog_;
};

TEST_F(MediaSettingsDialogTest, InitialValuesAreClampedAndGettersReadTheControls)
{
    struct Case {
        int fileFormat, bitDepth, preroll, postroll;
        const char* formatText;
        const char* depthText;
        int wantPreroll, wantPostroll, wantDepth, wantSampleFormat;
    };
    const Case cases[] = {
        {1, 16, 0, 30, "Monophonic (One file per track)", "16-bit", 0, 30, 16, 0},
        {5, 20, 45, -1, "Polyphonic (Multi-track WAV)", "24-bit", 0, 0, 24, 1},
        {0, 32, 30, 10, "Polyphonic (Multi-track WAV)", "32-bit float", 30, 10, 32, 3},
    };
    for (const Case& c : cases) {
        MediaSettingsDialog& dialog = *open("  /rec  ", {}, c.fileFormat, c.bitDepth, c.preroll, c.postroll);
        const auto boxes = dialog.findChildren<QComboBox*>();
        EXPECT_EQ(boxes[0]->currentText(), c.formatText);
        EXPECT_EQ(boxes[1]->currentText(), c.depthText);
        EXPECT_EQ(dialog.getPrerollSeconds(), c.wantPreroll);
        EXPECT_EQ(dialog.getPostrollSeconds(), c.wantPostroll);
        EXPECT_EQ(dialog.getBitDepth(), c.wantDepth);
        EXPECT_EQ(dialog.getSampleFormat(), c.wantSampleFormat);
        EXPECT_EQ(dialog.getFileFormat(), c.fileFormat == 1 ? 1 : 0);
        EXPECT_EQ(dialog.getSaveLocation(), "/rec");
    }
    EXPECT_EQ(dialog_->windowTitle(), "Media Settings");
    EXPECT_FALSE(dialog_->isLiveBackupActiveTakeEnabled());

    const std::pair<unsigned long long, const char*> sizes[] = {
        {1023, "1023 B"}, {1024, "1.0 KB"}, {1536, "1.5 KB"}, {1073741824ULL, "1.0 GB"},
        {5ULL << 20, "5.0 MB"}, {3ULL << 40, "3.0 TB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(MediaSettingsDialog::formatSize(bytes), text) << bytes;
}

TEST_F(MediaSettingsDialogTest, RowsOfEachKindFromTheVolumeLayer)
{
    volumes_.addVolume("/home", "home", 1ULL << 40, 1ULL << 39);  // not under a volumes root
    volumes_.addVolume("/media/u/CARD_A", "CARD_A", 64ULL << 30, 3ULL << 30);
    volumes_.addVolume("/media/u/NEW", "", 32ULL << 30, 1536);
    volumes_.addVolume("/media/u/BUSY", "BUSY", 1ULL << 30, 0).ready = false;
    MediaSettingsDialog& dialog =
        *open("/rec", {{"/media/u/CARD_A", 1}, {"/media/u/GONE", 1}, {"/media/u/NEW/", 0}, {"", 0}});

    ASSERT_EQ(list(dialog)->count(), 4);
    // Mounted and configured: checked, its layout.
    EXPECT_EQ(label(dialog, 0), "CARD_A (/media/u/CARD_A) - 3.0 GB free");
    EXPECT_TRUE(check(dialog, 0)->isChecked());
    EXPECT_EQ(layoutBox(dialog, 0)->currentText(), "Mono");
    // Mounted, unconfigured (a trailing "/" never matches): unchecked, Poly, named by its folder.
    EXPECT_EQ(label(dialog, 1), "NEW (/media/u/NEW) - 1.5 KB free");
    EXPECT_FALSE(check(dialog, 1)->isChecked());
    EXPECT_EQ(layoutBox(dialog, 1)->currentText(), "Poly");
    // Configured but missing: red, dark row, layout disabled, still checked.
    EXPECT_EQ(label(dialog, 2), "GONE (/media/u/GONE) - DISCONNECTED!");
    EXPECT_EQ(row(dialog, 2)->findChild<QLabel*>()->styleSheet(), "color: #FF4444; font-weight: bold;");
    EXPECT_EQ(list(dialog)->item(2)->background().color(), QColor(0x50, 0x1E, 0x1E));
    EXPECT_FALSE(layoutBox(dialog, 2)->isEnabled());
    EXPECT_EQ(layoutBox(dialog, 2)->currentText(), "Mono");
    EXPECT_EQ(label(dialog, 3), "NEW (/media/u/NEW/) - DISCONNECTED!");
    EXPECT_EQ(list(dialog)->item(3)->data(Qt::UserRole).toString(), "/media/u/NEW/");

    const auto checked = dialog.getExternalMediaPathsWithFormats();
    ASSERT_EQ(checked.size(), 3u);
    EXPECT_EQ(checked[0].path, "/media/u/CARD_A");
    EXPECT_EQ(checked[0].format, 1);
    EXPECT_EQ(checked[1].path, "/media/u/GONE");
    EXPECT_EQ(checked[1].format, 1);
    EXPECT_EQ(checked[2].path, "/media/u/NEW/");
    EXPECT_TRUE(dialog.isExternalMediaEnabled());

    // Changes, then a drive pulled and Refresh: rows rebuilt from the opening state.
    check(dialog, 1)->setChecked(true);
    layoutBox(dialog, 1)->setCurrentIndex(1);
    check(dialog, 0)->setChecked(false);
    EXPECT_EQ(dialog.getExternalMediaPaths(),
              (std::vector<std::string>{"/media/u/NEW", "/media/u/GONE", "/media/u/NEW/"}));
    volumes_.remove("/media/u/CARD_A");
    button(dialog, "Refresh")->click();
    ASSERT_EQ(list(dialog)->count(), 4);
    EXPECT_EQ(label(dialog, 0), "NEW (/media/u/NEW) - 1.5 KB free");
    EXPECT_FALSE(check(dialog, 0)->isChecked());
    EXPECT_EQ(label(dialog, 1), "CARD_A (/media/u/CARD_A) - DISCONNECTED!");
    EXPECT_TRUE(check(dialog, 1)->isChecked());
}

TEST_F(MediaSettingsDialogTest, NoDrivesShowsThePlaceholderAndReportsNothing)
{
    MediaSettingsDialog& dialog = *open("/rec", {});
    ASSERT_EQ(list(dialog)->count(), 1);
    EXPECT_EQ(list(dialog)->item(0)->text(), "No external drives detected - connect USB drive and click Refresh");
    EXPECT_FALSE(list(dialog)->item(0)->flags() & Qt::ItemIsEnabled);
    EXPECT_FALSE(dialog.isExternalMediaEnabled());
    EXPECT_TRUE(dialog.getExternalMediaPaths().empty());
    EXPECT_TRUE(dialog.getExternalMediaPathsWithFormats().empty());
}

TEST_F(MediaSettingsDialogTest, OkChecksTheSaveLocation)
{
    const QString file = home_.path() + "/a-file";
    QFile(file).open(QIODevice::WriteOnly);
    struct Case {
        QString location;
        const char* title;   // empty: accepted
        const char* textPart;
    };
    const Case cases[] = {
        {"   ", "Invalid Location", "Please select a save location."},
        {file, "Invalid Location", "is not a folder"},
        {file + "/sub", "Error", "Failed to create directory: "},
        {home_.path() + "/new/takes", "", ""},
        {home_.path(), "", ""},
    };
    for (const Case& c : cases) {
        MediaSettingsDialog& dialog = *open(c.location.toStdString(), {});
        dialog.show();
        ModalBoxAnswerer answerer;
        button(dialog, "OK")->click();
        if (*c.title == '\0') {
            EXPECT_EQ(answerer.count(), 0) << c.location.toStdString();
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_TRUE(QDir(c.location).exists());
            continue;
        }
        ASSERT_EQ(answerer.count(), 1) << c.location.toStdString();
        EXPECT_EQ(answerer.boxes()[0].title, c.title);
        EXPECT_TRUE(answerer.boxes()[0].text.contains(c.textPart)) << answerer.boxes()[0].text.toStdString();
        EXPECT_TRUE(dialog.isVisible()) << "stays open";
    }
    EXPECT_TRUE(QFileInfo(file).isFile());

    MediaSettingsDialog& dialog = *open("/rec", {});
    dialog.show();
    button(dialog, "Cancel")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

} // namespace

namespace {

// A row of each kind, drawn for a look (TONVALE_SCREENSHOT_DIR keeps the picture).
TEST_F(MediaSettingsDialogTest, GrabShowsEveryKindOfRowUnclipped)
{
    volumes_.addVolume("/media/u/CARD_A", "CARD_A", 64ULL << 30, 3ULL << 30);
    volumes_.addVolume("/media/u/NEW", "", 32ULL << 30, 12ULL << 30);
    MediaSettingsDialog& dialog = *open(home_.pathStd() + "/takes", {{"/media/u/CARD_A", 1}, {"/media/u/GONE", 0}});
    dialog.show();
    QApplication::processEvents();
    const QPixmap picture = dialog.grab();
    EXPECT_EQ(picture.size(), dialog.size() * picture.devicePixelRatio());
    for (int index = 0; index < 3; ++index) {
        QLabel* text = row(dialog, index)->findChild<QLabel*>();
        EXPECT_GE(text->width(), text->sizeHint().width()) << text->text().toStdString();
        EXPECT_TRUE(text->isVisible());
    }
    const QByteArray folder = qgetenv("TONVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(folder)).filePath("MediaSettingsDialog.png")));
    }
}

} // namespace

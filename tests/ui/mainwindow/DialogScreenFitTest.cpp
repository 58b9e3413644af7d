// Every dialog and tool window the menus open fits the screen it opens on,
// with every control reachable: whole inside the window, or inside a part
// that scrolls; the buttons that close a dialog never scroll away. This
// binary runs once on a 1024x768 screen and once on a large one, where the
// windows keep the sizes they ask for. With TONVALE_SCREENSHOT_DIR set, each
// window is saved there to be looked at.
#include "MainWindowTestSupport.h"

#include "core/settings/MetadataKeys.h"

#include "ui/common/ElidedTextButton.h"
#include "ui/common/ScreenFit.h"
#include "ui/mainwindow/AppearanceDialog.h"
#include "ui/mixer/ChannelStripDialog.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

namespace {

// The texts of the buttons that end a dialog or a window's work, when they
// stand outside the dialog's groups.
const QStringList kClosingButtons = {"OK", "Cancel", "Close", "Apply", "Save", "Done", "Save All"};

bool scrolls(const QWidget& widget, const QWidget& window)
{
    for (const QWidget* up = widget.parentWidget(); up != nullptr && up != &window; up = up->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(up) != nullptr)
            return true;
    }
    return false;
}

bool inGroup(const QWidget& widget, const QWidget& window)
{
    for (const QWidget* up = widget.parentWidget(); up != nullptr && up != &window; up = up->parentWidget()) {
        if (qobject_cast<const QGroupBox*>(up) != nullptr)
            return true;
    }
    return false;
}

bool isControl(const QWidget& widget)
{
    return qobject_cast<const QAbstractButton*>(&widget) != nullptr ||
           qobject_cast<const QComboBox*>(&widget) != nullptr ||
           qobject_cast<const QAbstractSpinBox*>(&widget) != nullptr ||
           qobject_cast<const QLineEdit*>(&widget) != nullptr;
}

// What a person could not reach in `window`, as it stands on its screen.
void expectReachable(QWidget& window, const std::string& name)
{
    SCOPED_TRACE(name);
    const QRect available = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    EXPECT_TRUE(available.contains(frame)) << "frame " << frame.x() << "," << frame.y() << " " << frame.width()
                                           << "x" << frame.height() << " outside the screen's "
                                           << available.width() << "x" << available.height();
    if (const QLayout* layout = window.layout()) {
        const QSize needed = layout->totalMinimumSize();
        EXPECT_GE(window.width(), needed.width()) << "squeezed below what its controls need";
        EXPECT_GE(window.height(), needed.height()) << "squeezed below what its controls need";
    }
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisibleTo(&window) || child->window() != &window)
            continue;
        const QRect place(child->mapTo(&window, QPoint(0, 0)), child->size());
        const bool scrolled = scrolls(*child, window);
        const auto* button = qobject_cast<const QAbstractButton*>(child);
        const std::string label = button != nullptr ? button->text().toStdString() : std::string();
        if (qobject_cast<QDialogButtonBox*>(child) != nullptr ||
            (button != nullptr && kClosingButtons.contains(button->text().remove('&')) && !inGroup(*child, window))) {
            EXPECT_FALSE(scrolled) << child->metaObject()->className() << " \"" << label << "\" scrolls away";
        }
        if (isControl(*child) && !scrolled) {
            EXPECT_TRUE(window.rect().contains(place))
                << child->metaObject()->className() << " " << child->objectName().toStdString() << " \"" << label
                << "\" at " << place.x() << "," << place.y() << " " << place.width() << "x" << place.height()
                << " is cut off";
        }
    }
}

bool largeScreen()
{
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    return available.width() >= 1920 && available.height() >= 1080;
}

QString screenName()
{
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    return QString("%1x%2").arg(available.width()).arg(available.height());
}

void checkAndClose(QWidget& window, const QString& className, const QSize& largeSize)
{
    QTest::qWait(30);
    expectReachable(window, className.toStdString());
    if (largeScreen() && largeSize.isValid()) {
        EXPECT_EQ(window.size(), largeSize) << className.toStdString() << " on a large screen";
    }
    keepPicture(window, className + "-" + screenName());
    if (auto* modal = qobject_cast<QDialog*>(&window))
        modal->reject();
    window.close();
}

TEST_F(MainWindowTest, EveryMenuDialogFitsTheScreenWithItsControlsReachable)
{
    MainWindow& window = makeDeviceWindow();
    window.show();
    ModalBoxAnswerer boxes;
    struct Case {
        const char* menu;
        const char* entry;
        const char* className;
        QSize largeSize;  // the size it opens at when the screen has room; invalid: its layout's
    };
    const Case cases[] = {
        {"&Routing", "Input Matrix", "InputMatrixDialog", QSize(1600, 1000)},
        {"&Routing", "Output Matrix", "OutputMatrixDialog", QSize(800, 500)},
        {"&Routing", "AUX Sends", "AuxSendsDialog", QSize()},
        {"&Routing", "Playback Routing", "PlaybackRoutingDialog", QSize()},
        {"&Routing", "Save/Load Configuration...", "ConfigSnapshotDialog", QSize()},
        {"&Media", "Media Settings", "MediaSettingsDialog", QSize()},
        {"&Audio", "Select Audio Device...", "AudioDeviceDialog", QSize()},
        {"&Controller", "Select Control Surface", "FaderAssignmentDialog", QSize()},
        {"&Tools", "LTC Generator", "LtcGeneratorDialog", QSize()},
        {"&Tools", "TC Accuracy Test...", "TcAccuracyTestDialog", QSize()},
        {"&Tools", "Offsets...", "OffsetsDialog", QSize()},
        {"&Tools", "Metadata Manager", "MetadataManagerWindow", QSize(1200, 800)},
        {"&Tools", "Sound Report", "SoundReportDialog", QSize(1200, 800)},
        {"&Tools", "Audio Playback", "PlaybackDialog", QSize()},
        {"&Tools", "Hotkeys...", "HotkeysDialog", QSize()},
        {"&Tools", "File Server...", "FileServerDialog", QSize()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        bool shown = false;
        whenShown(
            c.className,
            [&](QWidget& dialog) {
                shown = true;
                checkAndClose(dialog, c.className, c.largeSize);
            },
            100);
        QAction* entry = action(c.menu, c.entry);
        ASSERT_NE(entry, nullptr);
        entry->trigger();
        for (int round = 0; round < 200 && !shown; ++round)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(shown) << c.className << " did not show";
    }
}

TEST_F(MainWindowTest, ChannelStripAndAppearanceFitTheScreen)
{
    MainWindow& window = makeDeviceWindow();
    window.show();
    QTest::mouseClick(window.mixerStrips()[2].trackButton, Qt::LeftButton);
    ChannelStripDialog* strip = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<ChannelStripDialog*>(widget); found != nullptr && found->isVisible())
            strip = found;
    }
    ASSERT_NE(strip, nullptr);
    checkAndClose(*strip, "ChannelStripDialog", QSize(750, 850));

    AppearanceDialog appearance(&window);
    appearance.show();
    checkAndClose(appearance, "AppearanceDialog", QSize());
}

// A long scene in the "Last:" line is cut with "..." (the whole line in its
// tooltip) instead of widening its column and squeezing the metadata fields.
TEST_F(MainWindowTest, LongLastTakeLineIsElidedAndLeavesTheFieldsTheirWidth)
{
    struct Case {
        const char* scene;
        bool elided;
    };
    const Case cases[] = {
        {"12A", false},
        {"12A_EXT_NIGHT_PARKING_LOT_WIDE_MASTER_WITH_CRANE_AND_RAIN_TOWERS_AND_TWO_BACKUP_ANGLES", true},
    };
    std::vector<int> shortSceneWidths;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        resetConfig();
        seed({{MetadataKeys::kLastSoundRoll, std::string("R07")},
              {MetadataKeys::kLastScene, std::string(c.scene)},
              {MetadataKeys::kLastTake, std::string("03")}});
        MainWindow& window = makeWindow();
        window.resize(roomOnScreen(window).boundedTo(QSize(1920, 1080)));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(50);
        auto* last = dynamic_cast<ElidedTextButton*>(window.lastRecordingButton());
        ASSERT_NE(last, nullptr);
        const QString whole = QString("Last: R07 / %1 / T03").arg(c.scene);
        EXPECT_EQ(last->text(), whole);
        EXPECT_EQ(last->toolTip(), whole);
        EXPECT_EQ(last->shownText().endsWith("..."), c.elided) << last->shownText().toStdString();
        EXPECT_TRUE(whole.startsWith(last->shownText().chopped(c.elided ? 3 : 0)));
        EXPECT_LE(last->fontMetrics().horizontalAdvance(last->shownText()), last->width());

        std::vector<int> widths;
        for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
            if (group->title() != "Recording Metadata")
                continue;
            for (QLineEdit* field : group->findChildren<QLineEdit*>())
                widths.push_back(field->width());
        }
        ASSERT_FALSE(widths.empty());
        if (shortSceneWidths.empty())
            shortSceneWidths = widths;
        else
            EXPECT_EQ(widths, shortSceneWidths) << "the metadata fields keep their width";
        keepPicture(window, QString("last-line-%1-%2").arg(c.elided ? "long" : "short", screenName()));
        window_.reset();
    }
}

} // namespace

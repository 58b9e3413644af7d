// Every tool the menus name opens its own dialog from the running window:
// the entry reaches the real class, the dialog shows with a usable size, and
// closing it leaves the window working. With TONVALE_SCREENSHOT_DIR set, each
// dialog is saved as a PNG there to be looked at.
#include "MainWindowTestSupport.h"

#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/MetadataManagerWindow.h"
#include "ui/tools/ModalBoxAnswerer.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

TEST_F(MainWindowTest, ToolEntriesOpenTheirDialogs)
{
    MainWindow& window = makeWindow();
    window.show();
    ModalBoxAnswerer boxes;
    struct Case {
        const char* menu;
        const char* entry;
        const char* className;
    };
    const Case cases[] = {
        {"&Routing", "AUX Sends", "AuxSendsDialog"},
        {"&Routing", "Playback Routing", "PlaybackRoutingDialog"},
        {"&Routing", "Save/Load Configuration...", "ConfigSnapshotDialog"},
        {"&Controller", "Select Control Surface", "FaderAssignmentDialog"},
        {"&Tools", "LTC Generator", "LtcGeneratorDialog"},
        {"&Tools", "TC Accuracy Test...", "TcAccuracyTestDialog"},
        {"&Tools", "Offsets...", "OffsetsDialog"},
        {"&Tools", "Metadata Manager", "MetadataManagerWindow"},
        {"&Tools", "Sound Report", "SoundReportDialog"},
        {"&Tools", "Audio Playback", "PlaybackDialog"},
        {"&Tools", "File Server...", "FileServerDialog"},
    };
    const QString screenshotDir = qEnvironmentVariable("TONVALE_SCREENSHOT_DIR");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        bool shown = false;
        QSize size;
        QSize needed;  // what the dialog's layout needs to show every control
        whenShown(
            c.className,
            [&](QWidget& dialog) {
                shown = true;
                size = dialog.size();
                needed = dialog.layout() != nullptr ? dialog.layout()->minimumSize() : QSize();
                if (!screenshotDir.isEmpty())
                    dialog.grab().save(QDir(screenshotDir).filePath(QString(c.className) + ".png"));
                if (auto* modal = qobject_cast<QDialog*>(&dialog))
                    modal->reject();
                dialog.close();
            },
            100);
        QAction* entry = action(c.menu, c.entry);
        ASSERT_NE(entry, nullptr);
        entry->trigger();
        // Modeless windows return at once: let the poll find them.
        for (int round = 0; round < 200 && !shown; ++round)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(shown) << c.className << " did not show";
        EXPECT_GE(size.width(), 200);
        EXPECT_GE(size.height(), 100);
        EXPECT_GE(size.width(), needed.width()) << c.className << " is narrower than its contents";
        EXPECT_GE(size.height(), needed.height()) << c.className << " is shorter than its contents";
    }
    EXPECT_TRUE(window.isVisible());
}

// Runs the menu entry and reports which top-level dialog class of
// `classNames` (if any) showed while it ran; it is rejected and closed.
QString classShownBy(QAction* entry, const QStringList& classNames)
{
    QString shownClass;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&shownClass, &classNames] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            const QString className = widget->metaObject()->className();
            if (!widget->isVisible() || !classNames.contains(className))
                continue;
            shownClass = className;
            if (auto* modal = qobject_cast<QDialog*>(widget))
                modal->reject();
            widget->close();
        }
    });
    poll.start(10);
    entry->trigger();
    for (int round = 0; round < 50 && shownClass.isEmpty(); ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return shownClass;
}

// The window as it runs when its engine could not be made: every tool that
// talks to the engine says so and opens nothing; the others still open.
TEST_F(MainWindowTest, WithoutAnEngineEngineToolsShowTheirBoxAndTheRestOpen)
{
    MainWindow& window = makeWindow();
    window.show();
    window.dropEngineForTest();
    ASSERT_EQ(window.engine(), nullptr);
    ModalBoxAnswerer boxes;
    struct Case {
        const char* menu;
        const char* entry;
        const char* opens;  // null: the "no engine" box instead
    };
    const Case cases[] = {
        {"&Routing", "Input Matrix", nullptr},
        {"&Routing", "Output Matrix", nullptr},
        {"&Routing", "AUX Sends", nullptr},
        {"&Routing", "Save/Load Configuration...", nullptr},
        {"&Tools", "LTC Generator", nullptr},
        {"&Tools", "TC Accuracy Test...", nullptr},
        {"&Tools", "Offsets...", nullptr},
        {"&Routing", "Playback Routing", "PlaybackRoutingDialog"},
        {"&Tools", "Audio Playback", "PlaybackDialog"},
        {"&Tools", "Metadata Manager", "MetadataManagerWindow"},
    };
    const QStringList dialogClasses = {"InputMatrixDialog", "OutputMatrixDialog", "AuxSendsDialog",
                                       "ConfigSnapshotDialog", "LtcGeneratorDialog", "TcAccuracyTestDialog",
                                       "OffsetsDialog", "PlaybackRoutingDialog", "PlaybackDialog",
                                       "MetadataManagerWindow"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        QAction* entry = action(c.menu, c.entry);
        ASSERT_NE(entry, nullptr);
        const int boxesBefore = boxes.count();
        const QString shown = classShownBy(entry, dialogClasses);
        if (c.opens == nullptr) {
            EXPECT_TRUE(shown.isEmpty()) << shown.toStdString() << " opened without an engine";
            ASSERT_EQ(boxes.count(), boxesBefore + 1);
            EXPECT_EQ(boxes.boxes().back().title, "Error");
            EXPECT_EQ(boxes.boxes().back().text, "Audio engine not available.");
        } else {
            EXPECT_EQ(shown, c.opens);
            EXPECT_EQ(boxes.count(), boxesBefore);
        }
    }
    EXPECT_EQ(window.ltcGeneratorDialog(), nullptr);
    EXPECT_EQ(window.tcAccuracyTestDialog(), nullptr);
}

// The timecode test and the metadata manager are made once and kept: closing
// hides them, reopening shows the same window. The test needs a running
// generator and starts it again if it was stopped meanwhile.
TEST_F(MainWindowTest, KeptToolWindowsAreReusedAndTheTimecodeTestStartsTheGenerator)
{
    MainWindow& window = makeWindow();
    window.show();
    ModalBoxAnswerer boxes;

    action("&Tools", "TC Accuracy Test...")->trigger();
    QPointer<TcAccuracyTestDialog> test = window.tcAccuracyTestDialog();
    ASSERT_FALSE(test.isNull());
    EXPECT_TRUE(test->isVisible());
    EXPECT_FALSE(test->isModal());
    ASSERT_NE(window.ltcGeneratorDialog(), nullptr);
    EXPECT_TRUE(window.ltcGeneratorDialog()->isGenerating());
    ASSERT_NE(window.ltcEncoder(), nullptr);
    EXPECT_EQ(window.ltcGeneratorDialog()->getEncoder(), window.ltcEncoder()) << "the window's one generator";

    test->close();
    window.ltcGeneratorDialog()->onStartStop();
    ASSERT_FALSE(window.ltcGeneratorDialog()->isGenerating());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(test.isNull()) << "closing deleted the kept test window";
    action("&Tools", "TC Accuracy Test...")->trigger();
    EXPECT_EQ(window.tcAccuracyTestDialog(), test.data());
    EXPECT_TRUE(test->isVisible());
    EXPECT_TRUE(window.ltcGeneratorDialog()->isGenerating());

    action("&Tools", "Metadata Manager")->trigger();
    QPointer<MetadataManagerWindow> manager = window.metadataManagerWindow();
    ASSERT_FALSE(manager.isNull());
    EXPECT_TRUE(manager->isVisible());
    manager->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(manager.isNull()) << "closing deleted the kept metadata manager";
    EXPECT_FALSE(manager->isVisible());
    action("&Tools", "Metadata Manager")->trigger();
    EXPECT_EQ(window.metadataManagerWindow(), manager.data());
    EXPECT_TRUE(manager->isVisible());
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(MainWindowTest, OffsetsDialogRunsModallyAndDeletesItselfWhenClosed)
{
    MainWindow& window = makeWindow();
    window.show();
    QPointer<QDialog> offsets;
    bool shown = false;
    bool wasModal = false;
    whenShown(
        "OffsetsDialog",
        [&offsets, &shown, &wasModal](QWidget& dialog) {
            shown = true;
            offsets = qobject_cast<QDialog*>(&dialog);
            wasModal = QApplication::activeModalWidget() == &dialog;
            offsets->reject();
        },
        100);
    action("&Tools", "Offsets...")->trigger();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(QTest::qWaitFor([&offsets] { return offsets.isNull(); }, 2000)) << "the closed dialog was kept";
}

}  // namespace

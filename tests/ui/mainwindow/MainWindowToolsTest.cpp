// Every tool the menus name opens its own dialog from the running window:
// the entry reaches the real class, the dialog shows with a usable size, and
// closing it leaves the window working. With TONVALE_SCREENSHOT_DIR set, each
// dialog is saved as a PNG there to be looked at.
#include "MainWindowTestSupport.h"

#include "ui/tools/ModalBoxAnswerer.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QTimer>

#include <functional>

namespace {

// Polls for a visible top-level widget of `className`; grabs and closes it.
void whenShown(const QString& className, std::function<void(QWidget&)> act, int triesLeft)
{
    QTimer::singleShot(20, [className, act = std::move(act), triesLeft] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && className == widget->metaObject()->className()) {
                act(*widget);
                return;
            }
        }
        if (triesLeft > 0)
            whenShown(className, act, triesLeft - 1);
    });
}

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

}  // namespace

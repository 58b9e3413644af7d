#include "ui/mixer/FaderAssignmentDialog.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "platform/midi/DefaultMidiSystem.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/TempHome.h"
#include "support/WidgetLegibility.h"
#include "support/UdpPorts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

// Answers every modal message box with OK and keeps its texts.
class ModalBoxAnswerer {
public:
    ModalBoxAnswerer()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts_ << box->windowTitle() + ": " + box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer_.start(10);
    }
    QStringList texts() const { return texts_; }

private:
    QTimer timer_;
    QStringList texts_;
};

class FaderAssignmentDialogTest : public TempHomeTest {
protected:
    FaderAssignmentDialogTest() : midi_(std::make_shared<VirtualMidiSystem>())
    {
        setDefaultMidiSystem(midi_);
        for (const char* name : {"X-Touch Compact", "nanoKONTROL2", "Korg microKEY Air"}) {
            midi_->addSource(name);
            midi_->addDestination(name);
        }
        manager_.initialize();
    }
    ~FaderAssignmentDialogTest() override
    {
        manager_.shutdown();
        setDefaultMidiSystem(nullptr);
    }

    template <typename T>
    static T* child(FaderAssignmentDialog& dialog)
    {
        return dialog.findChild<T*>();
    }
    static QPushButton* button(FaderAssignmentDialog& dialog, const QString& text)
    {
        for (QPushButton* b : dialog.findChildren<QPushButton*>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    static QStringList comboItems(FaderAssignmentDialog& dialog)
    {
        QStringList items;
        auto* combo = child<QComboBox>(dialog);
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    }
    static void addThroughCombo(FaderAssignmentDialog& dialog, const QString& name)
    {
        auto* combo = child<QComboBox>(dialog);
        combo->setCurrentIndex(combo->findText(name));
        ASSERT_GE(combo->currentIndex(), 0) << name.toStdString();
        QTest::mouseClick(button(dialog, "Add"), Qt::LeftButton);
    }
    static QString header(FaderAssignmentDialog& dialog, int column)
    {
        return child<QTableWidget>(dialog)->horizontalHeaderItem(column)->text();
    }
    // Clicks a cell's check box the way a user does: the item changes state.
    static void toggle(FaderAssignmentDialog& dialog, int row, int column)
    {
        QTableWidgetItem* item = child<QTableWidget>(dialog)->item(row, column);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
    static bool checked(FaderAssignmentDialog& dialog, int row, int column)
    {
        return child<QTableWidget>(dialog)->item(row, column)->checkState() == Qt::Checked;
    }
    static int checkCount(FaderAssignmentDialog& dialog)
    {
        auto* table = child<QTableWidget>(dialog);
        int count = 0;
        for (int r = 0; r < table->rowCount(); ++r) {
            for (int c = 0; c < table->columnCount(); ++c)
                count += table->item(r, c)->checkState() == Qt::Checked;
        }
        return count;
    }
    std::vector<std::string> assignments() const
    {
        std::vector<std::string> entries;
        for (const FaderAssignment& a : manager_.getFaderAssignments())
            entries.push_back(a.deviceName + ":" + std::to_string(a.faderIndex) + ":" + std::to_string(a.trackIndex));
        return entries;
    }

    std::shared_ptr<VirtualMidiSystem> midi_;
    MidiControllerManager manager_;
};

}  // namespace

TEST_F(FaderAssignmentDialogTest, EmptyMatrixOffersEveryDevice)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Fader Assignments");
    auto* table = child<QTableWidget>(dialog);
    EXPECT_EQ(table->rowCount(), 32);
    EXPECT_EQ(table->columnCount(), 0);
    EXPECT_EQ(table->verticalHeaderItem(0)->text(), "Track 1");
    EXPECT_EQ(table->verticalHeaderItem(31)->text(), "Track 32");
    EXPECT_EQ(comboItems(dialog),
              (QStringList{"X-Touch Compact", "nanoKONTROL2", "Korg microKEY Air", "CL-12 Network (UDP)"}));
}

TEST_F(FaderAssignmentDialogTest, AddedControllersBecomeColumnsAndLeaveTheDeviceList)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    addThroughCombo(dialog, "X-Touch Compact");
    addThroughCombo(dialog, "nanoKONTROL2");
    addThroughCombo(dialog, "Korg microKEY Air");
    auto* table = child<QTableWidget>(dialog);
    ASSERT_EQ(table->columnCount(), 16 + 8 + 8);
    EXPECT_EQ(header(dialog, 0), "XT\n1");
    EXPECT_EQ(header(dialog, 15), "XT\n16");
    EXPECT_EQ(header(dialog, 16), "NK2\n1");
    EXPECT_EQ(header(dialog, 24), "Korg\n1");
    EXPECT_EQ(dialog.getControllerNameForColumn(24), "Korg microKEY Air");
    EXPECT_EQ(dialog.getFaderIndexForColumn(31), 7);
    EXPECT_EQ(dialog.getFaderIndexForColumn(32), -1);
    EXPECT_EQ(dialog.getControllerNameForColumn(-1), "");
    EXPECT_EQ(dialog.findColumnForFader("nanoKONTROL2", 2), 18);
    EXPECT_EQ(dialog.abbreviateControllerName("Cantarem 2"), "CA");
    EXPECT_EQ(dialog.abbreviateControllerName("Cantarem X"), "CA");
    EXPECT_EQ(dialog.abbreviateControllerName("nanoKONTROL2 Bridge"), "NK2");
    EXPECT_EQ(comboItems(dialog), QStringList{"CL-12 Network (UDP)"});
    QTest::mouseClick(button(dialog, "Refresh"), Qt::LeftButton);
    EXPECT_EQ(comboItems(dialog), QStringList{"CL-12 Network (UDP)"});
    auto* list = child<QListWidget>(dialog);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->data(Qt::UserRole).toString(), "nanoKONTROL2");
    EXPECT_EQ(ConfigManager::getInstance()->getString("midi.controllers", ""),
              "X-Touch Compact|nanoKONTROL2|Korg microKEY Air");
}

TEST_F(FaderAssignmentDialogTest, ChecksFollowTheOneFaderPerTrackRule)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    addThroughCombo(dialog, "X-Touch Compact");
    addThroughCombo(dialog, "nanoKONTROL2");
    const int xtFader1 = dialog.findColumnForFader("X-Touch Compact", 0);
    const int nanoFader3 = dialog.findColumnForFader("nanoKONTROL2", 2);

    toggle(dialog, 4, xtFader1);
    EXPECT_EQ(assignments(), std::vector<std::string>{"X-Touch Compact:0:4"});
    const size_t logBefore = home_.logText().size();
    toggle(dialog, 4, nanoFader3);
    EXPECT_FALSE(checked(dialog, 4, xtFader1));
    EXPECT_TRUE(checked(dialog, 4, nanoFader3));
    EXPECT_EQ(assignments(), std::vector<std::string>{"nanoKONTROL2:2:4"});
    const std::string log = home_.logText().substr(logBefore);
    const size_t removal = log.find("Removed assignment for X-Touch Compact Fader 1 -> Track 5");
    const size_t assignment = log.find("Assigned nanoKONTROL2 Fader 3 to Track 5");
    ASSERT_NE(removal, std::string::npos);
    ASSERT_NE(assignment, std::string::npos);
    EXPECT_LT(removal, assignment);

    // A second track in the same column keeps the first.
    toggle(dialog, 9, nanoFader3);
    EXPECT_TRUE(checked(dialog, 4, nanoFader3));
    EXPECT_EQ(assignments(), (std::vector<std::string>{"nanoKONTROL2:2:4", "nanoKONTROL2:2:9"}));
    // ... and both checks are there again after a rebuild.
    dialog.hide();
    dialog.show();
    EXPECT_TRUE(checked(dialog, 4, nanoFader3));
    EXPECT_TRUE(checked(dialog, 9, nanoFader3));
    EXPECT_EQ(checkCount(dialog), 2);

    toggle(dialog, 4, nanoFader3);
    EXPECT_EQ(assignments(), std::vector<std::string>{"nanoKONTROL2:2:9"});

    QTest::mouseClick(button(dialog, "Clear All"), Qt::LeftButton);
    EXPECT_EQ(checkCount(dialog), 0);
    EXPECT_TRUE(manager_.getFaderAssignments().empty());
}

TEST_F(FaderAssignmentDialogTest, DoubleClickRemovesAndAFailedAddSaysWhy)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    dialog.show();
    addThroughCombo(dialog, "nanoKONTROL2");
    toggle(dialog, 0, 0);
    auto* list = child<QListWidget>(dialog);
    ASSERT_EQ(list->count(), 1);
    const QRect rect = list->visualItemRect(list->item(0));
    // A real double click starts with a press the view remembers.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(child<QTableWidget>(dialog)->columnCount(), 0);
    EXPECT_TRUE(manager_.getFaderAssignments().empty());
    EXPECT_TRUE(comboItems(dialog).contains("nanoKONTROL2"));

    ModalBoxAnswerer answerer;
    UdpPortHolder busy;  // the receiver cannot bind its port
    manager_.setNetworkReceiverPort(busy.port());
    addThroughCombo(dialog, "CL-12 Network (UDP)");
    EXPECT_EQ(answerer.texts(), QStringList{"Error: Failed to add controller: CL-12 Network (UDP)"});
    EXPECT_EQ(list->count(), 0);
}

// A saved surface whose device is unplugged stays saved; the dialog lists it
// so the person can remove it, and removing it forgets it for good.
TEST_F(FaderAssignmentDialogTest, AbsentSavedSurfaceIsListedAndCanBeRemoved)
{
    ConfigManager::getInstance()->setString("midi.controllers", "nanoKONTROL2|Unplugged Box");
    MidiControllerManager manager;
    manager.initialize();
    FaderAssignmentDialog dialog(&manager, nullptr);
    dialog.show();
    auto* list = child<QListWidget>(dialog);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "nanoKONTROL2");
    EXPECT_EQ(list->item(1)->text(), "Unplugged Box (not connected)");
    EXPECT_EQ(child<QTableWidget>(dialog)->columnCount(), 8) << "only a connected surface has faders to assign";
    const QByteArray folder = qgetenv("TONVALE_SCREENSHOT_DIR");
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
        dialog.resize(size);
        QApplication::processEvents();
        if (!folder.isEmpty())
            dialog.grab().save(QDir(QString::fromLocal8Bit(folder))
                                   .filePath(QString("FaderAssignmentDialog-absent-%1.png").arg(size.width())));
    }

    const QRect rect = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "nanoKONTROL2");
    EXPECT_EQ(ConfigManager::getInstance()->getString("midi.controllers", ""), "nanoKONTROL2");
    EXPECT_TRUE(manager.getAbsentSavedControllers().empty());
    manager.shutdown();
}

// A bridge's lines reach the tracks assigned in the dialog: the receiver is
// added through the combo, faders 1 and 3 are ticked for tracks 5 and 2, and
// datagrams through a real loopback socket arrive as track fader moves.
TEST_F(FaderAssignmentDialogTest, UdpReceiverAddedInTheDialogMovesItsTracks)
{
    UdpPortHolder held;
    const uint16_t port = held.port();
    held.release();
    manager_.setNetworkReceiverPort(port);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::string> moves;
    manager_.setFaderCallback([&](int track, int value) {
        std::lock_guard<std::mutex> lock(mutex);
        moves.push_back(std::to_string(track) + "=" + std::to_string(value));
        arrived.notify_all();
    });
    FaderAssignmentDialog dialog(&manager_, nullptr);
    dialog.show();
    addThroughCombo(dialog, "CL-12 Network (UDP)");
    ASSERT_EQ(manager_.getControllers().size(), 1u);
    toggle(dialog, 4, 0);
    toggle(dialog, 1, 2);
    sendUdp(port, "F0:255\nF1:10\nF2:51\n");
    sendUdp(port, "F0:0");
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return moves.size() >= 3; });
    EXPECT_EQ(moves, (std::vector<std::string>{"4=16383", "1=3276", "4=0"}));
}

TEST_F(FaderAssignmentDialogTest, CloseSavesAndAccepts)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    dialog.show();
    addThroughCombo(dialog, "nanoKONTROL2");
    ConfigManager::getInstance()->setString("midi.faderAssignments", "stale");
    QTest::mouseClick(button(dialog, "Close"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(ConfigManager::getInstance()->getString("midi.faderAssignments", "x"), "");
}

// Under Xvfb with the xcb platform, TONVALE_SCREENSHOT_DIR names a folder for
// a picture of the dialog to look at.
TEST_F(FaderAssignmentDialogTest, GrabShowsTheWholeDialog)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    addThroughCombo(dialog, "X-Touch Compact");
    addThroughCombo(dialog, "nanoKONTROL2");
    toggle(dialog, 0, 0);
    toggle(dialog, 1, 17);
    toggle(dialog, 2, 17);
    dialog.resize(1000, 700);
    dialog.show();
    QApplication::processEvents();
    const QPixmap picture = dialog.grab();
    EXPECT_EQ(picture.size(), dialog.size() * picture.devicePixelRatio());
    const QByteArray folder = qgetenv("TONVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(folder)).filePath("FaderAssignmentDialog.png")));
    }
}

// Every cell's check box must stand out from the dark cell, checked or not
// (WCAG asks 3:1 for the parts of a control one must see), at the default
// window size and at full HD.
TEST_F(FaderAssignmentDialogTest, CheckBoxesShowOnTheDarkGrid)
{
    FaderAssignmentDialog dialog(&manager_, nullptr);
    addThroughCombo(dialog, "X-Touch Compact");
    toggle(dialog, 1, 0);
    auto* table = child<QTableWidget>(dialog);
    for (const auto& [width, height] : kScreenSizes) {
        SCOPED_TRACE(width);
        const QImage picture = grabAtSize(dialog, "fader-assignment", width, height);
        const QPoint origin = table->viewport()->mapTo(&dialog, QPoint(0, 0));
        const struct {
            int row;
            const char* state;
        } cells[] = {{0, "unchecked"}, {1, "checked"}};
        for (const auto& cell : cells) {
            const QRect rect = table->visualRect(table->model()->index(cell.row, 0)).translated(origin);
            const qreal ratio = picture.devicePixelRatio();
            const QColor background = picture.pixelColor((rect.topLeft() + QPoint(2, 2)) * ratio);
            int standingOut = 0;
            for (int y = rect.top() + 1; y < rect.bottom(); ++y)
                for (int x = rect.left() + 1; x < rect.right(); ++x)
                    standingOut += contrastRatio(picture.pixelColor(QPoint(x, y) * ratio), background) >= 3.0;
            // The indicator's outline, an 18-pixel box with rounded corners,
            // is some 50 pixels; a dark-on-dark one shows none.
            EXPECT_GE(standingOut, 40) << cell.state;
        }
    }
}


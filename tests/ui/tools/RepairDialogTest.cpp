// The repair dialog on the offscreen platform: what it lists, and that its
// buttons repair, delete (only after a yes) and skip.

#include "UnclosedTakeFixture.h"
#include "support/TempHome.h"
#include "ui/tools/RepairDialog.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>

namespace {

class RepairDialogTest : public TempHomeTest {
protected:
    std::vector<RF64Repairer::CorruptedFile> scanTakes()
    {
        const QString folder = home_.path() + "/takes";
        QDir().mkpath(folder);
        TakeLayout layout;
        EXPECT_TRUE(writeUnclosedTake((folder + "/good.wav").toStdString(), layout, 48000, 0));
        EXPECT_TRUE(writeUnclosedTake((folder + "/empty.wav").toStdString(), layout, 0, 3));
        RF64Repairer repairer;
        auto found = repairer.scanDirectory(folder.toStdString(), false);
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.fileName > b.fileName; });
        return found;  // good.wav first
    }

    static QTableWidget* table(RepairDialog& dialog) { return dialog.findChild<QTableWidget*>(); }
    static QPushButton* button(RepairDialog& dialog, const QString& text)
    {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
            if (candidate->text() == text)
                return candidate;
        return nullptr;
    }
};

TEST_F(RepairDialogTest, ListsEachFileWithWhetherItCanBeRepaired)
{
    RepairDialog dialog(scanTakes());
    EXPECT_EQ(dialog.windowTitle(), "Recover Incomplete Recordings");
    ASSERT_EQ(dialog.rowCount(), 2);
    QTableWidget* rows = table(dialog);
    EXPECT_EQ(rows->item(0, 0)->text(), "good.wav");
    EXPECT_EQ(rows->item(0, 2)->text(), "00:00:01");
    EXPECT_EQ(rows->item(0, 3)->text(), "2");
    EXPECT_EQ(rows->item(0, 4)->text(), "48000 Hz");
    EXPECT_EQ(rows->item(0, 5)->text(), "Can be repaired");
    EXPECT_EQ(rows->item(1, 5)->text(), "Cannot repair: Cannot calculate correct sizes");

    dialog.show();
    EXPECT_NE(home_.logText().find("RepairDialog: listing 2 recording(s)\n"), std::string::npos);
}

TEST_F(RepairDialogTest, RepairReportsEachFileWithTheRepairersReason)
{
    RepairDialog dialog(scanTakes());
    table(dialog)->selectAll();
    button(dialog, "Repair Selected")->click();
    EXPECT_TRUE(dialog.resultText().contains("Successfully repaired: good.wav")) << dialog.resultText().toStdString();
    EXPECT_TRUE(dialog.resultText().contains("Failed to repair: empty.wav (Cannot calculate correct sizes)"))
        << dialog.resultText().toStdString();
    RF64Repairer repairer;
    EXPECT_FALSE(repairer.needsRepair((home_.path() + "/takes/good.wav").toStdString()));
    EXPECT_TRUE(repairer.needsRepair((home_.path() + "/takes/empty.wav").toStdString()));
}

TEST_F(RepairDialogTest, DeleteOnlyAfterConfirmationAndSkipRejects)
{
    RepairDialog dialog(scanTakes());
    const QString good = home_.path() + "/takes/good.wav";
    int asked = 0;
    bool answer = false;
    dialog.setDeleteConfirmation([&](int count) {
        asked = count;
        return answer;
    });
    table(dialog)->clearSelection();
    table(dialog)->selectRow(0);
    button(dialog, "Delete Selected")->click();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(QFile::exists(good));
    EXPECT_EQ(dialog.rowCount(), 2);

    answer = true;
    button(dialog, "Delete Selected")->click();
    EXPECT_FALSE(QFile::exists(good));
    EXPECT_EQ(dialog.rowCount(), 1);
    EXPECT_EQ(table(dialog)->item(0, 0)->text(), "empty.wav");

    dialog.show();
    button(dialog, "Skip")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}

} // namespace

// The output matrix offscreen: bus rows, list membership, several outputs
// per track and per bus, the level group and the generator level, renames,
// and what OK, Apply and Cancel emit.

#include "MixerTestSupport.h"

#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "timecode/LtcEncoder.h"
#include "ui/mixer/OutputMatrixDialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <cmath>

namespace {

using Matrix = std::vector<std::vector<std::string>>;
using States = std::vector<std::map<std::string, std::string>>;

const std::vector<std::string> kPorts{"Out 1", "Out 2", "Out 3", "Out 4"};

class OutputMatrixTest : public TempHomeTest {
protected:
    std::unique_ptr<OutputMatrixDialog> open(int tracks, const Matrix& routing, const std::string& mix = "",
                                             const std::string& coms = "", const std::string& monitor = "",
                                             const std::string& ltcGen = "", LtcEncoder* generator = nullptr,
                                             const std::vector<std::string>& ports = kPorts)
    {
        auto dialog = std::make_unique<OutputMatrixDialog>(ports, tracks, std::vector<std::string>{"Boom", "Lav"},
                                                           routing, States(static_cast<size_t>(tracks)), mix, coms,
                                                           monitor, ltcGen, generator);
        dialog->show();
        return dialog;
    }
    static QTableWidget* grid(OutputMatrixDialog& d) { return d.findChild<QTableWidget*>(); }
    static QGroupBox* levelGroup(OutputMatrixDialog& d) { return d.findChild<QGroupBox*>(); }
    static QComboBox* levelChooser(OutputMatrixDialog& d) { return d.findChild<QComboBox*>(); }
    static QPushButton* button(OutputMatrixDialog& d, const QString& text)
    {
        for (QPushButton* b : d.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    static double peakOf(LtcEncoder& generator)
    {
        std::vector<float> samples(48000 / 5);
        generator.generateSamples(samples.data(), static_cast<int>(samples.size()));
        float peak = 0.0f;
        for (float s : samples)
            peak = std::max(peak, std::fabs(s));
        return peak;
    }
};

TEST_F(OutputMatrixTest, BusRowsWithTheirColoursTooltipsAndStartingChecks)
{
    auto dialog = open(2, {{"Out 2"}, {}}, "Out 1, Out 2", "out 1", " Out 3 ", "Out 4,Out 9");
    QTableWidget* g = grid(*dialog);
    ASSERT_EQ(g->rowCount(), 6);
    ASSERT_EQ(g->columnCount(), 5);
    struct Row {
        int row;
        const char* header;
        const char* first;
        const char* foreground;
        const char* background;
        const char* tooltipOfOut2;
    };
    const Row rows[] = {
        {0, "Mix\n(All Tracks)", "Mix", "#0078d4", "#2a3a4a", "Include Out 2 in Mix output"},
        {1, "COMS\n(Slate + Talkback)", "COMS", "#ff8c00", "#3a3020", "Include Out 2 in COMS output"},
        {2, "MONITOR\n(PFL/Mix)", "MONITOR", "#44ff44", "#2a3a2a", "Include Out 2 in MONITOR output"},
        {3, "Track 1", nullptr, "#dddddd", "#383838", "Route Track 1 to Out 2"},
        {5, "INTERNAL\nLTC GEN", "INTERNAL", "#00cc44", "#2a3a2a", "Route LTC Generator to Out 2"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.header);
        const QTableWidgetItem* header = g->verticalHeaderItem(r.row);
        EXPECT_EQ(header->text(), r.header);
        EXPECT_EQ(header->foreground().color().name(), r.foreground);
        EXPECT_EQ(header->background().color().name(), r.background);
        if (r.first != nullptr) {
            EXPECT_EQ(g->item(r.row, 0)->text(), r.first);
        }
        EXPECT_EQ(g->item(r.row, 2)->toolTip(), r.tooltipOfOut2);
        EXPECT_EQ(g->item(r.row, 2)->background().color().name(), r.background);
    }
    // " Out 2" is trimmed; "out 1" is not Out 1; names match no column ignored.
    EXPECT_EQ(dialog->getMixOutputPort(), "Out 1,Out 2");
    EXPECT_EQ(dialog->getComsOutputPort(), "");
    EXPECT_EQ(dialog->getMonitorOutputPort(), "Out 3");
    EXPECT_EQ(dialog->getLtcGenOutputPort(), "Out 4");
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Out 2"}, {}}));
    EXPECT_EQ(dialog->getRoutingStates(), States(2));
}

TEST_F(OutputMatrixTest, ListMembership)
{
    struct Case {
        const char* port;
        const char* list;
        bool expected;
    };
    const Case cases[] = {
        {"Out 2", "Out 1, Out 2", true}, {"Out 1", "out 1", false}, {"Out 1", "", false},
        {"Out 1", " Out 1 ,", true},     {"", ",", true},          {"Out", "Out 1", false},
        {"Out 1", "Out\t1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OutputMatrixDialog::isOutputInList(c.port, c.list), c.expected) << c.port << " in " << c.list;
}

TEST_F(OutputMatrixTest, SeveralOutputsPerTrackAndPerBusJoinedWithoutBlanks)
{
    auto dialog = open(2, {{}, {}});
    QSignalSpy changed(dialog.get(), &OutputMatrixDialog::configurationChanged);
    QTableWidget* g = grid(*dialog);
    clickCheckCell(g, 3, 4);
    clickCheckCell(g, 3, 1);
    clickCheckCell(g, 0, 3);
    clickCheckCell(g, 0, 2);
    clickCheckCell(g, 1, 1);
    clickCheckCell(g, 2, 2);
    EXPECT_EQ(changed.count(), 6);
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Out 1", "Out 4"}, {}}));
    EXPECT_EQ(dialog->getMixOutputPort(), "Out 2,Out 3");
    EXPECT_EQ(dialog->getComsOutputPort(), "Out 1");
    EXPECT_EQ(dialog->getMonitorOutputPort(), "Out 2");
}

TEST_F(OutputMatrixTest, TrackNamesAreShownReadOnly)
{
    auto dialog = open(3, {});
    auto* name = qobject_cast<QLineEdit*>(grid(*dialog)->cellWidget(3, 0));
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->isReadOnly());
    QTest::keyClicks(name, "X");
    EXPECT_EQ(dialog->getTrackNames(), (std::vector<std::string>{"Boom", "Lav", "Track 3"}));
}

TEST_F(OutputMatrixTest, NoOutputsAndNoTracks)
{
    auto empty = open(2, {}, "", "", "", "", nullptr, {});
    QTableWidget* g = grid(*empty);
    ASSERT_EQ(g->rowCount(), 1);
    EXPECT_EQ(g->item(0, 0)->text(), "No outputs available. Please configure your audio interface.");
    QSignalSpy applied(empty.get(), &OutputMatrixDialog::routingApplied);
    QTest::mouseClick(button(*empty, "OK"), Qt::LeftButton);
    ASSERT_EQ(applied.count(), 1);
    EXPECT_TRUE(applied[0][0].value<Matrix>().empty());
    EXPECT_TRUE(applied[0][1].value<States>().empty());
    for (int i = 2; i < 6; ++i)
        EXPECT_TRUE(applied[0][i].value<std::string>().empty());

    auto noTracks = open(0, {});
    EXPECT_EQ(grid(*noTracks)->rowCount(), 4);
    EXPECT_EQ(grid(*noTracks)->verticalHeaderItem(3)->text(), "INTERNAL\nLTC GEN");
}

TEST_F(OutputMatrixTest, LevelGroupFollowsTheGeneratorRowAndSetsTheGenerator)
{
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    auto dialog = open(1, {}, "", "", "", "", &generator);
    QTableWidget* g = grid(*dialog);
    EXPECT_TRUE(levelGroup(*dialog)->isHidden());
    EXPECT_EQ(levelChooser(*dialog)->currentText(), "-10 dBFS");
    clickCheckCell(g, 4, 1);
    clickCheckCell(g, 4, 2);
    EXPECT_FALSE(levelGroup(*dialog)->isHidden());
    clickCheckCell(g, 4, 1);
    EXPECT_FALSE(levelGroup(*dialog)->isHidden());
    clickCheckCell(g, 4, 2);
    EXPECT_TRUE(levelGroup(*dialog)->isHidden());
    clickCheckCell(g, 4, 3);

    QSignalSpy changed(dialog.get(), &OutputMatrixDialog::configurationChanged);
    levelChooser(*dialog)->setFocus();
    QTest::keyClick(levelChooser(*dialog), Qt::Key_Up);  // from -10 dBFS
    EXPECT_EQ(levelChooser(*dialog)->currentText(), "-6 dBFS");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.level", -1), 2);
    EXPECT_NEAR(peakOf(generator), std::pow(10.0, -6.0 / 20.0), 0.02);
    ConfigManager::getInstance()->resetForTests();
    ASSERT_TRUE(ConfigManager::getInstance()->loadConfig(""));
    EXPECT_EQ(ConfigManager::getInstance()->getInt("ltcgen.level", -1), 2);

    // Without a generator the group never shows.
    auto without = open(1, {}, "", "", "", "Out 1");
    EXPECT_TRUE(levelGroup(*without)->isHidden());
}

TEST_F(OutputMatrixTest, StoredLevelIndexShowsItsLevelAndAnUnknownOneShowsMinusTen)
{
    const std::pair<const char*, const char*> cases[] = {
        {"3", "-10 dBFS"}, {"0", "0 dBFS"}, {"5", "-18 dBFS"}, {"6", "-10 dBFS"}, {"-1", "-10 dBFS"}, {"x", "-10 dBFS"}};
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    for (const auto& [stored, shown] : cases) {
        SCOPED_TRACE(stored);
        ConfigManager::getInstance()->setString("ltcgen.level", stored);
        auto dialog = open(1, {}, "", "", "", "Out 1", &generator);
        EXPECT_EQ(levelChooser(*dialog)->currentText(), shown);
        EXPECT_EQ(ConfigManager::getInstance()->getString("ltcgen.level", ""), stored) << "rewritten unasked";
    }
}

TEST_F(OutputMatrixTest, OkAndApplyEmitTheGettersAndCancelEmitsNothing)
{
    auto dialog = open(2, {{"Out 1"}, {}}, "Out 2");
    QSignalSpy applied(dialog.get(), &OutputMatrixDialog::routingApplied);
    QSignalSpy changed(dialog.get(), &OutputMatrixDialog::configurationChanged);
    clickCheckCell(grid(*dialog), 4, 3);
    dialog->onApplyClicked();
    ASSERT_EQ(applied.count(), 1);
    EXPECT_EQ(applied[0][0].value<Matrix>(), (Matrix{{"Out 1"}, {"Out 3"}}));
    EXPECT_EQ(applied[0][2].value<std::string>(), "Out 2");
    EXPECT_TRUE(dialog->isVisible());

    QTest::mouseClick(button(*dialog, "Cancel"), Qt::LeftButton);
    EXPECT_EQ(applied.count(), 1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);

    auto other = open(1, {}, "Out 4");
    QSignalSpy okApplied(other.get(), &OutputMatrixDialog::routingApplied);
    QTest::mouseClick(button(*other, "OK"), Qt::LeftButton);
    ASSERT_EQ(okApplied.count(), 1);
    EXPECT_EQ(okApplied[0][2].value<std::string>(), "Out 4");
    EXPECT_EQ(other->result(), QDialog::Accepted);
}

TEST_F(OutputMatrixTest, RenameByHeaderDoubleClickKeepsChecks)
{
    AliasAnswerer answerer;
    auto dialog = open(2, {{"Out 1"}, {}}, "Out 2", "", "", "Out 3");
    QTableWidget* g = grid(*dialog);
    clickCheckCell(g, 4, 4);  // track 2 to Out 4
    clickCheckCell(g, 0, 2);  // Out 2 off the mix
    clickCheckCell(g, 1, 1);  // Out 1 onto coms
    QSignalSpy changed(dialog.get(), &OutputMatrixDialog::configurationChanged);

    answerer.answer(std::nullopt);
    doubleClickHeader(g, 2);
    EXPECT_EQ(changed.count(), 0);
    ASSERT_EQ(answerer.questions().size(), 1u);
    EXPECT_EQ(answerer.questions()[0].title, "Edit Output Name");
    EXPECT_EQ(answerer.questions()[0].prompt, "Output: Out 2\nEnter alias (leave empty to reset):");

    answerer.answer("Camera A");
    doubleClickHeader(g, 2);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(OutputMatrixDialog::getOutputLabel("Out 2"), "Camera A");
    EXPECT_EQ(g->horizontalHeaderItem(2)->text().remove('\n'), "Camera A");
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Out 1"}, {"Out 4"}}));
    EXPECT_EQ(dialog->getMixOutputPort(), "");
    EXPECT_EQ(dialog->getComsOutputPort(), "Out 1");
    EXPECT_EQ(dialog->getLtcGenOutputPort(), "Out 3");
    // The grid still reports changes once after the rebuild.
    clickCheckCell(g, 2, 1);
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(OutputMatrixTest, ScreenshotWithEightLongPorts)
{
    std::vector<std::string> ports;
    for (int i = 1; i <= 8; ++i)
        ports.push_back("RME Fireface UFX II Output " + std::to_string(i));
    ports[7] = "Dante Rx Camera Return 08";
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    OutputMatrixDialog dialog(ports, 8, {"Boom", "Lav 1", "Lav 2"}, {{ports[0]}, {ports[1]}, {ports[2]}}, States(8),
                              ports[0] + "," + ports[1], ports[4], ports[5], ports[6], &generator);
    dialog.show();
    EXPECT_FALSE(levelGroup(dialog)->isHidden());
    const QImage image = grabAndKeep(&dialog, "output-matrix");
    EXPECT_EQ(image.size(), dialog.size() * image.devicePixelRatio());
}

}  // namespace


// The input matrix offscreen, driven through its widgets: default checks,
// one input per track, the choosers and their starting values, renames and
// the save-and-signal on every change.

#include "MixerTestSupport.h"

#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "ui/mixer/InputMatrixDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

namespace {

const std::vector<std::string> kPorts{"Mic 1", "Mic 2", "Dante Rx 03", "Line In 4"};

class InputMatrixTest : public TempHomeTest {
protected:
    std::unique_ptr<InputMatrixDialog> open(int trackCount, std::vector<std::string> names = {},
                                            std::vector<std::vector<std::string>> routing = {})
    {
        auto dialog = std::make_unique<InputMatrixDialog>(kPorts, trackCount, names, routing);
        dialog->show();
        return dialog;
    }
    static QTableWidget* grid(InputMatrixDialog& d) { return d.findChild<QTableWidget*>(); }
    static QSpinBox* countBox(InputMatrixDialog& d) { return d.findChild<QSpinBox*>(); }
    // The choosers in layout order: LTC input, slate input, slate gain, COM 1, COM 2.
    static QComboBox* chooser(InputMatrixDialog& d, int index) { return d.findChildren<QComboBox*>().at(index); }
    static QCheckBox* box(InputMatrixDialog& d, const QString& group, const QString& text)
    {
        for (QGroupBox* g : d.findChildren<QGroupBox*>())
            if (g->title() == group)
                for (QCheckBox* b : g->findChildren<QCheckBox*>())
                    if (b->text() == text)
                        return b;
        return nullptr;
    }
    static QLineEdit* nameEdit(InputMatrixDialog& d, int row)
    {
        return qobject_cast<QLineEdit*>(grid(d)->cellWidget(row, 0));
    }
    bool configFileExists() const { return QFile::exists(QString::fromStdString(ConfigManager::getInstance()->getConfigPath())); }
};

using Matrix = std::vector<std::vector<std::string>>;

TEST_F(InputMatrixTest, DefaultChecksPutTrackIOnInputIAndNeverOnTheGenerator)
{
    auto dialog = open(0);  // below 1 opens with 8 tracks
    EXPECT_EQ(dialog->windowTitle(), "Input Matrix - Track Configuration");
    EXPECT_EQ(dialog->getTrackCount(), 8);
    EXPECT_EQ(countBox(*dialog)->minimum(), 1);
    EXPECT_EQ(countBox(*dialog)->maximum(), 32);
    QTableWidget* g = grid(*dialog);
    ASSERT_EQ(g->columnCount(), 6);
    EXPECT_EQ(g->horizontalHeaderItem(0)->text(), "Track Name");
    EXPECT_EQ(g->horizontalHeaderItem(3)->text(), "D\nV\nS\n \n0\n3");
    EXPECT_EQ(g->horizontalHeaderItem(5)->text(), "L\nT\nC\nG\nE\nN");
    EXPECT_EQ(dialog->getRoutingMatrix(),
              (Matrix{{"Mic 1"}, {"Mic 2"}, {"Dante Rx 03"}, {"Line In 4"}, {}, {}, {}, {}}));
    EXPECT_EQ(dialog->getTrackNames().front(), "Track 1");
    EXPECT_EQ(dialog->getTrackNames().back(), "Track 8");
}

TEST_F(InputMatrixTest, GivenRoutingAndNamesShowAsGiven)
{
    // An empty entry leaves its row unchecked; two matching names both show;
    // an unknown port is skipped.
    auto dialog = open(4, {"Boom", ""}, {{"LTCGEN"}, {}, {"Mic 1", "Line In 4"}, {"Gone"}});
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"LTCGEN"}, {}, {"Mic 1", "Line In 4"}, {}}));
    EXPECT_EQ(dialog->getTrackNames(), (std::vector<std::string>{"Boom", "", "Track 3", "Track 4"}));
}

TEST_F(InputMatrixTest, OneInputPerTrackAndEachClickSavesAndSignals)
{
    auto dialog = open(3);
    QSignalSpy changed(dialog.get(), &InputMatrixDialog::configurationChanged);
    QTableWidget* g = grid(*dialog);

    clickCheckCell(g, 0, 3);  // track 1 onto Dante Rx 03
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(dialog->getRoutingMatrix()[0], std::vector<std::string>{"Dante Rx 03"});
    EXPECT_FALSE(isChecked(g, 0, 1));

    clickCheckCell(g, 0, 3);  // unchecking the only input leaves none
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(dialog->getRoutingMatrix()[0].empty());

    clickCheckCell(g, 1, 5);
    EXPECT_EQ(dialog->getRoutingMatrix()[1], std::vector<std::string>{"LTCGEN"});
    EXPECT_EQ(changed.count(), 3);

    // Typing a name signals on every edit, and the store is on disk.
    QLineEdit* name = nameEdit(*dialog, 2);
    name->selectAll();
    QTest::keyClicks(name, "Boom");
    EXPECT_EQ(changed.count(), 3 + 4);  // one per letter
    EXPECT_EQ(dialog->getTrackNames()[2], "Boom");
    ConfigManager::getInstance()->setString("probe", "x");
    clickCheckCell(g, 2, 2);
    EXPECT_TRUE(configFileExists());
}

TEST_F(InputMatrixTest, ChoosersYieldRawPortsAndNoneGivesEmpty)
{
    InputMatrixDialog::setInputLabel("Mic 2", "Slate");
    auto dialog = open(2);
    QSignalSpy changed(dialog.get(), &InputMatrixDialog::configurationChanged);
    QComboBox* ltc = chooser(*dialog, 0);
    EXPECT_EQ(ltc->itemText(0), "(None)");
    EXPECT_EQ(ltc->itemText(ltc->count() - 1), "LTCGEN");
    EXPECT_EQ(chooser(*dialog, 1)->findText("LTCGEN"), -1);

    chooseEntry(ltc, "LTCGEN");
    EXPECT_EQ(dialog->getLtcInputPort(), "LTCGEN");
    chooseEntry(chooser(*dialog, 1), "Slate (Mic 2)");
    EXPECT_EQ(dialog->getSlateMicPort(), "Mic 2");
    chooseEntry(chooser(*dialog, 2), "+12 dB");
    EXPECT_EQ(dialog->getSlateMicGain(), 12);
    chooseEntry(chooser(*dialog, 3), "DVS 03 (Dante Rx 03)");
    EXPECT_EQ(dialog->getComInput1Port(), "Dante Rx 03");
    chooseEntry(chooser(*dialog, 3), "(None)");
    EXPECT_EQ(dialog->getComInput1Port(), "");
    EXPECT_EQ(dialog->getComInput2Port(), "");
    QTest::mouseClick(box(*dialog, "COM", "COM 2"), Qt::LeftButton);
    EXPECT_TRUE(dialog->isComInput2Enabled());
    EXPECT_GE(changed.count(), 6);
}

TEST_F(InputMatrixTest, StartingValuesFromTheNineKeys)
{
    ConfigManager* config = ConfigManager::getInstance();
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> keys;
        std::string ltc, slate, com1, com2;
        int gain;
        bool ltcOn, slateOn, com1On, com2On;
    };
    const Case cases[] = {
        {"all set",
         {{"ltc.enabled", "true"}, {"ltc.input", "LTCGEN"}, {"slate.enabled", "true"}, {"slate.input", "Mic 2"},
          {"slate.gain", "-3"}, {"com1.enabled", "true"}, {"com1.input", "Line In 4"}, {"com2.enabled", "1"},
          {"com2.input", "Mic 1"}},
         "LTCGEN", "Mic 2", "Line In 4", "Mic 1", -3, true, true, true, true},
        // A vanished port leaves "(None)"; a gain not in the list leaves 0 dB.
        {"vanished port and odd gain",
         {{"ltc.input", "Old Interface 9"}, {"slate.gain", "2"}, {"com1.enabled", "yes"}},
         "", "", "", "", 0, false, false, true, false},
        {"nothing stored", {}, "", "", "", "", 0, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config->resetForTests();
        for (const auto& [key, value] : c.keys)
            config->setString(key, value);
        auto dialog = open(2);
        EXPECT_EQ(dialog->getLtcInputPort(), c.ltc);
        EXPECT_EQ(dialog->getSlateMicPort(), c.slate);
        EXPECT_EQ(dialog->getComInput1Port(), c.com1);
        EXPECT_EQ(dialog->getComInput2Port(), c.com2);
        EXPECT_EQ(dialog->getSlateMicGain(), c.gain);
        EXPECT_EQ(dialog->isLtcEnabled(), c.ltcOn);
        EXPECT_EQ(dialog->isSlateMicEnabled(), c.slateOn);
        EXPECT_EQ(dialog->isComInput1Enabled(), c.com1On);
        EXPECT_EQ(dialog->isComInput2Enabled(), c.com2On);
    }
}

TEST_F(InputMatrixTest, TrackCountChangeKeepsEditsOfRowsThatStay)
{
    auto dialog = open(3, {"Boom", "Lav"}, {{"Mic 2"}, {"Mic 1"}, {}});
    QSignalSpy changed(dialog.get(), &InputMatrixDialog::configurationChanged);
    QTableWidget* g = grid(*dialog);
    clickCheckCell(g, 2, 4);  // track 3 onto Line In 4
    QLineEdit* name = nameEdit(*dialog, 0);
    name->selectAll();
    QTest::keyClicks(name, "Plant");

    QSpinBox* count = countBox(*dialog);
    count->setFocus();
    QTest::keyClick(count, Qt::Key_Up);  // 4 tracks
    EXPECT_EQ(dialog->getTrackCount(), 4);
    EXPECT_EQ(dialog->getTrackNames(), (std::vector<std::string>{"Plant", "Lav", "Track 3", "Track 4"}));
    // The new row starts as a new row does: track 4 on input 4.
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Mic 2"}, {"Mic 1"}, {"Line In 4"}, {"Line In 4"}}));
    const int before = changed.count();

    QTest::keyClick(count, Qt::Key_Down);
    QTest::keyClick(count, Qt::Key_Down);  // 2 tracks
    EXPECT_EQ(changed.count(), before + 2);
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Mic 2"}, {"Mic 1"}}));
    QTest::keyClick(count, Qt::Key_Up);  // a row brought back starts as given at opening
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Mic 2"}, {"Mic 1"}, {}}));
    EXPECT_EQ(dialog->getTrackNames()[0], "Plant");
}

TEST_F(InputMatrixTest, RenameThroughTheHeaderKeepsEditsAndSelections)
{
    AliasAnswerer answerer;
    auto dialog = open(2);
    QTableWidget* g = grid(*dialog);
    clickCheckCell(g, 1, 3);
    chooseEntry(chooser(*dialog, 1), "Mic 1");
    QSignalSpy changed(dialog.get(), &InputMatrixDialog::configurationChanged);

    answerer.answer(std::nullopt);  // Cancel: nothing stored, nothing sent
    doubleClickHeader(g, 1);
    ASSERT_EQ(answerer.questions().size(), 1u);
    EXPECT_EQ(answerer.questions()[0].title, "Edit Input Name");
    EXPECT_EQ(answerer.questions()[0].prompt, "Input: Mic 1\nEnter alias (leave empty to reset):");
    EXPECT_EQ(answerer.questions()[0].prefill, "");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(ConfigManager::getInstance()->getString("input.label.Mic_1", "absent"), "absent");

    doubleClickHeader(g, 0);  // "Track Name" asks nothing
    EXPECT_EQ(answerer.questions().size(), 1u);

    answerer.answer("  Boom  ");
    doubleClickHeader(g, 1);
    EXPECT_EQ(InputMatrixDialog::getInputLabel("Mic 1"), "Boom");
    EXPECT_EQ(g->horizontalHeaderItem(1)->text(), "B\no\no\nm");
    EXPECT_EQ(chooser(*dialog, 1)->currentText(), "Boom (Mic 1)");
    EXPECT_EQ(dialog->getSlateMicPort(), "Mic 1");
    EXPECT_EQ(dialog->getRoutingMatrix(), (Matrix{{"Mic 1"}, {"Dante Rx 03"}}));
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(dialog->getInputLabels(), (std::map<std::string, std::string>{{"Mic 1", "Boom"}, {"Dante Rx 03", "DVS 03"}}));

    // The prompt offers the alias back; an empty answer resets it.
    answerer.answer("");
    doubleClickHeader(g, 3);
    EXPECT_EQ(answerer.questions().back().prefill, "DVS 03");
    EXPECT_EQ(g->horizontalHeaderItem(3)->text().remove('\n'), "Dante Rx 03");

    // The generator's column takes an alias key but keeps its name on screen.
    answerer.answer("Gen");
    doubleClickHeader(g, 5);
    EXPECT_EQ(ConfigManager::getInstance()->getString("input.label.LTCGEN", ""), "Gen");
    EXPECT_EQ(g->horizontalHeaderItem(5)->text().remove('\n'), "LTCGEN");
    EXPECT_EQ(chooser(*dialog, 0)->itemText(chooser(*dialog, 0)->count() - 1), "LTCGEN");
}

TEST_F(InputMatrixTest, ScreenshotWithEightLongPorts)
{
    std::vector<std::string> ports;
    for (int i = 1; i <= 8; ++i)
        ports.push_back("Focusrite Scarlett 18i20 USB Input " + std::to_string(i));
    ports[2] = "Dante Rx 03";
    InputMatrixDialog dialog(ports, 8, {}, {});
    dialog.show();
    const QImage image = grabAndKeep(&dialog, "input-matrix");
    EXPECT_EQ(image.size(), dialog.size() * image.devicePixelRatio());
    EXPECT_EQ(grid(dialog)->horizontalHeaderItem(1)->text().remove('\n'), "Foc Scar 18i2 In 1");
}

}  // namespace

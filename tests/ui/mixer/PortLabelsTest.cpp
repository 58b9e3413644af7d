// Port labels: the receiver shortening, aliases and their keys, and the
// column-header form with its abbreviation table and 18-byte cut.

#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "ui/mixer/InputMatrixDialog.h"
#include "ui/mixer/OutputMatrixDialog.h"
#include "ui/mixer/PortLabels.h"

namespace {

using PortLabels::Side;

class PortLabelsTest : public TempHomeTest {};

struct LabelCase {
    const char* port;
    const char* aliasPort;  // the port the alias is set on (nullptr: no alias)
    const char* alias;      // "" resets
    const char* expected;
};

TEST_F(PortLabelsTest, LabelFromAliasOrReceiverShortening)
{
    const LabelCase cases[] = {
        {"Dante Rx 01", nullptr, nullptr, "DVS 01"},
        {"DANTE RX 5", nullptr, nullptr, "DVS 5"},
        {"dAnTe rX 7", nullptr, nullptr, "DVS 7"},
        {"DanteRx01", nullptr, nullptr, "DVS01"},
        {"Dante Tx 01", nullptr, nullptr, "Dante Tx 01"},
        {"Mic 1", nullptr, nullptr, "Mic 1"},
        // "dante rx" is looked for first; only its first occurrence changes.
        {"DanteRx A Dante Rx B Dante Rx C", nullptr, nullptr, "DanteRx A DVS B Dante Rx C"},
        {"Dante Rx 02", "Dante Rx 02", "Boom", "Boom"},
        // A reset alias stores the port name: the full name shows, not DVS.
        {"Dante Rx 03", "Dante Rx 03", "", "Dante Rx 03"},
        // Spaces, "/" and "\" become "_" in the key, so these share one alias.
        {"In 1 2", "In 1/2", "Lav", "Lav"},
        {"In\\1 2", "In 1/2", "Lav", "Lav"},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.port);
        ConfigManager::getInstance()->resetForTests();
        if (c.aliasPort != nullptr)
            InputMatrixDialog::setInputLabel(c.aliasPort, c.alias);
        EXPECT_EQ(InputMatrixDialog::getInputLabel(c.port), c.expected);
        // The output side knows no input alias but shortens alike.
        if (c.aliasPort == nullptr) {
            EXPECT_EQ(OutputMatrixDialog::getOutputLabel(c.port), c.expected);
        }
    }
}

TEST_F(PortLabelsTest, AliasKeysAndTheirStoredValues)
{
    InputMatrixDialog::setInputLabel("Line In 1/2", "Stereo");
    OutputMatrixDialog::setOutputLabel("Out 3", "");
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_EQ(config->getString("input.label.Line_In_1_2", "absent"), "Stereo");
    EXPECT_EQ(config->getString("output.label.Out_3", "absent"), "Out 3");
    InputMatrixDialog::setInputLabel(InputMatrixDialog::kLtcGeneratorPort, "Gen");
    EXPECT_EQ(config->getString("input.label.LTCGEN", "absent"), "Gen");
}

TEST_F(PortLabelsTest, AliasSurvivesSavingAndReloadingTheStore)
{
    InputMatrixDialog::setInputLabel("Dante Rx 01", "Boom Left");
    OutputMatrixDialog::setOutputLabel("Line Out 4", "IFB");
    ASSERT_TRUE(ConfigManager::getInstance()->saveConfig(""));
    ConfigManager::getInstance()->resetForTests();
    EXPECT_EQ(InputMatrixDialog::getInputLabel("Dante Rx 01"), "DVS 01");
    ASSERT_TRUE(ConfigManager::getInstance()->loadConfig(""));
    EXPECT_EQ(InputMatrixDialog::getInputLabel("Dante Rx 01"), "Boom Left");
    EXPECT_EQ(OutputMatrixDialog::getOutputLabel("Line Out 4"), "IFB");
}

struct AbbreviationCase {
    const char* label;
    const char* expected;
};

TEST_F(PortLabelsTest, ColumnHeaderForm)
{
    const AbbreviationCase cases[] = {
        {"Focusrite Scarlett 18i20 Input 3", "Foc Scar 18i2 In 3"},
        {"Universal Audio Apollo Ch 12", "UA Apollo Ch 12"},
        {"MOTU 828 Output 7", "MOTU 828 Out 7"},
        {"RME Fireface UFX II Input 12", "RME FF UFX I In 12"},
        {"Aggregate Device Ch 1", "Agg Ch 1"},
        {"USB Audio Interface Ch 2", " Ch 2"},
        {"USB Audio", ""},
        {"Input 1", "Input 1"},
        {"DVS 01", "DVS 01"},
        // " Ch " wins over " Input " and " Output ".
        {"Line Input Ch 3", "Line Input Ch 3"},
        {"Line Output Ch 4", "Line Output Ch 4"},
        // " Input " needs a blank on both sides.
        {"Line Input", "Line Input"},
        {"Line Input 1", "Line In 1"},
        {"Main Output 2", "Main Out 2"},
        // Patterns are case-sensitive.
        {"focusrite scarlett", "focusrite scarlett"},
        {"Focusrite   Mic", "Foc  Mic"},
        // No suffix: the name alone is cut to 18 bytes.
        {"Apogee Symphony Desktop Line", "Apo Sym Desktop Li"},
        // A suffix of 18 bytes or more leaves the name uncut.
        {"Mic Ch 123456789012345678", "Mic Ch 123456789012345678"},
        // The cut never splits a UTF-8 character: "ä" would straddle byte 13.
        {"Mikrofonempf\xC3\xA4nger Input 3", "Mikrofonempf In 3"},
        {"\xD0\x9C\xD0\xB8\xD0\xBA\xD1\x80\xD0\xBE\xD1\x84\xD0\xBE\xD0\xBD Ch 1",
         "\xD0\x9C\xD0\xB8\xD0\xBA\xD1\x80\xD0\xBE\xD1\x84 Ch 1"},
    };
    for (const AbbreviationCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string form = InputMatrixDialog::abbreviateChannelName(c.label);
        EXPECT_EQ(form, c.expected);
        EXPECT_EQ(QString::fromUtf8(form.c_str()).toUtf8().toStdString(), form) << "broken UTF-8";
        EXPECT_EQ(OutputMatrixDialog::abbreviateChannelName(c.label), form);
    }
}

TEST_F(PortLabelsTest, HeaderReadsTopToBottomAndComboShowsAliasAndPort)
{
    EXPECT_EQ(PortLabels::columnHeaderText("DVS 01"), "D\nV\nS\n \n0\n1");
    EXPECT_EQ(PortLabels::columnHeaderText("USB Audio"), "");
    EXPECT_EQ(PortLabels::columnHeaderText("\xD0\x9C\xD0\xB8"), QString::fromUtf8("\xD0\x9C\n\xD0\xB8"));

    InputMatrixDialog::setInputLabel("In 2", "Boom");
    EXPECT_EQ(PortLabels::comboEntryText(Side::Input, "In 2"), "Boom (In 2)");
    EXPECT_EQ(PortLabels::comboEntryText(Side::Input, "Dante Rx 04"), "DVS 04 (Dante Rx 04)");
    EXPECT_EQ(PortLabels::comboEntryText(Side::Input, "In 3"), "In 3");
}

}  // namespace

// Without the drawn icons beside the program, each drive indicator shows a
// red "!" in place of its icon and still gives the time left.
#include "MainWindowDrivesTestSupport.h"

namespace {

TEST_F(MainWindowDrivesTest, AMissingIconShowsARedMarkAndTheFiguresStay)
{
    ASSERT_TRUE(expectedIcon("int-grn.png").isNull()) << "this binary runs without the artwork";
    const std::string folder = internal("int", 518'400'000);
    const std::string cardA = card("CARD_A", 0);
    seed({{"recording.directory", folder}, {"recording.external1", cardA}});
    MainWindow& window = makeWindow();
    window.updateDriveStatus();
    for (const char* type : {"INT", "EXT1"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(image(type)->text(), "!");
        EXPECT_TRUE(image(type)->pixmap().isNull());
        EXPECT_EQ(image(type)->styleSheet(), "font-size: 20px; color: #ff3333;");
    }
    EXPECT_EQ(time("INT")->text(), "1h0m");
    EXPECT_EQ(timeColour("INT"), "#34C759");
    EXPECT_EQ(time("EXT1")->text(), "--");
    EXPECT_EQ(timeColour("EXT1"), "#ff3333");
}

} // namespace

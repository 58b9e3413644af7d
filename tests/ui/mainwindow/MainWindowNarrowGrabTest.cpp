// The window at its narrowest, 1024 pixels: the metadata labels and the
// slate and COM buttons keep their whole text. Grabbed with the drawn images
// beside the executable, as the program ships.

#include "MainWindowTestSupport.h"

#include "ui/common/MeterWidget.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

// True when the widget is at least as wide as its text needs.
bool showsWholeText(const QWidget* widget, const QString& text)
{
    const int needed = widget->fontMetrics().horizontalAdvance(text);
    const QMargins margins = widget->contentsMargins();
    return widget->isVisible() && widget->width() - margins.left() - margins.right() >= needed;
}

TEST_F(MainWindowTest, NarrowestWindowClipsNoMetadataLabelNorTheSlateButton)
{
    seed({{"audio.device", std::string("Virtual Interface")},
          {"window.width", 1024},
          {"window.height", 768},
          {"mixer.visible", true},
          {"metadata.project", std::string("Harbour Lights")},
          {"metadata.soundroll", std::string("004")},
          {"metadata.scene", std::string("12A")},
          {"metadata.take", std::string("07")}});
    MainWindow& window = makeWindow();
    window.show();
    window.resize(1024, 768);
    QTest::qWait(200);
    window.updateAutomixUiState();
    QTest::qWait(50);
    ASSERT_EQ(window.width(), 1024);
    EXPECT_TRUE(keepPicture(window, "mainwindow-1024"));

    int labelsSeen = 0;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text() == "Sound Roll:" || label->text() == "Project:" || label->text() == "Take:" ||
            label->text() == "Notes:") {
            ++labelsSeen;
            EXPECT_TRUE(showsWholeText(label, label->text())) << label->text().toStdString() << " " << label->width();
        }
    }
    EXPECT_EQ(labelsSeen, 4);
    int buttonsSeen = 0;
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == "Scene:" || button->text() == "SLATE" || button->text() == "COM") {
            ++buttonsSeen;
            EXPECT_TRUE(showsWholeText(button, button->text())) << button->text().toStdString() << " "
                                                                << button->width();
            EXPECT_GE(button->width(), button->minimumSizeHint().width()) << button->text().toStdString();
        }
    }
    EXPECT_EQ(buttonsSeen, 3);
}

// 24 tracks in two columns at 1024 pixels: every row's meter ends inside
// the window.
TEST_F(MainWindowTest, NarrowestWindowShowsBothTrackColumnsWhole)
{
    std::vector<std::pair<std::string, Value>> keys{{"audio.device", std::string("Virtual Interface")},
                                                    {"window.width", 1024},
                                                    {"window.height", 768},
                                                    {"track.count", 24}};
    for (int track = 0; track < 24; track += 3)
        keys.emplace_back("arm." + std::to_string(track), true);
    seed(keys);
    MainWindow& window = makeWindow();
    window.show();
    window.resize(1024, 768);
    QTest::qWait(200);
    window.updateAutomixUiState();
    audio_->renderBlocks(8, 256);
    window.updateMeters();
    QTest::qWait(50);
    EXPECT_TRUE(keepPicture(window, "mainwindow-1024-24"));
    for (int track : {0, 16, 23}) {
        SCOPED_TRACE(track);
        const MeterWidget* meter = window.trackRows()[static_cast<size_t>(track)].meter;
        const QRect inWindow(meter->mapTo(&window, QPoint(0, 0)), meter->size());
        EXPECT_LE(inWindow.right(), window.width() - 1);
        EXPECT_GE(meter->width(), 100);
    }
}

} // namespace

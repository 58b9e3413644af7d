// The symbols on the tools' buttons, labels and group titles are drawn by an
// installed font, not as empty boxes, at the default window size and at full
// HD.

#include "support/TempHome.h"
#include "support/WidgetLegibility.h"
#include "ui/tools/ConfigSnapshotDialog.h"
#include "ui/tools/FileServerDialog.h"
#include "ui/tools/RepairDialog.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <functional>
#include <memory>

namespace {

class ToolIconGlyphsTest : public TempHomeTest {};

TEST_F(ToolIconGlyphsTest, EverySymbolShownHasAGlyph)
{
    RF64Repairer::CorruptedFile take;
    take.path = home_.path().toStdString() + "/T001.wav";
    take.fileName = "T001.wav";
    take.fileSize = 4096;
    take.channels = 2;
    take.sampleRate = 48000;
    take.canRepair = true;
    struct Tool {
        const char* name;
        std::function<std::unique_ptr<QWidget>()> make;
    };
    const Tool tools[] = {
        {"file-server", [] { return std::make_unique<FileServerDialog>(); }},
        {"repair", [&take] { return std::make_unique<RepairDialog>(std::vector{take}); }},
        {"config-snapshots", [] { return std::make_unique<ConfigSnapshotDialog>(nullptr); }},
        {"tc-accuracy", [] { return std::make_unique<TcAccuracyTestDialog>(nullptr, nullptr); }},
    };
    for (const Tool& tool : tools) {
        std::unique_ptr<QWidget> widget = tool.make();
        for (const auto& [width, height] : kScreenSizes)
            grabAtSize(*widget, tool.name, width, height);
        const QStringList boxes = textsWithoutGlyphs(*widget);
        EXPECT_TRUE(boxes.isEmpty()) << tool.name << ":\n" << boxes.join('\n').toStdString();
    }
}

}  // namespace

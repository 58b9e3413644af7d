// What a person reads in the main window and in the tool windows it parents,
// which take its dark style sheet: table text on both row colours, the logo
// box, and the metadata fields' whole hints, at the default window size and
// at full HD. With TONVALE_SCREENSHOT_DIR set, each is saved there to look at.

#include "MainWindowTestSupport.h"

#include "support/WidgetLegibility.h"
#include "ui/tools/MetadataManagerWindow.h"
#include "ui/tools/PlaybackRoutingDialog.h"
#include "ui/tools/SoundReportDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTableWidget>

namespace {

constexpr double kTextContrast = 4.5;

// The width a line edit gives its text: inside its frame, the style sheet's
// padding and its own margins.
int textWidth(const QLineEdit& edit)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.rect = edit.rect();
    option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
    const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    const QMargins margins = edit.textMargins();
    constexpr int kLineEditMargins = 2 * 2;
    return contents.width() - margins.left() - margins.right() - kLineEditMargins;
}

void fillRows(QTableWidget& table, int rows)
{
    table.setRowCount(rows);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < table.columnCount(); ++column)
            table.setItem(row, column, new QTableWidgetItem(QStringLiteral("R%1 C%2").arg(row).arg(column)));
}

void expectLegibleRows(const QTableWidget& table, const char* what)
{
    const QPalette palette = table.palette();
    const QColor text = palette.color(QPalette::Text);
    EXPECT_TRUE(table.alternatingRowColors()) << what;
    EXPECT_GE(contrastRatio(text, palette.color(QPalette::Base)), kTextContrast)
        << what << ": " << text.name().toStdString() << " on " << palette.color(QPalette::Base).name().toStdString();
    EXPECT_GE(contrastRatio(text, palette.color(QPalette::AlternateBase)), kTextContrast)
        << what << ": " << text.name().toStdString() << " on "
        << palette.color(QPalette::AlternateBase).name().toStdString();
}

TEST_F(MainWindowTest, MetadataFieldsShowTheirWholeHintAtBothScreenSizes)
{
    MainWindow& window = makeWindow();
    QGroupBox* metadata = nullptr;
    for (QGroupBox* group : window.findChildren<QGroupBox*>())
        if (group->title() == "Recording Metadata")
            metadata = group;
    ASSERT_NE(metadata, nullptr);
    // Empty, so every field shows its hint.
    for (QLineEdit* edit : metadata->findChildren<QLineEdit*>())
        edit->clear();
    for (const auto& [width, height] : kScreenSizes) {
        SCOPED_TRACE(width);
        grabAtSize(window, "main-window", width, height);
        EXPECT_EQ(window.width(), width) << "the window needs more than the screen";
        int hints = 0;
        for (QLineEdit* edit : metadata->findChildren<QLineEdit*>()) {
            const std::string hint = edit->placeholderText().toStdString();
            ASSERT_TRUE(edit->isVisible()) << hint;
            hints += edit->placeholderText().isEmpty() ? 0 : 1;
            EXPECT_GE(textWidth(*edit), edit->fontMetrics().horizontalAdvance(edit->placeholderText())) << hint;
            EXPECT_EQ(edit->visibleRegion().boundingRect(), edit->rect()) << hint << " is cut by its neighbours";
        }
        EXPECT_EQ(hints, 5) << "project, sound roll, scene, take and notes";
        for (QLabel* label : metadata->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
            EXPECT_EQ(label->visibleRegion().boundingRect(), label->rect()) << label->text().toStdString();
        }
    }
}

TEST_F(MainWindowTest, ToolTablesAndTheLogoBoxReadOnTheDarkWindow)
{
    MainWindow& window = makeWindow();
    window.show();
    action("&Tools", "Metadata Manager")->trigger();
    MetadataManagerWindow* manager = window.metadataManagerWindow();
    ASSERT_NE(manager, nullptr);
    const QList<QTableWidget*> managerTables = manager->findChildren<QTableWidget*>();
    ASSERT_FALSE(managerTables.isEmpty());
    QTableWidget* fileTable = managerTables.front();
    fillRows(*fileTable, 6);
    for (const auto& [width, height] : kScreenSizes)
        grabAtSize(*manager, "metadata-manager", width, height);
    expectLegibleRows(*fileTable, "metadata manager files");
    for (const QWidget* shown : std::initializer_list<const QWidget*>{&window, manager}) {
        const QStringList boxes = textsWithoutGlyphs(*shown);
        EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    }
    manager->close();

    SoundReportDialog report(&window);
    auto* takes = report.findChild<QTableWidget*>();
    ASSERT_NE(takes, nullptr);
    fillRows(*takes, 6);
    for (const auto& [width, height] : kScreenSizes)
        grabAtSize(report, "sound-report", width, height);
    expectLegibleRows(*takes, "sound report takes");

    bool configured = false;
    SoundReportDialog::Prompts prompts;
    prompts.runDialog = [&configured](QDialog& configuration) {
        configured = true;
        auto* preview = configuration.findChild<QLabel*>("logoPreview");
        EXPECT_NE(preview, nullptr);
        if (preview == nullptr)
            return int(QDialog::Rejected);
        grabAtSize(configuration, "sound-report-configuration", configuration.sizeHint().width(),
                   configuration.sizeHint().height());
        EXPECT_EQ(preview->text(), "No logo");
        const QPalette palette = preview->palette();
        EXPECT_GE(contrastRatio(palette.color(preview->foregroundRole()), palette.color(preview->backgroundRole())),
                  kTextContrast);
        return int(QDialog::Rejected);
    };
    report.setPrompts(prompts);
    for (QPushButton* button : report.findChildren<QPushButton*>())
        if (button->text() == "Configure...")
            button->click();
    EXPECT_TRUE(configured);
}

// Every choice of the routing boxes shows whole beside the drop-down arrow.
TEST_F(MainWindowTest, PlaybackRoutingChoicesShowWhole)
{
    MainWindow& window = makeWindow();
    window.show();
    PlaybackRoutingDialog routing(window.engine(), &window);
    routing.show();
    QApplication::processEvents();
    const QList<QComboBox*> boxes = routing.findChildren<QComboBox*>();
    ASSERT_EQ(boxes.size(), 16);
    for (QComboBox* box : boxes) {
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.rect = box->rect();
        option.subControls = QStyle::SC_All;
        option.frame = true;
        const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        for (int item = 0; item < box->count(); ++item) {
            if (box->itemText(item) != "-- Not Routed --" && item != box->currentIndex())
                continue;
            EXPECT_GE(field.width(), box->fontMetrics().horizontalAdvance(box->itemText(item)))
                << box->itemText(item).toStdString();
        }
    }
    if (!qEnvironmentVariable("TONVALE_SCREENSHOT_DIR").isEmpty())
        routing.grab().save(QDir(qEnvironmentVariable("TONVALE_SCREENSHOT_DIR")).filePath("playback-routing.png"));
}

}  // namespace

#include "MixerTestSupport.h"

#include <QComboBox>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Gives the test the delegate's own view of a cell, so the click lands where
// the style draws the check indicator.
class OptionProbe : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::initStyleOption;
};

}  // namespace

AliasAnswerer::AliasAnswerer()
{
    PortLabels::setAliasQuestionForTests(
        [this](QWidget*, const QString& title, const QString& prompt, const QString& prefill) {
            questions_.push_back({title, prompt, prefill});
            return answer_;
        });
}

AliasAnswerer::~AliasAnswerer()
{
    PortLabels::setAliasQuestionForTests({});
}

void clickCheckCell(QTableWidget* grid, int row, int column)
{
    const QModelIndex index = grid->model()->index(row, column);
    ASSERT_TRUE(index.isValid());
    grid->scrollTo(index);
    QStyleOptionViewItem option;
    option.initFrom(grid->viewport());
    option.rect = grid->visualRect(index);
    option.widget = grid;
    OptionProbe probe;
    probe.initStyleOption(&option, index);
    const QRect indicator = grid->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, grid);
    ASSERT_TRUE(indicator.isValid());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, indicator.center());
}

bool isChecked(const QTableWidget* grid, int row, int column)
{
    const QTableWidgetItem* item = grid->item(row, column);
    return item != nullptr && item->checkState() == Qt::Checked;
}

void doubleClickHeader(QTableWidget* grid, int section)
{
    QHeaderView* header = grid->horizontalHeader();
    const QPoint point(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                       header->height() / 2);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, point);
}

void chooseEntry(QComboBox* combo, const QString& text)
{
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int step = 0; step < combo->count() && combo->currentText() != text; ++step)
        QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_EQ(combo->currentText(), text);
}

QImage grabAndKeep(QWidget* widget, const QString& name)
{
    const QImage image = widget->grab().toImage();
    const QByteArray folder = qgetenv("TONVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        image.save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    return image;
}

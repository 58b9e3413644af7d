// The editable value label: its texts and what typed text means (the same in
// a decimal-comma locale), and editing through real clicks and keys.

#include "ui/common/EditableValueLabel.h"
#include "ui/common/ValueLabelText.h"

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace valueLabelText;

struct ParseCase {
    int (*parse)(const QString&);
    const char* typed;
    int expected;
};

void checkTexts()
{
    const std::pair<QString, const char*> shown[] = {
        {formatDb(-60.0), "-∞ dB"},       {formatDb(-75.0), "-∞ dB"},      {formatDb(-59.9), "-59.9 dB"},
        {formatDb(12.5), "12.5 dB"},      {formatDb(0.0), "0.0 dB"},       {formatFreq(999), "999 Hz"},
        {formatFreq(1000), "1.0 kHz"},    {formatFreq(12500), "12.5 kHz"}, {formatQTenths(7), "0.7"},
        {formatQTenths(100), "10.0"},     {formatPercent(42), "42%"},      {editorText("2.5 kHz"), "2500"},
        {editorText("1.0 kHz"), "1000"},  {editorText("80 Hz"), "80"},     {editorText("-6.0 dB"), "-6.0"},
        {editorText("-∞ dB"), "-∞"},      {editorText("42%"), "42"},       {editorText("1.0"), "1.0"},
    };
    for (const auto& [text, expected] : shown)
        EXPECT_EQ(text.toStdString(), expected);

    const ParseCase cases[] = {
        {parseDbTenths, "2.3 dB", 23},   {parseDbTenths, "+3.25", 32},     {parseDbTenths, "-4.5", -45},
        {parseDbTenths, "12dB", 120},    {parseDbTenths, "-inf", -600},    {parseDbTenths, "-∞ dB", -600},
        {parseDbTenths, "loud", 0},      {parseDbTenths, "2,5", 0},        {parseDbTenths, "1.000,5", 0},
        {parseFreqHz, "2.5 kHz", 2500},  {parseFreqHz, "2.5khz", 2500},    {parseFreqHz, "2.5 KHz", 2500},
        {parseFreqHz, "0.3 kHz", 300},   {parseFreqHz, "120 Hz", 120},     {parseFreqHz, " 2500 ", 2500},
        {parseFreqHz, "hum", 0},         {parseFreqHz, "2,5 kHz", 0},      {parseQTenths, "0.7", 7},
        {parseQTenths, " 2.5 ", 25},     {parseQTenths, "0.05", 0},        {parseQTenths, "wide", 10},
        {parseQTenths, "0,7", 10},       {parsePercent, "42 %", 42},       {parsePercent, "150%", 150},
        {parsePercent, "4.5%", 0},       {parsePercent, "lots", 0},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(c.parse(QString::fromUtf8(c.typed)), c.expected) << c.typed;
}

TEST(ValueLabelText, TextsAndTypedValuesAreTheSameInEveryLocale)
{
    checkTexts();
    // A decimal comma and group separators in the user's locale change
    // neither what is shown nor how typing is read.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    checkTexts();
    QLocale::setDefault(QLocale::c());
}

// A window with a slider in tenths of a dB, its label and a second field to
// take the focus away.
class EditableValueLabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        slider_ = new QSlider(Qt::Horizontal);
        slider_->setRange(-240, 120);
        slider_->setValue(-60);
        label_ = new EditableValueLabel(formatDb(-6.0));
        other_ = new QLineEdit;
        for (QWidget* widget : std::initializer_list<QWidget*>{slider_, label_, other_})
            layout->addWidget(widget);
        label_->bind(slider_, [](int v) { return formatDb(v / 10.0); }, parseDbTenths, 0);
        QObject::connect(slider_, &QSlider::valueChanged, label_,
                         [this](int v) { label_->setText(formatDb(v / 10.0)); });
        window_->show();
        QApplication::setActiveWindow(window_.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }
    QLineEdit* editor() const { return window_->findChild<QLineEdit*>(EditableValueLabel::kEditorName); }
    QLineEdit* clickOpen()
    {
        QTest::mouseClick(label_, Qt::LeftButton);
        return editor();
    }
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void typeAndReturn(QLineEdit* edit, const char* text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
        settle();
    }

    std::unique_ptr<QWidget> window_;
    QSlider* slider_ = nullptr;
    EditableValueLabel* label_ = nullptr;
    QLineEdit* other_ = nullptr;
};

TEST_F(EditableValueLabelTest, AClickOpensAnEditorOverTheLabelAndReturnMovesTheSlider)
{
    EXPECT_EQ(label_->toolTip(), "Click to edit, Ctrl+Click to reset");
    QLineEdit* edit = clickOpen();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->parentWidget(), window_.get());
    EXPECT_EQ(edit->geometry(), QRect(label_->mapTo(window_.get(), QPoint(0, 0)), label_->size()));
    EXPECT_EQ(edit->text(), "-6.0");
    EXPECT_EQ(edit->selectedText(), "-6.0");
    EXPECT_TRUE(edit->hasFocus());
    QTest::keyClick(edit, Qt::Key_Return);  // unchanged
    settle();
    EXPECT_EQ(slider_->value(), -60);

    const struct {
        const char* typed;
        int expected;
    } cases[] = {{"3.5", 35}, {"99 dB", 120}, {"-inf", -240}, {"nonsense", 0}, {"-2.3", -23}};
    for (const auto& c : cases) {
        edit = clickOpen();
        ASSERT_NE(edit, nullptr) << c.typed;
        typeAndReturn(edit, c.typed);
        EXPECT_EQ(slider_->value(), c.expected) << c.typed;
        EXPECT_EQ(editor(), nullptr) << "the editor is gone after " << c.typed;
    }
    EXPECT_EQ(label_->text(), "-2.3 dB");
    EXPECT_TRUE(window_->hasFocus()) << "the focus goes back to the window";
}

TEST_F(EditableValueLabelTest, LeavingCommitsOnceAndAnEmptyEditorChangesNothing)
{
    QSignalSpy moved(slider_, &QSlider::valueChanged);
    QLineEdit* edit = clickOpen();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, "-2");
    other_->setFocus(Qt::MouseFocusReason);  // leaving finishes the edit
    settle();
    EXPECT_EQ(slider_->value(), -20);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(editor(), nullptr);
    EXPECT_TRUE(other_->hasFocus()) << "a focus taken elsewhere stays there";

    edit = clickOpen();
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClick(edit, Qt::Key_Return);
    settle();
    EXPECT_EQ(slider_->value(), -20);
    EXPECT_EQ(moved.count(), 1);
}

TEST_F(EditableValueLabelTest, CtrlClickResetsAndOtherClicksOpenNothing)
{
    QSignalSpy reset(label_, &EditableValueLabel::wasReset);
    QTest::mouseClick(label_, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(slider_->value(), 0);
    EXPECT_EQ(label_->text(), "0.0 dB");
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(editor(), nullptr) << "a Ctrl+click opens no editor";

    QTest::mouseClick(label_, Qt::RightButton);
    EXPECT_EQ(editor(), nullptr);
    EditableValueLabel unbound("7%", window_.get());
    QTest::mouseClick(&unbound, Qt::LeftButton);
    EXPECT_EQ(editor(), nullptr) << "an unbound label is a plain label";
    EXPECT_EQ(reset.count(), 1);
}

// Run under ASan: an edit ending after its slider is gone touches nothing.
TEST_F(EditableValueLabelTest, ASliderGoneBeforeTheEditEndsIsNotTouched)
{
    QLineEdit* edit = clickOpen();
    ASSERT_NE(edit, nullptr);
    delete slider_;
    slider_ = nullptr;
    typeAndReturn(edit, "3");
    EXPECT_EQ(editor(), nullptr);
    QTest::mouseClick(label_, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(editor(), nullptr);
}

}  // namespace

// The sound report window offscreen: its take table and details, the
// configuration dialog, the proposed file names and the outcome of a report,
// with the file and message dialogs answered by the test.

#include "SoundReportTestTakes.h"
#include "core/ConfigManager.h"
#include "support/ExternalTool.h"
#include "support/GuiLatenessProbe.h"
#include "support/WidgetLegibility.h"
#include "support/TempHome.h"
#include "ui/tools/SoundReportDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Waits until the dialog's folder scan has listed its takes.
void settle(const SoundReportDialog& dialog)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isScanning(); }, 60000));
}

// A roll of 2,000 small takes: copies of one written by our writer.
QString makeBigRoll(const QString& home)
{
    const QString roll = home + "/Big/R099";
    QDir().mkpath(roll);
    ReportTake model{"model.wav"};
    model.seconds = 0.01;
    model.scene = "5";
    model.take = "1";
    model.project = "Feature";
    model.tape = "R099";
    model.trackNames = {"Boom"};
    if (!writeReportTake(home, model))
        return {};
    QFile source(home + "/model.wav");
    if (!source.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = source.readAll();
    for (int i = 1; i <= 2000; ++i) {
        QFile copy(roll + QString("/ABC%1_S5_T1.wav").arg(i, 4, 10, QLatin1Char('0')));
        if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size())
            return {};
    }
    return roll;
}

struct Message {
    QString title;
    QString text;
};

class SoundReportDialogTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        folder_ = home_.path() + "/Feature/R012";
        QDir().mkpath(folder_);
        const ReportTake kTakes[] = {
            {"ABC0001_S1_T1.wav", 2, 1.0, true, samplesAt25(10, 0, 0, 5), 25.0, 48000, "1", "1", "Feature", "R012",
             "wind from the left", {"MIX", "Boom"}},
            {"ABC0002_S1_T2.wav", 1, 0.5, true, 0, 25.0, 48000, "1", "2", "Feature", "R012", "", {"Boom"}},
        };
        for (const ReportTake& take : kTakes)
            ASSERT_TRUE(writeReportTake(folder_, take));
        QFile empty(folder_ + "/empty.wav");  // no channels: no track names
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        ConfigManager::getInstance()->setString("lastRecording.folderPath", folder_.toStdString());
    }

    // Answers every prompt of the dialog and keeps what was asked.
    void answerPrompts(SoundReportDialog& dialog)
    {
        SoundReportDialog::Prompts prompts;
        prompts.chooseFolder = [this](QWidget*, const QString&, const QString& start) {
            askedFolderStart_ = start;
            return folderAnswer_;
        };
        prompts.chooseSaveFile = [this](QWidget*, const QString& caption, const QString& proposed, const QString& filter) {
            EXPECT_EQ(caption, "Save Sound Report");
            proposedPath_ = proposed;
            proposedFilter_ = filter;
            return saveAnswer_;
        };
        prompts.chooseLogo = [this](QWidget*, const QString&, const QString&, const QString&) { return logoAnswer_; };
        prompts.showMessage = [this](QWidget*, const QString& title, const QString& text) {
            messages_.push_back({title, text});
        };
        prompts.runDialog = [this](QDialog& configuration) { return configure_(configuration); };
        dialog.setPrompts(prompts);
    }

    static QPushButton* button(QWidget& parent, const QString& text)
    {
        for (QPushButton* candidate : parent.findChildren<QPushButton*>()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }

    static QStringList detailTexts(SoundReportDialog& dialog)
    {
        QStringList texts;
        for (int i = 0; i < 12; ++i) {
            auto* label = dialog.findChild<QLabel*>(QStringLiteral("detail%1").arg(i));
            texts << (label ? label->text() : QStringLiteral("(missing)"));
        }
        return texts;
    }

    // The dialog scanned on the fixture's roll, with the 2,000-take roll as
    // the answer to "Select Folder...".
    QString answerWithBigRoll(SoundReportDialog& dialog)
    {
        const QString roll = makeBigRoll(home_.path());
        EXPECT_FALSE(roll.isEmpty());
        settle(dialog);
        answerPrompts(dialog);
        folderAnswer_ = roll;
        return roll;
    }

    QString folder_;
    QString folderAnswer_;
    QString saveAnswer_;
    QString logoAnswer_;
    QString askedFolderStart_;
    QString proposedPath_;
    QString proposedFilter_;
    std::vector<Message> messages_;
    std::function<int(QDialog&)> configure_ = [](QDialog&) { return int(QDialog::Rejected); };
};

TEST_F(SoundReportDialogTest, OpensOnTheLastTakesFolderAndShowsDetails)
{
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Sound Report Generator");
    EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), folder_);
    EXPECT_EQ(dialog.rollName(), "R012");
    auto* table = dialog.findChild<QTableWidget*>();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(1, 0)->text(), "ABC0001");
    EXPECT_EQ(table->item(1, 5)->text(), "00:00:01:00");
    EXPECT_TRUE(button(dialog, "Create Sound Report")->isEnabled());

    EXPECT_EQ(detailTexts(dialog), QStringList(12, "--"));
    table->selectRow(1);
    const QStringList details = detailTexts(dialog);
    ASSERT_EQ(details.size(), 12);
    EXPECT_EQ(details.mid(0, 9), (QStringList{"ABC0001", "ABC0001_S1_T1.wav", "1", "1", "Feature", "R012",
                                              "10:00:00:05", "10:00:01:05", "00:00:01:00"}));
    EXPECT_EQ(details[9], "MIX, Boom");
    EXPECT_EQ(details[10], "wind from the left");
    EXPECT_FALSE(details[11].isEmpty());
    table->selectRow(0);  // empty.wav: no notes, no tracks
    EXPECT_EQ(detailTexts(dialog)[9], "N/A");
    EXPECT_EQ(detailTexts(dialog)[10], "N/A");
    table->setCurrentCell(-1, -1);
    table->clearSelection();
    EXPECT_EQ(detailTexts(dialog), QStringList(12, "--"));
}

TEST_F(SoundReportDialogTest, ConfigurationCancelChangesNothingAndOkWritesTheKeys)
{
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    answerPrompts(dialog);
    const std::string configPath = ConfigManager::getInstance()->getConfigPath();
    auto fill = [](QDialog& configuration) {
        configuration.findChild<QLineEdit*>("productionCompany")->setText("Studio");
        configuration.findChild<QLineEdit*>("projectName")->setText("Feature");
        configuration.findChild<QLineEdit*>("director")->setText("Dee");
        configuration.findChild<QLineEdit*>("soundMixer")->setText("Sam");
        configuration.findChild<QLineEdit*>("mixerPhone")->setText("+1 555");
        configuration.findChild<QLineEdit*>("mixerEmail")->setText("sam@example.org");
        configuration.findChild<QComboBox*>("outputFormat")->setCurrentIndex(2);
    };
    configure_ = [&](QDialog& configuration) {
        EXPECT_EQ(configuration.windowTitle(), "Sound Report Configuration");
        fill(configuration);
        button(configuration, "Cancel")->click();
        return configuration.result();
    };
    button(dialog, "Configure...")->click();
    EXPECT_TRUE(dialog.production().projectName.isEmpty());
    EXPECT_EQ(dialog.outputFormat(), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(configPath)));

    const QString badLogo = home_.path() + "/not-an-image.png";
    QFile(badLogo).open(QIODevice::WriteOnly);
    const QString goodLogo = home_.path() + "/logo.png";
    QImage(600, 200, QImage::Format_RGB32).save(goodLogo);
    configure_ = [&](QDialog& configuration) {
        fill(configuration);
        auto* preview = configuration.findChild<QLabel*>("logoPreview");
        EXPECT_EQ(preview->text(), "No logo");
        logoAnswer_ = badLogo;
        button(configuration, "Browse...")->click();
        EXPECT_EQ(preview->text(), "Invalid image");
        button(configuration, "Clear")->click();
        EXPECT_EQ(preview->text(), "No logo");
        logoAnswer_ = goodLogo;
        button(configuration, "Browse...")->click();
        EXPECT_FALSE(preview->pixmap().isNull());
        EXPECT_EQ(preview->pixmap().width(), 150);
        button(configuration, "OK")->click();
        return configuration.result();
    };
    button(dialog, "Configure...")->click();
    ConfigManager* config = ConfigManager::getInstance();
    const std::pair<const char*, const char*> kKeys[] = {
        {"soundreport.productionCompany", "Studio"}, {"soundreport.projectName", "Feature"},
        {"soundreport.director", "Dee"},             {"soundreport.soundMixer", "Sam"},
        {"soundreport.mixerPhone", "+1 555"},        {"soundreport.mixerEmail", "sam@example.org"},
    };
    QFile saved(QString::fromStdString(configPath));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QString file = QString::fromUtf8(saved.readAll());
    for (const auto& [key, value] : kKeys) {
        EXPECT_EQ(config->getString(key, ""), value) << key;
        EXPECT_TRUE(file.contains(QString(key) + "=" + value)) << key;
    }
    EXPECT_TRUE(file.contains("soundreport.companyLogoPath=" + goodLogo));
    EXPECT_TRUE(file.contains("soundreport.outputFormat=2"));
    EXPECT_EQ(dialog.outputFormat(), 2);
    EXPECT_EQ(dialog.production().director, "Dee");
}

TEST_F(SoundReportDialogTest, ProposedNamesAndReportOutcomes)
{
    QFile::remove(folder_ + "/empty.wav");  // sorted first, it has no project
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    answerPrompts(dialog);
    ConfigManager* config = ConfigManager::getInstance();
    struct Case {
        int format;
        const char* name;
        const char* filter;
    };
    const Case kCases[] = {{1, "Feature_R012_SoundReport.csv", "CSV Files (*.csv)"},
                           {2, "Feature_R012_SoundReport.ale", "ALE Files (*.ale)"},
                           {0, "Feature_R012_SoundReport.pdf", "PDF Files (*.pdf)"},
                           {7, "Feature_R012_SoundReport.pdf", "PDF Files (*.pdf)"}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.format);
        config->setInt("soundreport.outputFormat", c.format);
        SoundReportDialog formatDialog(nullptr);
        settle(formatDialog);
        answerPrompts(formatDialog);
        saveAnswer_.clear();  // the user cancels: nothing is written
        button(formatDialog, "Create Sound Report")->click();
        EXPECT_EQ(proposedPath_.toStdString(), (folder_ + "/" + c.name).toStdString());
        EXPECT_EQ(proposedFilter_.toStdString(), c.filter);
        EXPECT_TRUE(messages_.empty());
    }

    config->setInt("soundreport.outputFormat", 1);
    SoundReportDialog csv(nullptr);
    settle(csv);
    answerPrompts(csv);
    saveAnswer_ = folder_ + "/report.csv";
    button(csv, "Create Sound Report")->click();
    auto* success = csv.findChild<QLabel*>("reportSuccessLabel");
    ASSERT_NE(success, nullptr);
    EXPECT_EQ(success->text(), "CSV report generated successfully!");
    EXPECT_TRUE(QFile::exists(saveAnswer_));
    EXPECT_TRUE(messages_.empty());

    // A failure says why, in the system's words where it has them, and where.
    struct Failure {
        QString path;
        const char* reason;
    };
    const Failure kFailures[] = {{QStringLiteral("/dev/full"), "Not a regular file"},
                                 {folder_ + "/missing/report.csv", "No such file or directory"}};
    for (const Failure& bad : kFailures) {
        SCOPED_TRACE(bad.path.toStdString());
        messages_.clear();
        saveAnswer_ = bad.path;
        button(csv, "Create Sound Report")->click();
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].title, "Error");
        const QString text = messages_[0].text;
        EXPECT_TRUE(text.startsWith("Failed to generate CSV report.\n")) << text.toStdString();
        EXPECT_TRUE(text.contains(bad.reason)) << text.toStdString();
        EXPECT_TRUE(text.contains(bad.path)) << text.toStdString();
    }

    // An empty roll: no takes, no project, no folder name.
    messages_.clear();
    csv.scanWavFiles("/");
    settle(csv);
    EXPECT_EQ(csv.proposedFileName(), "SoundReport.csv");
    const QString empty = home_.path() + "/emptyroll";
    QDir().mkpath(empty);
    folderAnswer_ = empty;
    button(csv, "Select Folder...")->click();
    settle(csv);
    EXPECT_FALSE(button(csv, "Create Sound Report")->isEnabled());
    csv.onCreateReport();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].title, "No Takes");
    EXPECT_EQ(messages_[0].text, "Please scan a folder with WAV files first.");
}

// Each format picked in the configuration's combo box, in the order it is
// offered, is what the next report is written in: its file starts as that
// format does and the success message names it. A stored value below the
// first format falls back to PDF, as one above the last does.
TEST_F(SoundReportDialogTest, EveryOfferedFormatWritesItsOwnFile)
{
    struct Case {
        const char* entry;
        const char* extension;
        const char* opening;
        const char* name;
    };
    const Case kCases[] = {{"PDF (Sound Report)", ".pdf", "%PDF-", "PDF"},
                           {"CSV", ".csv", "File Number,Filename,", "CSV"},
                           {"ALE (Avid Log Exchange)", ".ale", "Heading\n", "ALE"}};
    QFile::remove(folder_ + "/empty.wav");  // sorted first, it has no project
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    answerPrompts(dialog);
    for (int index = 0; index < 3; ++index) {
        const Case& c = kCases[index];
        SCOPED_TRACE(c.entry);
        configure_ = [&](QDialog& configuration) {
            auto* combo = configuration.findChild<QComboBox*>("outputFormat");
            EXPECT_EQ(combo->count(), 3);
            for (int i = 0; i < combo->count(); ++i) {
                EXPECT_EQ(combo->itemText(i), kCases[i].entry);
                EXPECT_EQ(combo->itemData(i).toInt(), i);
            }
            combo->setCurrentIndex(index);
            button(configuration, "OK")->click();
            return configuration.result();
        };
        button(dialog, "Configure...")->click();
        EXPECT_EQ(dialog.outputFormat(), index);
        saveAnswer_ = folder_ + "/report" + c.extension;
        button(dialog, "Create Sound Report")->click();
        EXPECT_EQ(proposedPath_, folder_ + "/Feature_R012_SoundReport" + c.extension);
        QFile written(saveAnswer_);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.readAll().startsWith(c.opening));
        const QList<QLabel*> labels = dialog.findChildren<QLabel*>("reportSuccessLabel");
        ASSERT_FALSE(labels.isEmpty());
        EXPECT_EQ(labels.last()->text(), QString(c.name) + " report generated successfully!");
        EXPECT_TRUE(messages_.empty());
    }

    // The writers called by name write the same formats as the entries.
    using Writer = bool (SoundReportDialog::*)(const QString&);
    const Writer kNamed[] = {&SoundReportDialog::generatePdfReport, &SoundReportDialog::generateCsvReport,
                             &SoundReportDialog::generateAleReport};
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(kCases[index].entry);
        const QString path = folder_ + "/named" + kCases[index].extension;
        ASSERT_TRUE((dialog.*kNamed[index])(path));
        QFile written(path);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.readAll().startsWith(kCases[index].opening));
    }

    ConfigManager::getInstance()->setInt("soundreport.outputFormat", -1);
    SoundReportDialog below(nullptr);
    settle(below);
    EXPECT_TRUE(below.proposedFileName().endsWith("_SoundReport.pdf")) << below.proposedFileName().toStdString();
}

// A project name from a file cannot lead the proposed path out of the roll.
TEST_F(SoundReportDialogTest, ProposedNameStaysInTheRollFolder)
{
    const QString roll = home_.path() + "/R1";
    QDir().mkpath(roll);
    ReportTake take{"ABC0001_S1_T1.wav"};
    take.project = "../x\\y\n";
    ASSERT_TRUE(writeReportTake(roll, take));
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    dialog.scanWavFiles(roll);
    settle(dialog);
    const QString name = dialog.proposedFileName();
    EXPECT_FALSE(name.contains('/'));
    EXPECT_FALSE(name.contains('\\'));
    EXPECT_FALSE(name.contains('\n'));
    EXPECT_TRUE(name.endsWith("_R1_SoundReport.pdf")) << name.toStdString();
}

// A project and a roll with characters no card takes give a name every
// drive takes, the report saved there prints the project the takes were
// recorded under, and one that cannot be written says why and where.
TEST_F(SoundReportDialogTest, ReportUnderAProjectWithAColon)
{
    TONVALE_REQUIRE_TOOL("pdftotext");
    const QString roll = home_.path() + "/Day1/B*?\"<>|";
    ASSERT_TRUE(QDir().mkpath(roll));
    ReportTake take{"ABC0001_S1_T1.wav"};
    take.project = "Day1: Unit";
    take.tape = "B";
    ASSERT_TRUE(writeReportTake(roll, take));
    ConfigManager::getInstance()->setString("metadata.project", "Day1: Unit");
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    answerPrompts(dialog);
    dialog.scanWavFiles(roll);
    settle(dialog);
    ASSERT_EQ(dialog.takes().size(), 1u);

    const QString name = dialog.proposedFileName();
    EXPECT_EQ(name.toStdString(), "Day1_ Unit_B_______SoundReport.pdf");
    for (const QChar refused : QStringLiteral("\\/:*?\"<>|"))
        EXPECT_FALSE(name.contains(refused)) << name.toStdString();

    const QString cardFolder = home_.path() + "/card";
    ASSERT_TRUE(QDir().mkpath(cardFolder));
    saveAnswer_ = cardFolder + "/" + name;
    button(dialog, "Create Sound Report")->click();
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_[0].text.toStdString());
    ASSERT_TRUE(QFile::exists(saveAnswer_));
    const QString text = runTool(findTool("pdftotext"), {"-layout", saveAnswer_, "-"}).standardOutput;
    EXPECT_TRUE(text.contains(QRegularExpression("Project: Day1: Unit\\s"))) << text.toStdString();

    // A name set for the report itself still comes first.
    ConfigManager::getInstance()->setString("soundreport.projectName", "The Feature");
    SoundReportDialog named(nullptr);
    settle(named);
    named.scanWavFiles(roll);
    settle(named);
    const QString namedPath = cardFolder + "/named.pdf";
    ASSERT_TRUE(named.generatePdfReport(namedPath));
    EXPECT_TRUE(runTool(findTool("pdftotext"), {"-layout", namedPath, "-"}).standardOutput.contains("Project: The Feature"));

    saveAnswer_ = home_.path() + "/no-such-card/" + name;
    button(dialog, "Create Sound Report")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].text.startsWith("Failed to generate PDF report.")) << messages_[0].text.toStdString();
    EXPECT_TRUE(messages_[0].text.contains("No such file or directory")) << messages_[0].text.toStdString();
    EXPECT_TRUE(messages_[0].text.contains(saveAnswer_)) << messages_[0].text.toStdString();
}

// With TONVALE_SCREENSHOT_DIR set (run under xvfb-run with the xcb
// platform), saves the window with takes listed for a look.
TEST_F(SoundReportDialogTest, GrabWithTakesListed)
{
    const QByteArray target = qgetenv("TONVALE_SCREENSHOT_DIR");
    if (target.isEmpty())
        GTEST_SKIP() << "SKIPPED: set TONVALE_SCREENSHOT_DIR to save the window for a look";
    SoundReportDialog dialog(nullptr);
    settle(dialog);
    dialog.show();
    dialog.findChild<QTableWidget*>()->selectRow(1);
    QApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(QString::fromLocal8Bit(target) + "/sound-report-dialog.png"));
    answerPrompts(dialog);
    configure_ = [&](QDialog& configuration) {
        configuration.show();
        QApplication::processEvents();
        EXPECT_TRUE(configuration.grab().save(QString::fromLocal8Bit(target) + "/sound-report-configuration.png"));
        return int(QDialog::Rejected);
    };
    button(dialog, "Configure...")->click();
}

// The scan of 2,000 takes runs beside a 10 ms timer standing in for the
// meters and the record keys: it is never held up. A second scan asked for
// meanwhile is ignored.
TEST_F(SoundReportDialogTest, ScanOfTwoThousandTakesLeavesTheGuiThreadFree)
{
    SoundReportDialog dialog(nullptr);
    const QString roll = answerWithBigRoll(dialog);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    GuiLatenessProbe probe;
    probe.start();
    button(dialog, "Select Folder...")->click();
    EXPECT_TRUE(dialog.isScanning());
    EXPECT_FALSE(button(dialog, "Create Sound Report")->isEnabled());
    dialog.onScanFolder();  // the old folder: ignored while the scan runs
    settle(dialog);
    probe.stop();
#ifndef TONVALE_SANITIZED_BUILD
    EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
#endif
    EXPECT_EQ(dialog.folderPath(), roll);
    EXPECT_EQ(dialog.rollName(), "R099");
    auto* table = dialog.findChild<QTableWidget*>();
    ASSERT_EQ(table->rowCount(), 2000);
    EXPECT_EQ(table->item(0, 0)->text(), "ABC0001");
    EXPECT_EQ(table->item(1999, 0)->text(), "ABC2000");
    EXPECT_TRUE(button(dialog, "Create Sound Report")->isEnabled());
    EXPECT_TRUE(messages_.empty());
}

// A cancelled scan changes nothing; a dialog closed mid-scan waits for it.
TEST_F(SoundReportDialogTest, CancelledScanKeepsTheListAndClosingWaits)
{
    SoundReportDialog dialog(nullptr);
    const QString roll = answerWithBigRoll(dialog);
    button(dialog, "Select Folder...")->click();
    auto* progress = dialog.findChild<QProgressDialog*>();
    ASSERT_NE(progress, nullptr);
    button(*progress, "Cancel")->click();
    settle(dialog);
    EXPECT_EQ(dialog.folderPath(), folder_);
    EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), folder_);
    EXPECT_EQ(dialog.rollName(), "R012");
    EXPECT_EQ(dialog.findChild<QTableWidget*>()->rowCount(), 3);
    EXPECT_TRUE(button(dialog, "Create Sound Report")->isEnabled());

    ConfigManager::getInstance()->setString("lastRecording.folderPath", roll.toStdString());
    auto* closing = new SoundReportDialog(nullptr);
    EXPECT_TRUE(closing->isScanning());
    delete closing;
}

// Pictures of the dialog and its progress while a roll is scanned.
TEST_F(SoundReportDialogTest, GrabWhileScanning)
{
    SoundReportDialog dialog(nullptr);
    const QString roll = answerWithBigRoll(dialog);
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
        dialog.resize(size);
        dialog.show();
        button(dialog, "Select Folder...")->click();
        auto* progress = dialog.findChild<QProgressDialog*>();
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(keepPicture(dialog, QString("sound-report-scanning-%1").arg(size.width())));
        EXPECT_TRUE(keepPicture(*progress, QString("sound-report-progress-%1").arg(size.width())));
        settle(dialog);
    }
}

} // namespace

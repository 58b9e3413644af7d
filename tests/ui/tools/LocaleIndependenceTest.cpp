// Files made for other programs come out byte for byte the same whether the
// user runs a comma-decimal locale or the C locale: a take, the settings
// file, the CSV, ALE and PDF sound reports and the timecode accuracy log.
// Each is made twice in this process, once under each locale (the C library's
// and Qt's default, as the application object takes them from the
// environment); what holds the wall-clock time is fixed or cut out.

#include "ModalBoxAnswerer.h"
#include "ScriptedEngine.h"
#include "core/ConfigManager.h"
#include "media/BwfFileWriter.h"
#include "support/TempHome.h"
#include "timecode/LtcEncoder.h"
#include "ui/tools/SoundReportWriters.h"
#include "ui/tools/TcAccuracyTestDialog.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>

#include <clocale>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

const char* const kCommaLocale = "de_DE.UTF-8";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A 23.976 take and a 29.97 drop-frame one, with durations and fixed dates.
std::vector<SoundReportTake> reportTakes()
{
    SoundReportTake first;
    first.fileNumber = "ABC0001";
    first.fileName = "ABC0001.wav";
    first.scene = "12A";
    first.take = "3";
    first.timecodeIn = "10:00:00:00";
    first.timecodeOut = "10:00:12:12";
    first.durationSeconds = 12.512;
    first.trackNames = {"Boom", "Lav 1"};
    first.fileDate = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    first.frameRate = 23.976;
    first.sampleRate = 48000;
    first.bitDepth = 24;
    first.isPolyphonic = true;
    first.timeReference = 1728000000;
    first.timestampSampleRate = 48000;
    SoundReportTake second = first;
    second.fileNumber = "ABC0002";
    second.fileName = "ABC0002.wav";
    second.durationSeconds = 61.25;
    second.frameRate = 29.97;
    return {first, second};
}

QByteArray takeFile(const QString& folder)
{
    BwfFileWriter::BextChunk record;
    record.originationDate = "2026-03-04";
    record.originationTime = "05:06:07";
    record.timeReference = 1726272000;
    record.scene = "12A";
    record.take = "3";
    record.frameRate = 23.976;
    record.timestampSampleRate = 48000;
    record.trackNames = {"Boom", "Lav 1"};
    BwfFileWriter writer;
    writer.setBextChunk(record);
    const QString path = folder + "/take.wav";
    const std::vector<float> ramp = {0.0f, -0.25f, 0.5f, -0.75f, 0.125f, 0.0625f};
    if (!writer.open(path.toStdString(), 48000, 2, BwfFileWriter::Int24) || !writer.writeFrames(ramp.data(), 3)
        || !writer.close())
        return {};
    return readAll(path);
}

// The store is one per process: both runs set and save the same entries.
QByteArray settingsFile(const QString& folder)
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setFloat("ltcgen.calibration_ppm", 12.5f);
    config->setFloat("ltc.forcedFramerate", 23.976f);
    config->setFloat("track.gain.0", -6.5f);
    const QString path = folder + "/config.ini";
    return config->saveConfig(path.toStdString()) ? readAll(path) : QByteArray();
}

// Qt stamps the PDF with the time it was made.
QByteArray pdfReport(const QString& folder)
{
    const QString path = folder + "/report.pdf";
    QString reason;
    SoundReportProduction production;
    production.projectName = "Night Shoot";
    if (!SoundReportWriters::writePdf(path, reportTakes(), production, "ROLL01", reason))
        return {};
    QString text = QString::fromLatin1(readAll(path));
    text.remove(QRegularExpression(R"(/CreationDate \(D:[^)]*\))"));
    return text.toLatin1();
}

// Three rows of drift measured against scripted timecode; the wall-clock
// stamp that starts each row is cut off.
QByteArray accuracyLog(const QString& folder)
{
    auto system = std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::Stepped,
                                                       VirtualAudioDescription::builtInDefault());
    ScriptedEngine engine(system, 1);
    engine.initialize();
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    int64_t clockMs = 0;
    const QString path = folder + "/drift.csv";
    {
        TcAccuracyTestDialog dialog(&engine, &generator);
        dialog.setClock([&clockMs] { return clockMs; });
        for (QLineEdit* edit : dialog.findChildren<QLineEdit*>())
            if (edit->placeholderText() == "Select CSV file for logging...")
                edit->setText(path);
        engine.timecode = Timecode{10, 0, 0, 0, 25, false};
        engine.valid = true;
        dialog.onJamSync();
        clockMs = 1500;
        generator.setTimecode({10, 0, 1, 13, false});
        engine.timecode = Timecode{10, 0, 1, 11, 25, false};
        ModalBoxAnswerer boxes;
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == "Start Logging")
                button->click();
        clockMs = 7700;
        dialog.logMeasurement();
        clockMs = 13900;
        dialog.logMeasurement();
    }
    QByteArray rows;
    for (const QByteArray& line : readAll(path).split('\n'))
        rows += line.mid(line.indexOf(',')) + '\n';
    return rows;
}

struct Product {
    const char* name;
    std::function<QByteArray(const QString& folder)> make;
};

class LocaleIndependenceTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        startLocale_ = std::setlocale(LC_ALL, nullptr);
        startQtLocale_ = QLocale();
        if (std::setlocale(LC_ALL, kCommaLocale) == nullptr)
            GTEST_SKIP() << kCommaLocale << " is not generated here (scripts/install-deps.sh makes it)";
    }
    void TearDown() override
    {
        std::setlocale(LC_ALL, startLocale_.c_str());
        QLocale::setDefault(startQtLocale_);
    }

    // Both locales a process may get from its environment: the C library's
    // categories and Qt's default locale.
    static void useLocale(const char* name)
    {
        ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name;
        QLocale::setDefault(QLocale(QString::fromLatin1(name).section('.', 0, 0)));
    }

    QByteArray makeUnder(const char* locale, const Product& product, const QString& subfolder)
    {
        useLocale(locale);
        const QString folder = home_.path() + "/" + subfolder;
        QDir().mkpath(folder);
        QByteArray bytes = product.make(folder);
        useLocale("C");
        return bytes;
    }

    std::string startLocale_;
    QLocale startQtLocale_;
};

TEST_F(LocaleIndependenceTest, FilesForOtherProgramsAreTheSameInACommaLocale)
{
    // Proves the switch bites: the C library writes a comma in this locale.
    useLocale(kCommaLocale);
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");
    EXPECT_EQ(QLocale().toString(0.5), "0,5");
    useLocale("C");

    const Product products[] = {
        {"take", takeFile},
        {"settings file", settingsFile},
        {"CSV report", [](const QString&) { return SoundReportWriters::csvText(reportTakes()); }},
        {"ALE report", [](const QString&) { return SoundReportWriters::aleText(reportTakes()); }},
        {"PDF report", pdfReport},
        {"timecode accuracy log", accuracyLog},
    };
    for (const Product& product : products) {
        SCOPED_TRACE(product.name);
        const QByteArray plain = makeUnder("C", product, QString(product.name) + " C");
        const QByteArray comma = makeUnder(kCommaLocale, product, QString(product.name) + " comma");
        ASSERT_FALSE(plain.isEmpty());
        EXPECT_TRUE(plain == comma) << "C locale:\n" << plain.left(2000).toStdString() << "\ncomma locale:\n"
                                    << comma.left(2000).toStdString();
    }
}

// The figures that carry the fault are where the other programs look for them.
TEST_F(LocaleIndependenceTest, RatesAndLevelsKeepTheirFullStopInACommaLocale)
{
    useLocale(kCommaLocale);
    const QString folder = home_.path();
    EXPECT_TRUE(takeFile(folder).contains("aSPEED=023.976-ND\n"));
    const QByteArray settings = settingsFile(folder);
    EXPECT_TRUE(settings.contains("\nltcgen.calibration_ppm=12.500000\n")) << settings.toStdString();
    EXPECT_TRUE(settings.contains("\ntrack.gain.0=-6.500000\n")) << settings.toStdString();
    EXPECT_TRUE(SoundReportWriters::aleText(reportTakes()).contains("\nFPS\t23.976\n"));
    EXPECT_TRUE(SoundReportWriters::csvText(reportTakes()).contains(",23.98nd-C,"));
    useLocale("C");
}

} // namespace

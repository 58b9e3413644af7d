// The timecode accuracy test's drift log on its own: the file it writes (one
// header, rows as spreadsheets read them, in any locale), its counting by an
// injected clock, and the failures it reports instead of hiding.

#include "support/TempHome.h"
#include "ui/tools/DriftLog.h"

#include <QFile>
#include <QLocale>

namespace {

const QDateTime kStamp(QDate(2026, 3, 4), QTime(5, 6, 7, 89));

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString("<unreadable>");
}

class DriftLogTest : public TempHomeTest {
protected:
    QString path() const { return home_.path() + "/drift.csv"; }
    int64_t clockMs_ = 0;
    DriftLog log_{[this] { return clockMs_; }};
};

TEST_F(DriftLogTest, WritesOneHeaderAndRowsAsSpreadsheetsReadThemInAnyLocale)
{
    struct Case {
        const char* what;
        DriftLog::Row row;
        const char* line;
    };
    const Case cases[] = {
        {"ahead", {kStamp, 1500, "10:00:00:03", "10:00:00:01", true, 2, 3840},
         "2026-03-04T05:06:07.089,1,10:00:00:03,10:00:00:01,2,3840,4800.00"},
        {"behind, rate rounded", {kStamp, 6500, "10:00:00:03", "10:00:00:05", true, -2, -3840},
         "2026-03-04T05:06:07.089,6,10:00:00:03,10:00:00:05,-2,-3840,-1107.69"},
        {"reference lost: no rate", {kStamp, 6500, "10:00:00:03", "", false, 0, 0},
         "2026-03-04T05:06:07.089,6,10:00:00:03,,0,0,0.00"},
        {"no clock yet: no rate", {kStamp, 0, "10:00:00:03", "10:00:00:01", true, 2, 3840},
         "2026-03-04T05:06:07.089,0,10:00:00:03,10:00:00:01,2,3840,0.00"},
        {"big numbers keep no separators", {kStamp, 90061000, "", "", true, 1234567, 2370368640LL},
         "2026-03-04T05:06:07.089,90061,,,1234567,2370368640,49349.23"},
    };
    // A decimal comma and group separators in the user's locale must not
    // reach the file.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(log_.open(path()));
    QString expected = QString(DriftLog::kHeader) + "\n";
    for (const Case& c : cases) {
        EXPECT_EQ(DriftLog::formatRow(c.row).toStdString(), c.line) << c.what;
        EXPECT_TRUE(log_.append(c.row)) << c.what;
        expected += QString(c.line) + "\n";
    }
    log_.close();
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(readAll(path()).toStdString(), expected.toStdString());
    EXPECT_EQ(QString(DriftLog::kHeader), "timestamp,elapsed_seconds,internal_tc,external_tc,drift_frames,"
                                          "drift_samples,drift_rate_frames_per_hour");

    // A second run appends to the same file without a second header.
    ASSERT_TRUE(log_.open(path()));
    EXPECT_TRUE(log_.append(cases[0].row));
    log_.close();
    EXPECT_EQ(readAll(path()).toStdString(), (expected + cases[0].line + "\n").toStdString());
}

TEST_F(DriftLogTest, CountsRowsAndTimeByItsClock)
{
    clockMs_ = 5000;
    ASSERT_TRUE(log_.open(path()));
    EXPECT_TRUE(log_.isOpen());
    EXPECT_EQ(log_.fileName(), path());
    EXPECT_EQ(log_.rowCount(), 0);
    EXPECT_EQ(log_.elapsedMs(), 0);
    clockMs_ = 7250;
    log_.append({kStamp, 0, "", "", false, 0, 0});
    log_.append({kStamp, 0, "", "", false, 0, 0});
    EXPECT_EQ(log_.rowCount(), 2);
    EXPECT_EQ(log_.elapsedMs(), 2250);
    log_.close();
    EXPECT_FALSE(log_.isOpen());
    EXPECT_EQ(log_.rowCount(), 2) << "the count of the last run stays to be shown";
    EXPECT_FALSE(log_.append({kStamp, 0, "", "", false, 0, 0})) << "nothing is written once closed";

    // Opened again, the count and the time start over.
    ASSERT_TRUE(log_.open(path()));
    EXPECT_EQ(log_.rowCount(), 0);
    EXPECT_EQ(log_.elapsedMs(), 0);
}

TEST_F(DriftLogTest, SaysWhyItCannotOpenOrWrite)
{
    EXPECT_FALSE(log_.open(home_.path() + "/no/such/folder/log.csv"));
    EXPECT_FALSE(log_.isOpen());
    EXPECT_FALSE(log_.errorString().isEmpty());

    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "SKIPPED: /dev/full is missing; the full-disk case did not run";
    // The header of an empty file goes out at open; the full disk shows at
    // the first row, which is then not counted.
    ASSERT_TRUE(log_.open("/dev/full"));
    EXPECT_FALSE(log_.append({kStamp, 1000, "10:00:00:00", "10:00:00:00", true, 0, 0}));
    EXPECT_EQ(log_.rowCount(), 0);
    EXPECT_FALSE(log_.errorString().isEmpty());
    EXPECT_EQ(log_.fileName(), "/dev/full");
}

}  // namespace

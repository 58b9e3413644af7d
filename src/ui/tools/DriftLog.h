#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QFile;
class QTextStream;

// The timecode accuracy test's drift log: a CSV file, one header line when the
// file is new, then one row per measurement appended and flushed at once so a
// crash loses at most the row being written. Numbers are written the same in
// every locale (a full stop before the decimals, no group separators), since
// spreadsheets and scripts read the file.
//
// Threads: one thread (the dialog's GUI thread); the clock is called on it.
class DriftLog {
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<int64_t()>;

    static constexpr const char* kHeader = "timestamp,elapsed_seconds,internal_tc,external_tc,drift_frames,"
                                           "drift_samples,drift_rate_frames_per_hour";

    // One measurement. The times are "HH:MM:SS:FF" or empty when unknown.
    struct Row {
        QDateTime timestamp;
        int64_t elapsedMs = 0;  // since the generator was jammed
        QString internalTc;
        QString externalTc;
        bool driftValid = false;  // both times known; otherwise the rate is 0
        int64_t driftFrames = 0;
        int64_t driftSamples = 0;
    };

    explicit DriftLog(Clock clock);
    ~DriftLog();
    DriftLog(const DriftLog&) = delete;
    DriftLog& operator=(const DriftLog&) = delete;

    // Opens `path` for appending (writing the header into an empty file) and
    // starts counting rows and time. False when the file cannot be opened;
    // errorString() says why.
    bool open(const QString& path);
    // False when the row did not reach the file (the log stays open; the
    // caller decides whether to go on). A row not written is not counted.
    bool append(const Row& row);
    void close();

    bool isOpen() const { return stream_ != nullptr; }
    int rowCount() const { return rows_; }
    // Milliseconds since open().
    int64_t elapsedMs() const { return clock_() - openedMs_; }
    QString fileName() const;
    QString errorString() const;

    // The row's line without its line end.
    static QString formatRow(const Row& row);
    // Frames of drift per hour of clock; 0 without a drift or a clock.
    static double rateFramesPerHour(bool driftValid, int64_t driftFrames, int64_t elapsedMs);

private:
    Clock clock_;
    std::unique_ptr<QFile> file_;
    std::unique_ptr<QTextStream> stream_;
    QString lastError_;
    int rows_ = 0;
    int64_t openedMs_ = 0;
};

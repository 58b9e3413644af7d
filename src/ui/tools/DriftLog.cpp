#include "ui/tools/DriftLog.h"

#include "ui/tools/DriftRules.h"

#include <QFile>
#include <QTextStream>

DriftLog::DriftLog(Clock clock) : clock_(std::move(clock)) {}

DriftLog::~DriftLog()
{
    close();
}

bool DriftLog::open(const QString& path)
{
    close();
    file_ = std::make_unique<QFile>(path);
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        lastError_ = file_->errorString();
        file_.reset();
        return false;
    }
    stream_ = std::make_unique<QTextStream>(file_.get());
    if (file_->size() == 0) {
        *stream_ << kHeader << "\n";
        stream_->flush();
    }
    rows_ = 0;
    openedMs_ = clock_();
    return true;
}

bool DriftLog::append(const Row& row)
{
    if (!stream_)
        return false;
    *stream_ << formatRow(row) << "\n";
    stream_->flush();
    if (stream_->status() != QTextStream::Ok || file_->error() != QFileDevice::NoError) {
        lastError_ = file_->errorString();
        return false;
    }
    ++rows_;
    return true;
}

void DriftLog::close()
{
    if (stream_)
        stream_->flush();
    stream_.reset();
    if (file_)
        file_->close();
    file_.reset();
}

QString DriftLog::fileName() const
{
    return file_ ? file_->fileName() : QString();
}

QString DriftLog::errorString() const
{
    return lastError_;
}

QString DriftLog::formatRow(const Row& row)
{
    const double rate = rateFramesPerHour(row.driftValid, row.driftFrames, row.elapsedMs);
    return row.timestamp.toString(Qt::ISODateWithMs) + ',' + QString::number(row.elapsedMs / 1000) + ','
           + row.internalTc + ',' + row.externalTc + ',' + QString::number(row.driftFrames) + ','
           + QString::number(row.driftSamples) + ',' + QString::number(rate, 'f', 2);
}

double DriftLog::rateFramesPerHour(bool driftValid, int64_t driftFrames, int64_t elapsedMs)
{
    if (!driftValid || elapsedMs < 1)
        return 0.0;
    return static_cast<double>(driftFrames) / (static_cast<double>(elapsedMs) / driftRules::kMsPerHour);
}

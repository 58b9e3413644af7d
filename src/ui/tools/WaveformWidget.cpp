#include "ui/tools/WaveformWidget.h"

#include "media/WavFileReader.h"
#include "ui/common/BackgroundWork.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>

#include <algorithm>
#include <cmath>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr float kScaleThreshold = 0.001f;
constexpr double kRepaintThreshold = 0.001;
const QColor kBackground(0x1a, 0x1a, 0x1a);
const QColor kEmptyText(0x50, 0x50, 0x50);
const QColor kBarEdge(0x00, 0xb4, 0xdc);
const QColor kBarMiddle(0x00, 0xdc, 0xb4);
const QColor kLine(0x3c, 0x3c, 0x3c);
const QColor kPlayhead(0x00, 0xff, 0x64);

using Peaks = std::vector<std::pair<float, float>>;

constexpr int kBlocksPerCacheDrop = 64;

struct Overview {
    Peaks peaks;
    double durationSeconds = 0.0;
    bool loaded = false;
};

// One pass over gigabytes would fill the page cache, and making room for it
// stalls the whole process, the GUI thread included, and pushes out what the
// recorder needs: the pages read are dropped as the read goes. Only those
// behind the read: a file already in the cache would otherwise be read from
// the disk again, and the read-ahead wasted.
class ReadPagesDropper {
public:
    explicit ReadPagesDropper(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~ReadPagesDropper()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ReadPagesDropper(const ReadPagesDropper&) = delete;
    ReadPagesDropper& operator=(const ReadPagesDropper&) = delete;

    // Every byte before `endOffset` has been read.
    void dropBefore(int64_t endOffset)
    {
        if (fd_ >= 0 && endOffset > 0)
            ::posix_fadvise(fd_, 0, static_cast<off_t>(endOffset), POSIX_FADV_DONTNEED);
    }
    // The whole file has been read.
    void dropAll()
    {
        if (fd_ >= 0)
            ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    }

private:
    int fd_;
};

// Pairs of `bucketFrames` samples each over the first `pairCount` buckets;
// the samples past pairCount x bucketFrames are not drawn. False when the
// file cannot be opened or the load was cancelled.
bool readPeaks(const std::string& path, int64_t frameCount, Peaks& peaks, int64_t& framesRead, QPromise<void>& promise)
{
    peaks.clear();
    framesRead = 0;
    WavFileReader reader;
    if (!reader.open(path))
        return false;
    const int channels = reader.getChannels();
    const int64_t pairCount = std::min<int64_t>(frameCount, WaveformWidget::kMaxPairs);
    const int64_t bucketFrames = std::max<int64_t>(frameCount / pairCount, 1);
    const int64_t drawnFrames = pairCount * bucketFrames;
    peaks.reserve(static_cast<size_t>(pairCount));

    std::vector<float> block(static_cast<size_t>(channels) * WaveformWidget::kBlockFrames);
    float low = 0.0f;
    float high = 0.0f;
    int64_t inBucket = 0;
    ReadPagesDropper readPages(path);
    const int64_t frameBytes = int64_t(channels) * ((reader.getBitsPerSample() + 7) / 8);
    int blocks = 0;
    while (!reader.isAtEnd()) {
        if (++blocks % kBlocksPerCacheDrop == 0)
            readPages.dropBefore(reader.getDataStartOffset() + framesRead * frameBytes);
        if (promise.isCanceled())
            return false;
        const int got = reader.readFrames(block.data(), WaveformWidget::kBlockFrames, channels);
        if (got <= 0)
            break;
        const int drawn = static_cast<int>(std::clamp<int64_t>(drawnFrames - framesRead, 0, got));
        for (int f = 0; f < drawn; ++f) {
            const float sample = block[static_cast<size_t>(f) * static_cast<size_t>(channels)];
            low = std::min(low, sample);
            high = std::max(high, sample);
            if (++inBucket == bucketFrames) {
                peaks.emplace_back(low, high);
                low = high = 0.0f;
                inBucket = 0;
            }
        }
        framesRead += got;
        promise.setProgressValue(static_cast<int>(std::min(framesRead, frameCount) * 1000 / frameCount));
    }
    reader.close();
    readPages.dropAll();
    return true;
}

void normalisePeaks(Peaks& peaks)
{
    float peak = 0.0f;
    for (const auto& [low, high] : peaks)
        peak = std::max({peak, std::fabs(low), std::fabs(high)});
    if (peak <= kScaleThreshold)
        return;
    for (auto& [low, high] : peaks) {
        low /= peak;
        high /= peak;
    }
}

// The whole overview of a file; runs on the background pool.
void readOverview(const std::string& path, Overview& overview, QPromise<void>& promise)
{
    WavFileReader probe;
    if (!probe.open(path))
        return;
    const int64_t totalFrames = probe.getTotalFrames();
    const int channels = probe.getChannels();
    const double duration = probe.getDuration();
    probe.close();
    if (totalFrames <= 0 || channels <= 0)
        return;
    promise.setProgressRange(0, 1000);

    // The buckets follow from the frame count, so a file that delivers fewer
    // frames than its header promised is read again with the count it gave.
    int64_t framesRead = 0;
    if (!readPeaks(path, totalFrames, overview.peaks, framesRead, promise))
        return;
    if (framesRead < totalFrames) {
        int64_t again = 0;
        if (framesRead <= 0 || !readPeaks(path, framesRead, overview.peaks, again, promise))
            overview.peaks.clear();
    }
    if (promise.isCanceled())
        return;
    normalisePeaks(overview.peaks);
    overview.durationSeconds = duration;
    overview.loaded = true;
}

}  // namespace

WaveformWidget::WaveformWidget(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(80);
    setMaximumHeight(120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

WaveformWidget::~WaveformWidget()
{
    cancelAndWait(load_);
}

void WaveformWidget::loadFile(const std::string& path)
{
    clear();
    loading_ = true;
    const int number = ++loadNumber_;
    auto overview = std::make_shared<Overview>();
    startBackgroundWork(load_, [path, overview](QPromise<void>& promise) { readOverview(path, *overview, promise); });
    progress_ = showWorkProgress(load_, this, QStringLiteral("Waveform"), QStringLiteral("Loading waveform..."), true);
    // The rest of the playback window stays usable while the take is read.
    progress_->setWindowModality(Qt::NonModal);
    const auto show = [this, number, overview] {
        // A load replaced or cleared since has nothing more to show.
        if (number != loadNumber_)
            return;
        loading_ = false;
        if (overview->loaded) {
            peaks_ = std::move(overview->peaks);
            durationSeconds_ = overview->durationSeconds;
        }
        update();
        emit loadFinished(overview->loaded);
    };
    connect(&load_, &QFutureWatcherBase::finished, this, show, Qt::SingleShotConnection);
    update();
}

void WaveformWidget::stopLoading()
{
    if (load_.isRunning())
        cancelAndWait(load_);
    if (loading_) {
        loading_ = false;
        ++loadNumber_;
    }
    // The old load's dialog would otherwise follow the next load too.
    delete progress_;
}

void WaveformWidget::clear()
{
    stopLoading();
    peaks_.clear();
    position_ = 0.0;
    durationSeconds_ = 0.0;
    update();
}

void WaveformWidget::setPlaybackPosition(double position)
{
    position = std::clamp(position, 0.0, 1.0);
    if (std::fabs(position - position_) <= kRepaintThreshold)
        return;
    position_ = position;
    update();
}

void WaveformWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    painter.fillRect(rect(), kBackground);
    if (peaks_.empty()) {
        painter.setPen(kEmptyText);
        painter.drawText(rect(), Qt::AlignCenter, loading_ ? "Loading waveform..." : "Select a file to view waveform");
        return;
    }

    QLinearGradient gradient(0, 0, 0, h);
    gradient.setColorAt(0.0, kBarEdge);
    gradient.setColorAt(0.5, kBarMiddle);
    gradient.setColorAt(1.0, kBarEdge);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    const int centreY = h / 2;
    const double step = static_cast<double>(w) / static_cast<double>(peaks_.size());
    const double barWidth = std::max(step - 0.5, 1.0);
    const double amplitude = (h - 10) / 2.0;
    for (size_t i = 0; i < peaks_.size(); ++i) {
        const int top = static_cast<int>(amplitude * peaks_[i].second);
        const int bottom = static_cast<int>(amplitude * peaks_[i].first);
        const double x = step * static_cast<double>(i);
        if (top > bottom)
            painter.drawRect(QRectF(x, centreY - top, barWidth, top - bottom));
        else
            painter.drawRect(QRectF(x, centreY - 1, barWidth, 2));
    }

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kLine, 1));
    painter.drawLine(0, centreY, w, centreY);
    if (position_ > 0.0) {
        painter.setPen(QPen(kPlayhead, 2));
        const int x = static_cast<int>(position_ * w);
        painter.drawLine(x, 0, x, h);
    }
    painter.setPen(QPen(kLine, 1));
    painter.drawRect(0, 0, w - 2, h - 2);
}

void WaveformWidget::mousePressEvent(QMouseEvent* event)
{
    if (peaks_.empty() || durationSeconds_ <= 0.0 || event->button() != Qt::LeftButton || width() <= 0)
        return;
    const double x = std::round(event->position().x());
    emit seekRequested(std::clamp(x / width(), 0.0, 1.0));
}

void WaveformWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}

// The waveform overview against peaks computed from libsndfile's reading of
// the same file, its playhead and clicks, and its pixels.

#include "MediaTestFiles.h"
#include "engine/RenderTestSupport.h"
#include "media/BwfFileWriter.h"
#include "support/GuiLatenessProbe.h"
#include "support/WidgetLegibility.h"
#include "support/TempHome.h"
#include "ui/tools/SparseTake.h"
#include "ui/tools/PlaybackDialog.h"
#include "ui/tools/WaveformWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <random>

namespace {

using Peaks = std::vector<std::pair<float, float>>;

// The overview from first principles: n = min(c, 1000) buckets of c / n
// samples of channel 0, the tail left out, scaled by the loudest value when
// that is above 0.001.
Peaks oraclePeaks(const SndfileContent& content)
{
    const int64_t c = content.frames;
    Peaks peaks;
    if (c == 0)
        return peaks;
    const int64_t n = std::min<int64_t>(c, 1000);
    const int64_t s = std::max<int64_t>(c / n, 1);
    float loudest = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        float low = 0.0f, high = 0.0f;
        for (int64_t f = i * s; f < std::min((i + 1) * s, c); ++f) {
            const float v = content.samples[static_cast<size_t>(f * content.channels)];
            low = std::min(low, v);
            high = std::max(high, v);
        }
        peaks.emplace_back(low, high);
        loudest = std::max({loudest, -low, high});
    }
    if (loudest > 0.001f)
        for (auto& [low, high] : peaks) {
            low /= loudest;
            high /= loudest;
        }
    return peaks;
}

// Two channels: the first random within ±0.7, the second louder (full
// scale), so drawing the wrong channel changes the picture.
std::vector<float> twoChannels(int64_t frames, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> first(-0.7f, 0.7f);
    std::vector<float> samples(static_cast<size_t>(frames * 2));
    for (int64_t f = 0; f < frames; ++f) {
        samples[static_cast<size_t>(2 * f)] = first(random);
        samples[static_cast<size_t>(2 * f + 1)] = (f % 2 ? 0.99f : -0.99f);
    }
    return samples;
}

bool writeSndfile(const std::string& path, int container, int subtype, int channels, const std::vector<float>& data)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = container | subtype;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(data.size()) / channels;
    const bool ok = sf_writef_float(file, data.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

bool writeWithOurWriter(const std::string& path, BwfFileWriter::SampleFormat format, int channels,
                        const std::vector<float>& data)
{
    BwfFileWriter writer;
    if (!writer.open(path, 48000, channels, format))
        return false;
    const bool ok = writer.writeFrames(data.data(), static_cast<int>(data.size()) / channels);
    return writer.close() && ok;
}

void expectPeaksEqual(const Peaks& got, const Peaks& want, const std::string& what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i].first, want[i].first, 1e-6) << what << " pair " << i;
        ASSERT_NEAR(got[i].second, want[i].second, 1e-6) << what << " pair " << i;
    }
}

// Loads the file and waits for the outcome of the background read.
bool load(WaveformWidget& widget, const std::string& file)
{
    QSignalSpy done(&widget, &WaveformWidget::loadFinished);
    widget.loadFile(file);
    EXPECT_TRUE(done.wait(60000)) << file;
    return !done.isEmpty() && done.first().at(0).toBool();
}

class WaveformWidgetTest : public TempHomeTest {
protected:
    std::string path(const std::string& name) const { return home_.pathStd() + "/" + name; }
};

TEST_F(WaveformWidgetTest, PeaksMatchLibsndfileForEveryFormatAndLength)
{
    struct Format {
        const char* name;
        int sfSubtype;
        BwfFileWriter::SampleFormat ours;
    };
    const Format formats[] = {{"pcm16", SF_FORMAT_PCM_16, BwfFileWriter::Int16},
                              {"pcm24", SF_FORMAT_PCM_24, BwfFileWriter::Int24},
                              {"pcm32", SF_FORMAT_PCM_32, BwfFileWriter::Int32},
                              {"float", SF_FORMAT_FLOAT, BwfFileWriter::Float32}};
    struct Length {
        int64_t frames;
        size_t pairs;
    };
    const Length lengths[] = {{500, 500}, {48000, 1000}, {48999, 1000}};
    const struct {
        const char* name;
        int container;  // 0: our own writer (RF64 takes)
    } writers[] = {{"riff", SF_FORMAT_WAV}, {"rf64", SF_FORMAT_RF64}, {"ours", 0}};

    for (const Length& length : lengths) {
        const std::vector<float> data = twoChannels(length.frames, static_cast<uint32_t>(length.frames));
        for (const Format& format : formats) {
            for (const auto& writer : writers) {
                const std::string what = std::string(format.name) + "-" + writer.name + "-" +
                                         std::to_string(length.frames);
                const std::string file = path(what + ".wav");
                ASSERT_TRUE(writer.container != 0 ? writeSndfile(file, writer.container, format.sfSubtype, 2, data)
                                                  : writeWithOurWriter(file, format.ours, 2, data))
                    << what;
                const SndfileContent content = readWithSndfile(file);
                ASSERT_EQ(content.frames, length.frames) << what;

                WaveformWidget widget;
                ASSERT_TRUE(load(widget, file)) << what;
                EXPECT_EQ(widget.peaks().size(), length.pairs) << what;
                expectPeaksEqual(widget.peaks(), oraclePeaks(content), what);
                EXPECT_DOUBLE_EQ(widget.durationSeconds(), length.frames / 48000.0) << what;
            }
        }
    }
}

TEST_F(WaveformWidgetTest, TheTailPastTheLastWholeBucketIsNotDrawn)
{
    // 48999 frames: 1000 buckets of 48; the last 999 frames hold the loudest
    // sample, which must neither show nor set the scale.
    std::vector<float> data(48999 * 2, 0.25f);
    for (size_t f = 48000; f < 48999; ++f)
        data[2 * f] = 0.9f;
    ASSERT_TRUE(writeSndfile(path("tail.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 2, data));
    WaveformWidget widget;
    ASSERT_TRUE(load(widget, path("tail.wav")));
    ASSERT_EQ(widget.peaks().size(), 1000u);
    for (const auto& [low, high] : widget.peaks()) {
        EXPECT_EQ(low, 0.0f);
        EXPECT_FLOAT_EQ(high, 1.0f);
    }
}

TEST_F(WaveformWidgetTest, SilenceStaysUnscaledAndHalfScaleIsDrawnFull)
{
    ASSERT_TRUE(writeSndfile(path("silence.wav"), SF_FORMAT_WAV, SF_FORMAT_PCM_16, 1, std::vector<float>(4800, 0.0f)));
    std::vector<float> half(4800, 0.0f);
    half[100] = 0.5f;
    half[2000] = -0.25f;
    ASSERT_TRUE(writeSndfile(path("half.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, half));

    WaveformWidget widget;
    ASSERT_TRUE(load(widget, path("silence.wav")));
    for (const auto& [low, high] : widget.peaks())
        ASSERT_TRUE(low == 0.0f && high == 0.0f);
    ASSERT_TRUE(load(widget, path("half.wav")));
    float highest = 0.0f, lowest = 0.0f;
    for (const auto& [low, high] : widget.peaks()) {
        highest = std::max(highest, high);
        lowest = std::min(lowest, low);
    }
    EXPECT_FLOAT_EQ(highest, 1.0f);
    EXPECT_FLOAT_EQ(lowest, -0.5f);

    EXPECT_FALSE(load(widget, path("missing.wav")));
    EXPECT_TRUE(widget.peaks().empty());
    EXPECT_EQ(widget.durationSeconds(), 0.0);
}

TEST_F(WaveformWidgetTest, PlayheadClampsAndIgnoresTinyChanges)
{
    WaveformWidget widget;
    const struct {
        double set;
        double stored;
    } cases[] = {{1.5, 1.0}, {0.5, 0.5}, {0.5009, 0.5}, {0.5011, 0.5011}, {-0.2, 0.0}, {0.0005, 0.0}};
    for (const auto& c : cases) {
        widget.setPlaybackPosition(c.set);
        EXPECT_DOUBLE_EQ(widget.playbackPosition(), c.stored) << c.set;
    }
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST_F(WaveformWidgetTest, OnlyAPlayheadMoveAboveAThousandthRepaints)
{
    ASSERT_TRUE(writeSndfile(path("a.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, std::vector<float>(4800, 0.3f)));
    WaveformWidget widget;
    widget.resize(400, 100);
    ASSERT_TRUE(load(widget, path("a.wav")));
    widget.show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    widget.installEventFilter(&counter);
    const struct {
        double position;
        int paints;
    } steps[] = {{0.5, 1}, {0.5009, 1}, {0.4991, 1}, {0.502, 2}, {0.502, 2}};
    for (const auto& step : steps) {
        widget.setPlaybackPosition(step.position);
        QCoreApplication::processEvents();
        EXPECT_EQ(counter.paints, step.paints) << step.position;
    }
}

TEST_F(WaveformWidgetTest, LeftClickAsksForASeekAtItsFraction)
{
    WaveformWidget widget;
    widget.resize(400, 100);
    QSignalSpy seeks(&widget, &WaveformWidget::seekRequested);
    QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(100, 50));
    EXPECT_EQ(seeks.count(), 0) << "nothing loaded";

    ASSERT_TRUE(writeSndfile(path("a.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, std::vector<float>(4800, 0.3f)));
    ASSERT_TRUE(load(widget, path("a.wav")));
    QTest::mouseClick(&widget, Qt::RightButton, {}, QPoint(100, 50));
    EXPECT_EQ(seeks.count(), 0) << "right button";
    QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(100, 50));
    QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(399, 50));
    ASSERT_EQ(seeks.count(), 2);
    EXPECT_DOUBLE_EQ(seeks[0][0].toDouble(), 0.25);
    EXPECT_DOUBLE_EQ(seeks[1][0].toDouble(), 399.0 / 400.0);
    EXPECT_DOUBLE_EQ(widget.playbackPosition(), 0.0) << "the owner moves the playhead";
}

TEST_F(WaveformWidgetTest, PixelsShowBackgroundCentreLineAndPlayhead)
{
    // Positive-only samples: the bars stand above the centre line, leaving
    // the lower half as background.
    ASSERT_TRUE(writeSndfile(path("up.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, std::vector<float>(4800, 0.5f)));
    WaveformWidget widget;
    widget.resize(400, 100);
    ASSERT_TRUE(load(widget, path("up.wav")));
    widget.setPlaybackPosition(0.3337);
    const QImage image = widget.grab().toImage();
    ASSERT_EQ(image.width(), 400);
    const int centreY = 50;
    const int playheadX = static_cast<int>(0.3337 * 400);

    EXPECT_EQ(image.pixelColor(200, 80).rgb(), QColor(0x1a, 0x1a, 0x1a).rgb()) << "background below the bars";
    const QColor bar = image.pixelColor(200, 30);
    EXPECT_EQ(bar.red(), 0);
    EXPECT_GT(bar.green(), 0xb0);
    EXPECT_GT(bar.blue(), 0xb0);
    // The 1-pixel centre line straddles rows 49 and 50; on row 50 it lies
    // over background, a grey lighter than it.
    const QColor line = image.pixelColor(200, centreY);
    EXPECT_EQ(line.red(), line.green());
    EXPECT_EQ(line.green(), line.blue());
    EXPECT_GT(line.red(), 0x1a);
    EXPECT_LE(line.red(), 0x3c);
    EXPECT_EQ(image.pixelColor(playheadX, 80).rgb(), QColor(0x00, 0xff, 0x64).rgb());
    EXPECT_EQ(image.pixelColor(playheadX - 1, 80).rgb(), QColor(0x00, 0xff, 0x64).rgb());
    EXPECT_EQ(image.pixelColor(playheadX + 2, 80).rgb(), QColor(0x1a, 0x1a, 0x1a).rgb());
}

// A 2 GiB take (sparse: silence but for one sample) read beside a 10 ms
// timer standing in for the meters and the record keys: the timer is never
// held up, the widget says "Loading waveform..." meanwhile, and the one
// sample lands in its bucket.
class BigTakeTest : public WaveformWidgetTest {
protected:
    static constexpr int64_t kDataBytes = int64_t(1) << 31;
    static constexpr int64_t kFrames = kDataBytes / 8;  // 2 channels of 32-bit float
    static constexpr int64_t kLoudFrame = kFrames / 3;

    void SetUp() override
    {
        big_ = path("big.wav");
        ASSERT_TRUE(writeSparseTake(big_, uint32_t(kDataBytes), kLoudFrame));
    }
    void TearDown() override { std::remove(big_.c_str()); }

    std::string big_;
};

TEST_F(BigTakeTest, TwoGigabyteTakeLoadsWhileTheGuiThreadRuns)
{
    WaveformWidget widget;
    widget.resize(400, 100);
    QSignalSpy done(&widget, &WaveformWidget::loadFinished);
    // The first picture loads the fonts: the window's start, not the load's.
    (void)widget.grab();
    GuiLatenessProbe probe;
    probe.start();
    widget.loadFile(big_);
    EXPECT_TRUE(widget.isLoading());
    EXPECT_TRUE(widget.peaks().empty());
    const QImage loading = widget.grab().toImage();
    ASSERT_TRUE(done.wait(600000));
    probe.stop();
#ifndef TONVALE_SANITIZED_BUILD
    EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
#endif
    ASSERT_EQ(done.count(), 1);
    EXPECT_TRUE(done.first().at(0).toBool());
    EXPECT_FALSE(widget.isLoading());
    ASSERT_EQ(widget.peaks().size(), 1000u);
    const size_t loudBucket = static_cast<size_t>(kLoudFrame / (kFrames / 1000));
    for (size_t i = 0; i < widget.peaks().size(); ++i) {
        ASSERT_EQ(widget.peaks()[i].first, i == loudBucket ? -1.0f : 0.0f) << i;
        ASSERT_EQ(widget.peaks()[i].second, 0.0f) << i;
    }
    EXPECT_DOUBLE_EQ(widget.durationSeconds(), kFrames / 48000.0);
    // The loading text is drawn in the empty text's grey, not the bars' colours.
    bool grey = false;
    for (int x = 0; x < loading.width() && !grey; ++x)
        grey = loading.pixelColor(x, 50).rgb() != QColor(0x1a, 0x1a, 0x1a).rgb();
    EXPECT_TRUE(grey) << "some text in the middle row";
}

// Cancel stops the read and shows nothing; a new file replaces a running
// load, and only the new one reports; a widget destroyed mid-read waits.
// None of them leaves a descriptor open.
TEST_F(BigTakeTest, CancelReplaceAndDestroyMidLoad)
{
    // Descriptors of this process open on the two takes (Qt's own come and
    // go with its threads, so only these are counted).
    ASSERT_TRUE(writeSndfile(path("small.wav"), SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, std::vector<float>(4800, 0.3f)));
    const std::filesystem::path takes[] = {std::filesystem::canonical(big_), std::filesystem::canonical(path("small.wav"))};
    const auto openOnTakes = [&] {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
            count += !error && (target == takes[0] || target == takes[1]) ? 1 : 0;
        }
        return count;
    };
    WaveformWidget widget;
    QSignalSpy done(&widget, &WaveformWidget::loadFinished);
    widget.loadFile(big_);
    auto* cancel = widget.findChild<QProgressDialog*>()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    ASSERT_EQ(cancel->text(), "Cancel");
    cancel->click();
    ASSERT_TRUE(done.wait(60000));
    EXPECT_FALSE(done.first().at(0).toBool());
    EXPECT_FALSE(widget.isLoading());
    EXPECT_TRUE(widget.peaks().empty());
    EXPECT_EQ(openOnTakes(), 0);

    done.clear();
    widget.loadFile(big_);
    widget.loadFile(path("small.wav"));
    ASSERT_TRUE(done.wait(60000));
    QTest::qWait(50);  // room for a stray report of the replaced load
    ASSERT_EQ(done.count(), 1);
    EXPECT_TRUE(done.first().at(0).toBool());
    EXPECT_EQ(widget.peaks().size(), 1000u);
    EXPECT_DOUBLE_EQ(widget.durationSeconds(), 0.1);
    EXPECT_TRUE(widget.findChildren<QProgressDialog*>().size() <= 1);

    auto* doomed = new WaveformWidget;
    doomed->loadFile(big_);
    delete doomed;
    EXPECT_EQ(openOnTakes(), 0);
}

// The playback dialog while a take's waveform is read, at two window sizes.
TEST_F(BigTakeTest, GrabPlaybackDialogWhileLoading)
{
    PlaybackDialog dialog(nullptr);
    for (const QSize size : {QSize(1024, 768), QSize(1920, 1080)}) {
        dialog.resize(size);
        dialog.show();
        dialog.selectFile(QString::fromStdString(big_));
        ASSERT_TRUE(dialog.waveform()->isLoading());
        EXPECT_TRUE(keepPicture(dialog, QString("playback-loading-%1").arg(size.width())));
        auto* progress = dialog.waveform()->findChild<QProgressDialog*>();
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(keepPicture(*progress, QString("waveform-progress-%1").arg(size.width())));
        dialog.waveform()->clear();
    }
}

}  // namespace

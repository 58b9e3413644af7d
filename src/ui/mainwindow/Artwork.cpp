#include "ui/mainwindow/Artwork.h"

#include "ui/common/Theme.h"

#include <QDir>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

const char* const kRecordStopOff = "BUTTONS OFF.png";
const char* const kRecordStopOn = "BUTTONS ON.png";
const char* const kFaderCap = "fader.png";
const char* const kSplash = "TonvelLoading.png";

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawKey(QPainter& painter, const QRectF& key, bool lit, const QColor& litColour)
{
    QLinearGradient body(key.topLeft(), key.bottomLeft());
    body.setColorAt(0.0, lit ? litColour.darker(250) : QColor(Theme::kArtKeyTop));
    body.setColorAt(1.0, lit ? litColour.darker(400) : QColor(Theme::kArtKeyBottom));
    painter.setPen(QPen(lit ? litColour : QColor(Theme::kArtKeyRim), 4));
    painter.setBrush(body);
    painter.drawRoundedRect(key, 24, 24);
}

// Record on the left half, stop on the right; `recording` lights record.
QImage drawRecordStop(bool recording)
{
    QImage image = blankImage(400, 200);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF recordKey(8, 8, 184, 184);
    const QRectF stopKey(208, 8, 184, 184);
    const QColor red(Theme::kArtRecord);
    drawKey(painter, recordKey, recording, red);
    drawKey(painter, stopKey, false, QColor(Theme::kArtStopLit));

    QRadialGradient glow(recordKey.center(), 60);
    glow.setColorAt(0.0, recording ? QColor(Theme::kArtRecordGlowOn) : QColor(Theme::kArtRecordGlowOff));
    glow.setColorAt(1.0, recording ? red : QColor(Theme::kArtRecordEdgeOff));
    painter.setPen(QPen(recording ? QColor(Theme::kArtRecordRimOn) : QColor(Theme::kArtRecordRimOff), 3));
    painter.setBrush(glow);
    painter.drawEllipse(recordKey.center(), 52, 52);

    painter.setPen(QPen(recording ? QColor(Theme::kArtStopRimRecording) : QColor(Theme::kArtStopRim), 3));
    painter.setBrush(recording ? QColor(Theme::kArtStopFaceRecording) : QColor(Theme::kArtStopFace));
    painter.drawRoundedRect(QRectF(stopKey.center().x() - 44, stopKey.center().y() - 44, 88, 88), 8, 8);
    return image;
}

QImage drawFaderCap()
{
    QImage image = blankImage(60, 120);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, 120);
    body.setColorAt(0.0, QColor(Theme::kArtCapTop));
    body.setColorAt(0.48, QColor(Theme::kArtCapUpperMiddle));
    body.setColorAt(0.52, QColor(Theme::kArtCapLowerMiddle));
    body.setColorAt(1.0, QColor(Theme::kArtCapBottom));
    painter.setPen(QPen(QColor(Theme::kArtCapOutline), 2));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2, 2, 56, 116), 6, 6);
    painter.setPen(QPen(QColor(Theme::kArtCapRidge), 2));
    for (int ridge = 14; ridge <= 106; ridge += 10) {
        if (ridge > 50 && ridge < 70)
            continue;
        painter.drawLine(QPointF(8, ridge), QPointF(52, ridge));
    }
    painter.setPen(QPen(QColor(Theme::kArtCapLine), 4));
    painter.drawLine(QPointF(4, 60), QPointF(56, 60));
    return image;
}

// A drive body with its name and a status lamp of `colour`.
QImage drawDriveIcon(const QString& label, const QColor& colour)
{
    QImage image = blankImage(128, 128);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 20, 0, 108);
    body.setColorAt(0.0, QColor(Theme::kArtDriveTop));
    body.setColorAt(1.0, QColor(Theme::kArtDriveBottom));
    painter.setPen(QPen(QColor(Theme::kArtDriveRim), 3));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(8, 22, 112, 84), 12, 12);
    painter.setPen(QPen(QColor(Theme::kArtDriveSeam), 2));
    painter.drawLine(QPointF(16, 84), QPointF(112, 84));

    painter.setPen(Qt::NoPen);
    QRadialGradient lamp(QPointF(100, 95), 9);
    lamp.setColorAt(0.0, colour.lighter(160));
    lamp.setColorAt(1.0, colour);
    painter.setBrush(lamp);
    painter.drawEllipse(QPointF(100, 95), 7, 7);

    QFont font("DejaVu Sans");
    font.setPixelSize(label.size() > 3 ? 26 : 30);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(Theme::kArtDriveLabel));
    painter.drawText(QRectF(8, 26, 112, 56), Qt::AlignCenter, label);
    painter.fillRect(QRectF(16, 90, 64, 10), colour.darker(130));
    return image;
}

QImage drawSplash()
{
    QImage image(640, 320, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, 320);
    background.setColorAt(0.0, QColor(Theme::kArtSplashTop));
    background.setColorAt(1.0, QColor(Theme::kArtSplashBottom));
    painter.fillRect(image.rect(), background);

    // A row of meter bars, as the recorder shows its tracks.
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        const double level = 0.35 + 0.55 * std::abs(std::sin(bar * 0.7));
        const int height = static_cast<int>(level * 70);
        const QColor colour = level > 0.8    ? QColor(Theme::kArtSplashLoud)
                              : level > 0.65 ? QColor(Theme::kArtSplashMiddle)
                                             : QColor(Theme::kArtSplashQuiet);
        painter.fillRect(QRect(80 + bar * 20, 270 - height, 14, height), colour);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Theme::kArtRecord));
    painter.drawEllipse(QPointF(150, 118), 18, 18);

    QFont title("DejaVu Sans");
    title.setPixelSize(64);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(Theme::kArtSplashTitle));
    painter.drawText(QRect(180, 70, 400, 96), Qt::AlignLeft | Qt::AlignVCenter, "Tonvale");
    QFont subtitle("DejaVu Sans");
    subtitle.setPixelSize(20);
    painter.setFont(subtitle);
    painter.setPen(QColor(Theme::kArtSplashSubtitle));
    painter.drawText(QRect(0, 160, 640, 30), Qt::AlignCenter, "Loading...");
    return image;
}

struct DriveIcon {
    const char* fileName;
    const char* label;
    const char* colour;
};

// The lamp takes the colour the window shows for the drive's state.
constexpr DriveIcon kDriveIcons[] = {
    {"int-grn.png", "INT", Theme::kGo},     {"int-red.png", "INT", Theme::kAlert},
    {"int-yel.png", "INT", Theme::kCaution}, {"ext1-grn.png", "EXT1", Theme::kGo},
    {"ext1-red.png", "EXT1", Theme::kAlert}, {"ext1-yel.png", "EXT1", Theme::kCaution},
    {"ext2-grn.png", "EXT2", Theme::kGo},   {"ext2-red.png", "EXT2", Theme::kAlert},
    {"ext2-yel.png", "EXT2", Theme::kCaution},
};

} // namespace

QStringList artworkFileNames()
{
    QStringList names = {kRecordStopOff, kRecordStopOn, kFaderCap, kSplash};
    for (const DriveIcon& icon : kDriveIcons)
        names.append(icon.fileName);
    return names;
}

QImage drawArtwork(const QString& fileName)
{
    if (fileName == kRecordStopOff)
        return drawRecordStop(false);
    if (fileName == kRecordStopOn)
        return drawRecordStop(true);
    if (fileName == kFaderCap)
        return drawFaderCap();
    if (fileName == kSplash)
        return drawSplash();
    for (const DriveIcon& icon : kDriveIcons) {
        if (fileName == icon.fileName)
            return drawDriveIcon(icon.label, QColor(icon.colour));
    }
    return {};
}

bool writeArtwork(const QString& folder, QString* failedName)
{
    QDir().mkpath(folder);
    for (const QString& name : artworkFileNames()) {
        if (!drawArtwork(name).save(folder + "/" + name, "PNG")) {
            if (failedName != nullptr)
                *failedName = name;
            return false;
        }
    }
    return true;
}

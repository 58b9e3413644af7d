#include "ui/mainwindow/Artwork.h"

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
    body.setColorAt(0.0, lit ? litColour.darker(250) : QColor("#4a4a4a"));
    body.setColorAt(1.0, lit ? litColour.darker(400) : QColor("#262626"));
    painter.setPen(QPen(lit ? litColour : QColor("#5c5c5c"), 4));
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
    const QColor red("#ff3b30");
    drawKey(painter, recordKey, recording, red);
    drawKey(painter, stopKey, false, QColor("#d0d0d0"));

    QRadialGradient glow(recordKey.center(), 60);
    glow.setColorAt(0.0, recording ? QColor("#ff8a80") : QColor("#8a2a25"));
    glow.setColorAt(1.0, recording ? red : QColor("#5a1a17"));
    painter.setPen(QPen(recording ? QColor("#ffd0cc") : QColor("#3a1010"), 3));
    painter.setBrush(glow);
    painter.drawEllipse(recordKey.center(), 52, 52);

    painter.setPen(QPen(recording ? QColor("#9a9a9a") : QColor("#e0e0e0"), 3));
    painter.setBrush(recording ? QColor("#6a6a6a") : QColor("#c8c8c8"));
    painter.drawRoundedRect(QRectF(stopKey.center().x() - 44, stopKey.center().y() - 44, 88, 88), 8, 8);
    return image;
}

QImage drawFaderCap()
{
    QImage image = blankImage(60, 120);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, 120);
    body.setColorAt(0.0, QColor("#b8b8b8"));
    body.setColorAt(0.48, QColor("#6e6e6e"));
    body.setColorAt(0.52, QColor("#5e5e5e"));
    body.setColorAt(1.0, QColor("#9a9a9a"));
    painter.setPen(QPen(QColor("#2a2a2a"), 2));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2, 2, 56, 116), 6, 6);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 2));
    for (int ridge = 14; ridge <= 106; ridge += 10) {
        if (ridge > 50 && ridge < 70)
            continue;
        painter.drawLine(QPointF(8, ridge), QPointF(52, ridge));
    }
    painter.setPen(QPen(QColor("#ffffff"), 4));
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
    body.setColorAt(0.0, QColor("#5a5a5a"));
    body.setColorAt(1.0, QColor("#2c2c2c"));
    painter.setPen(QPen(QColor("#777777"), 3));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(8, 22, 112, 84), 12, 12);
    painter.setPen(QPen(QColor("#1a1a1a"), 2));
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
    painter.setPen(QColor("#f0f0f0"));
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
    background.setColorAt(0.0, QColor("#262626"));
    background.setColorAt(1.0, QColor("#141414"));
    painter.fillRect(image.rect(), background);

    // A row of meter bars, as the recorder shows its tracks.
    const int bars = 24;
    for (int bar = 0; bar < bars; ++bar) {
        const double level = 0.35 + 0.55 * std::abs(std::sin(bar * 0.7));
        const int height = static_cast<int>(level * 70);
        const QColor colour = level > 0.8 ? QColor("#d63a2f") : (level > 0.65 ? QColor("#d6a422") : QColor("#2e9e4a"));
        painter.fillRect(QRect(80 + bar * 20, 270 - height, 14, height), colour);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#ff3b30"));
    painter.drawEllipse(QPointF(150, 118), 18, 18);

    QFont title("DejaVu Sans");
    title.setPixelSize(64);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor("#f0f0f0"));
    painter.drawText(QRect(180, 70, 400, 96), Qt::AlignLeft | Qt::AlignVCenter, "Tonvale");
    QFont subtitle("DejaVu Sans");
    subtitle.setPixelSize(20);
    painter.setFont(subtitle);
    painter.setPen(QColor("#9a9a9a"));
    painter.drawText(QRect(0, 160, 640, 30), Qt::AlignCenter, "Loading...");
    return image;
}

struct DriveIcon {
    const char* fileName;
    const char* label;
    const char* colour;
};

constexpr DriveIcon kDriveIcons[] = {
    {"int-grn.png", "INT", "#34C759"},   {"int-red.png", "INT", "#ff3333"},   {"int-yel.png", "INT", "#ffcc00"},
    {"ext1-grn.png", "EXT1", "#34C759"}, {"ext1-red.png", "EXT1", "#ff3333"}, {"ext1-yel.png", "EXT1", "#ffcc00"},
    {"ext2-grn.png", "EXT2", "#34C759"}, {"ext2-red.png", "EXT2", "#ff3333"}, {"ext2-yel.png", "EXT2", "#ffcc00"},
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

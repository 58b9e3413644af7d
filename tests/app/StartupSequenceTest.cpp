#include "app/StartupSequence.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void writePng(const QString& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(path, "PNG"));
}

TEST(SplashTest, FileChoiceOrder)
{
    QTemporaryDir root;
    const QString appDir = root.path() + "/bin";
    QDir().mkpath(appDir);
    QDir().mkpath(root.path() + "/Resources");
    QDir().mkpath(root.path() + "/share/tonvale");

    // Neither present: the application folder's path is returned anyway.
    EXPECT_EQ(splashFilePath(appDir), appDir + "/TonvelLoading.png");

    writePng(appDir + "/TonvelLoading.png", 10, 10);
    EXPECT_EQ(splashFilePath(appDir), appDir + "/TonvelLoading.png");

    writePng(root.path() + "/share/tonvale/TonvelLoading.png", 10, 10);
    EXPECT_EQ(splashFilePath(appDir), appDir + "/../share/tonvale/TonvelLoading.png");

    writePng(root.path() + "/Resources/TonvelLoading.png", 10, 10);
    EXPECT_EQ(splashFilePath(appDir), appDir + "/../Resources/TonvelLoading.png");
}

TEST(SplashTest, LoadedImageIsScaledTo60PercentAndMissingOneIsTheDrawnCard)
{
    QTemporaryDir root;
    writePng(root.path() + "/s.png", 500, 250);
    const QPixmap scaled = makeSplashPixmap(root.path() + "/s.png");
    EXPECT_EQ(scaled.size(), QSize(300, 150));

    const QPixmap card = makeSplashPixmap(root.path() + "/missing.png");
    EXPECT_EQ(card.size(), QSize(400, 200));
    EXPECT_EQ(card.toImage().pixelColor(2, 2), QColor(30, 30, 30));
}

} // namespace

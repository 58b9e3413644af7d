#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// TONVALE_TEST_SCREEN=<width>x<height> gives the offscreen platform one
// screen of that size (its default is 800x600), so a test can check what a
// person sees on a small or a large screen. The configuration file lives as
// long as the process. A run on a real X server keeps that server's screen.
void chooseOffscreenScreen()
{
    const QString wanted = qEnvironmentVariable("TONVALE_TEST_SCREEN");
    const QRegularExpressionMatch size = QRegularExpression("^(\\d+)x(\\d+)$").match(wanted);
    if (!size.hasMatch() || qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return;
    static const QString path =
        QDir::temp().filePath(QString("tonvale-screen-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(QString("{\"screens\":[{\"name\":\"TestScreen\",\"x\":0,\"y\":0,\"width\":%1,\"height\":%2,"
                       "\"logicalDpi\":96,\"logicalBpi\":96,\"dpr\":1}]}")
                   .arg(size.captured(1), size.captured(2))
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).toUtf8());
    std::atexit([] { QFile::remove(path); });
}

} // namespace

// Widget tests share one QApplication on the offscreen platform, so they run
// on machines without a display.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    chooseOffscreenScreen();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

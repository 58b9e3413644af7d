#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The families of the font packages the install script installs. The window
// tests assert pixel figures that only mean the same on every machine when
// they are measured with exactly these fonts.
const QStringList kPinnedFamilies = {"DejaVu Sans", "DejaVu Sans Mono", "DejaVu Serif", "Carlito", "Noto Color Emoji"};
// Qt lists its generic names beside the real families.
const QStringList kGenericFamilies = {"Sans Serif", "Serif", "Monospace"};

// False, with the reason on stderr, when the fonts Qt sees are not exactly
// the pinned ones: a missing package, or a font configuration that was not
// ours, would make the tests measure other fonts without saying so.
bool onlyPinnedFontsSeen()
{
    bool pinned = true;
    const QStringList families = QFontDatabase::families();
    for (const QString& family : kPinnedFamilies) {
        if (!families.contains(family)) {
            std::fprintf(stderr, "The test fonts lack \"%s\": install the packages scripts/install-deps.sh "
                                 "lists and configure the build again.\n", qPrintable(family));
            pinned = false;
        }
    }
    for (const QString& family : families) {
        if (!kPinnedFamilies.contains(family) && !kGenericFamilies.contains(family)) {
            std::fprintf(stderr, "The test fonts include \"%s\", which is not one of the pinned fonts "
                                 "(FONTCONFIG_FILE %s).\n", qPrintable(family), qgetenv("FONTCONFIG_FILE").constData());
            pinned = false;
        }
    }
    return pinned;
}

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
// on machines without a display, and they see only the suite's own fonts
// (tests/support/fonts.conf.in). TONVALE_MACHINE_FONTS=1 leaves the
// machine's fonts in place, to check the window against a real desktop.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool machineFonts = qEnvironmentVariableIntValue("TONVALE_MACHINE_FONTS") == 1;
    if (!machineFonts)
        qputenv("FONTCONFIG_FILE", TONVALE_TEST_FONTCONFIG);
    chooseOffscreenScreen();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    if (!machineFonts && !onlyPinnedFontsSeen())
        return 2;
    return RUN_ALL_TESTS();
}

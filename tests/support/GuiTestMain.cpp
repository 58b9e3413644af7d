#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

#include <cstdio>

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
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    if (!machineFonts && !onlyPinnedFontsSeen())
        return 2;
    return RUN_ALL_TESTS();
}

#include "app/StartupSequence.h"

#include "app/SignalQuitter.h"
#include "app/TonvaleApplication.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MediaKeys.h"
#include "media/RF64Repairer.h"
#include "ui/common/Theme.h"
#include "ui/mainwindow/MainWindow.h"
#include "ui/tools/ProcessRestart.h"
#include "ui/tools/RepairDialog.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QLockFile>
#include <QMessageBox>
#include <QPainter>
#include <QPixmapCache>
#include <QSplashScreen>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace {

const char* const kApplicationName = "Tonvale";
const char* const kApplicationVersion = TONVALE_VERSION;
const char* const kOrganisationName = "Quillmere Sound";
const char* const kOrganisationDomain = "quillmere.example";
const char* const kSplashFileName = "TonvelLoading.png";
constexpr int kSplashScalePercent = 60;
// The window's first timers, layouts and device callbacks run before it is
// shown, so it opens complete.
constexpr int kSettleMs = 500;
constexpr int kLockWaitMs = 100;
// A restart (a loaded configuration snapshot) starts this process while the
// old instance is still shutting down, possibly ending a take: long enough
// for that, short enough that a hung old instance is reported.
constexpr int kReplacedInstanceLockWaitMs = 30000;

void disableInterfaceEffects()
{
    for (auto effect : {Qt::UI_AnimateMenu, Qt::UI_FadeMenu, Qt::UI_AnimateCombo, Qt::UI_AnimateTooltip,
                        Qt::UI_FadeTooltip, Qt::UI_AnimateToolBox}) {
        QApplication::setEffectEnabled(effect, false);
    }
}

QPixmap drawnSplashCard()
{
    QPixmap card(400, 200);
    card.fill(QColor(Theme::kStartupCard));
    QPainter painter(&card);
    painter.setPen(QColor(Theme::kStartupText));
    QFont font("SF Pro Display", 24);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    painter.setFont(font);
    painter.drawText(card.rect(), Qt::AlignCenter, "Tonvale\nLoading...");
    return card;
}

// Lets the event loop run for `ms` (0: once through what is pending), so the
// splash paints and the window's timers tick while start-up waits. Ends
// early when the application is asked to quit.
void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The repair scan: recordings a crash left open are offered for repair
// before the main window is built, so no take is opened half-written.
// Gives the files the recordist had repaired, for their backup copies once
// the engine runs.
std::vector<std::string> scanSaveLocation(QSplashScreen& splash)
{
    debugLog("Scanning for incomplete recordings");
    const QString saveLocation =
        QString::fromStdString(ConfigManager::getInstance()->getString(MediaKeys::kSaveLocation, ""));
    if (saveLocation.isEmpty() || !QFileInfo(saveLocation).isDir()) {
        debugLog("Save location not set or does not exist, skipping RF64 scan");
        return {};
    }
    RF64Repairer repairer;
    const std::vector<RF64Repairer::CorruptedFile> found = repairer.scanDirectory(saveLocation.toStdString(), true);
    if (found.empty()) {
        debugLog("No incomplete recordings found");
        return {};
    }
    debugLog("Found " + std::to_string(found.size()) + " incomplete recording(s)");
    splash.close();
    std::vector<std::string> repaired;
    {
        RepairDialog dialog(found);
        dialog.exec();
        repaired = dialog.repairedPaths();
    }
    splash.show();
    runEventLoopFor(0);
    return repaired;
}

} // namespace

QString splashFilePath(const QString& applicationDir)
{
    const QStringList candidates = {
        applicationDir + "/../Resources/" + kSplashFileName,
        applicationDir + "/../share/tonvale/" + kSplashFileName,
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return applicationDir + "/" + kSplashFileName;
}

QPixmap makeSplashPixmap(const QString& path)
{
    QPixmap loaded(path);
    if (loaded.isNull())
        return drawnSplashCard();
    return loaded.scaled(loaded.width() * kSplashScalePercent / 100, loaded.height() * kSplashScalePercent / 100,
                         Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

int runTonvale(int argc, char* argv[])
{
    debugLog("Application starting");
    TonvaleApplication app(argc, argv);
    QCoreApplication::setApplicationName(kApplicationName);
    QCoreApplication::setApplicationVersion(kApplicationVersion);
    QCoreApplication::setOrganizationName(kOrganisationName);
    QCoreApplication::setOrganizationDomain(kOrganisationDomain);
    QPixmapCache::clear();
    SignalQuitter signalQuitter;

    const qint64 replacedProcess = takeReplacedProcessId();
    QLockFile lock(QStandardPaths::writableLocation(QStandardPaths::TempLocation) + "/tonvale.lock");
    lock.setStaleLockTime(0);
    if (replacedProcess != 0)
        debugLog("Restarted: waiting for the previous instance (process " + std::to_string(replacedProcess) +
                 ") to release its lock");
    if (!lock.tryLock(replacedProcess != 0 ? kReplacedInstanceLockWaitMs : kLockWaitMs)) {
        debugLog("Another instance of Tonvale is already running");
        QMessageBox box(QMessageBox::Information, "Tonvale",
                        "Tonvale is already running.\n\nOnly one instance can run at a time.");
        box.exec();
        return 1;
    }

    disableInterfaceEffects();
    QPixmap splashPixmap = makeSplashPixmap(splashFilePath(QCoreApplication::applicationDirPath()));
    QSplashScreen splash(splashPixmap);
    splash.show();
    runEventLoopFor(0);

    debugLog("Loading configuration");
    ConfigManager::getInstance()->loadConfig("");
    const std::vector<std::string> repairedAtStart = scanSaveLocation(splash);
    if (signalQuitter.quitRequested()) {
        debugLog("Application exiting with code: 0");
        return 0;
    }

    debugLog("Creating MainWindow");
    auto mainWindow = std::make_unique<MainWindow>();
    mainWindow->queueRepairedTakeBackups(repairedAtStart);
    runEventLoopFor(kSettleMs);
    if (signalQuitter.quitRequested()) {
        // The signal came while the window was built or settling: its exit()
        // ended no loop, as none was running yet, so it must end start-up here.
        debugLog("Application exiting with code: 0");
        return 0;
    }
    splash.close();
    mainWindow->showMaximized();
    mainWindow->raise();
    mainWindow->activateWindow();

    debugLog("Entering event loop");
    const int exitCode = QApplication::exec();
    debugLog("Application exiting with code: " + std::to_string(exitCode));
    mainWindow.reset();
    return exitCode;
}

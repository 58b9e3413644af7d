// The restart of a snapshot load, as two real processes. The first run
// loads a snapshot through the dialog with the real restart sequence and,
// like a window's shutdown, tries to store its own values afterwards. The
// restarted run (same arguments) reports what it starts with.
//
//   snapshot_restart_probe <folder>     (HOME must point into <folder>)

#include "core/ConfigManager.h"
#include "ui/tools/ConfigSnapshotDialog.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <csignal>

namespace {

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    ConfigManager* config = ConfigManager::getInstance();
    config->loadConfig("");
    const QString firstMarker = folder + QStringLiteral("/first.pid");

    if (QFile::exists(firstMarker)) {
        QFile first(firstMarker);
        first.open(QIODevice::ReadOnly);
        const qint64 firstPid = first.readAll().toLongLong();
        const bool firstGone = ::kill(static_cast<pid_t>(firstPid), 0) != 0;
        writeText(folder + QStringLiteral("/second.txt"),
                  QByteArray("fader=") + config->getString("fader.1", "").c_str() + (firstGone ? " first-gone" : " first-alive"));
        return 0;
    }

    writeText(firstMarker, QByteArray::number(QCoreApplication::applicationPid()));
    config->setString("snapshots.directory", (folder + QStringLiteral("/snaps")).toStdString());
    config->setString("fader.1", "-6.0");
    ConfigSnapshotDialog dialog(nullptr, nullptr);
    ConfigSnapshotPrompts prompts = ConfigSnapshotPrompts::standard();
    prompts.askText = [](QWidget*, const QString&, const QString&, const QString&) { return std::optional<QString>(QStringLiteral("show")); };
    prompts.askYesNo = [](QWidget*, const QString&, const QString&) { return true; };
    dialog.setPrompts(prompts);
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == QLatin1String("Save Current Configuration..."))
            button->click();
    config->setString("fader.1", "0.0"); // moved after the snapshot was taken
    config->saveConfig("");
    auto* list = dialog.findChild<QListWidget*>();
    list->setCurrentRow(0);
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == QLatin1String("Load Selected Configuration"))
            button->click();
    // What a main window's shutdown would still store and save.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [config] {
        config->setString("fader.1", "9.0");
        config->saveConfig("");
    });
    return app.exec();
}

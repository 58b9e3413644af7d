#include "support/TempHome.h"

#include "core/ConfigManager.h"

#include <QFile>
#include <QDir>

TempHome::TempHome()
    : hadHome_(qEnvironmentVariableIsSet("HOME"))
    , hadTmpDir_(qEnvironmentVariableIsSet("TMPDIR"))
{
    oldHome_ = qgetenv("HOME");
    oldTmpDir_ = qgetenv("TMPDIR");
    EXPECT_TRUE(dir_.isValid());
    QDir(dir_.path()).mkpath("tmp");
    qputenv("HOME", dir_.path().toLocal8Bit());
    qputenv("TMPDIR", (dir_.path() + "/tmp").toLocal8Bit());
    ConfigManager::getInstance()->resetForTests();
}

TempHome::~TempHome()
{
    if (hadHome_)
        qputenv("HOME", oldHome_);
    else
        qunsetenv("HOME");
    if (hadTmpDir_)
        qputenv("TMPDIR", oldTmpDir_);
    else
        qunsetenv("TMPDIR");
    ConfigManager::getInstance()->resetForTests();
}

std::string TempHome::logText() const
{
    QFile file(dir_.path() + "/tonvale_debug.log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

QString TempHome::configText() const
{
    QFile file(QString::fromStdString(ConfigManager::getInstance()->getConfigPath()));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::string TempHome::savedKey(const std::string& name) const
{
    QFile file(QString::fromStdString(ConfigManager::getInstance()->getConfigPath()));
    if (!file.open(QIODevice::ReadOnly))
        return "<no file>";
    const QByteArray prefix = QByteArray::fromStdString(name + "=");
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).toStdString();
    }
    return "<unset>";
}

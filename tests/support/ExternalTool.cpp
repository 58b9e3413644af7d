#include "support/ExternalTool.h"

#include <QProcess>
#include <QStandardPaths>

QString findTool(const QString& name)
{
    return QStandardPaths::findExecutable(name);
}

ToolResult runTool(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ToolResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    result.standardError = QString::fromUtf8(process.readAllStandardError());
    return result;
}

#include "KilledRecorder.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

int64_t recordAndKill(const QString& program, const QStringList& arguments)
{
    QProcess recorder;
    recorder.start(program, arguments);
    if (!recorder.waitForStarted(10000)) {
        ADD_FAILURE() << "cannot start " << program.toStdString() << ": " << recorder.errorString().toStdString();
        return -1;
    }
    QByteArray said;
    while (!said.contains('\n') && recorder.waitForReadyRead(30000))
        said += recorder.readAllStandardOutput();
    ::kill(static_cast<pid_t>(recorder.processId()), SIGKILL);
    recorder.waitForFinished(30000);
    if (recorder.exitStatus() != QProcess::CrashExit || !said.startsWith("ready ")) {
        ADD_FAILURE() << program.toStdString() << " said '" << said.toStdString()
                      << "': " << recorder.readAllStandardError().toStdString();
        return -1;
    }
    return said.mid(6).trimmed().toLongLong();
}

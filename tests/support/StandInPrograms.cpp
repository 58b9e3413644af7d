#include "support/StandInPrograms.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <utility>

StandInPrograms::StandInPrograms(QString folder) : folder_(std::move(folder))
{
    QDir().mkpath(folder_);
}

std::string StandInPrograms::make(const QString& name, int exitCode, bool hang) const
{
    return write(name, hang ? "exec sleep 30\n" : "", exitCode);
}

std::string StandInPrograms::makeSlow(const QString& name, double seconds) const
{
    return write(name, "sleep " + QString::number(seconds) + "\n", 0);
}

std::string StandInPrograms::write(const QString& name, const QString& beforeExit, int exitCode) const
{
    const QString path = folder_ + "/" + name;
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\necho \"%1 $*\" >> '%2'\n%3exit %4\n")
                     .arg(name, callLog(), beforeExit, QString::number(exitCode))
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path.toStdString();
}

QStringList StandInPrograms::calls() const
{
    QFile file(callLog());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

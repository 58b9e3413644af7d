#pragma once

#include <QString>
#include <QStringList>

#include <string>

// Shell scripts standing in for system programs, in `folder`: each appends
// "<name> <arguments>" to one call log there, then exits with its code or
// hangs, for tests of code that runs those programs.
class StandInPrograms {
public:
    explicit StandInPrograms(QString folder);

    // The path of a new stand-in named `name`.
    std::string make(const QString& name, int exitCode, bool hang = false) const;
    // The path of a new stand-in that takes `seconds` before it exits with 0:
    // a device that answers slowly.
    std::string makeSlow(const QString& name, double seconds) const;
    QString callLog() const { return folder_ + "/calls.log"; }
    // The logged calls, in order.
    QStringList calls() const;

private:
    std::string write(const QString& name, const QString& beforeExit, int exitCode) const;

    QString folder_;
};

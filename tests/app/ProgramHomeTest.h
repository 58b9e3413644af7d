#pragma once

#include "support/TempHome.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs of the real program with this test's HOME and temporary folder on the
// offscreen platform, and the log they write there.
class ProgramHomeTest : public TempHomeTest {
protected:
    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home_.path());
        env.insert("TMPDIR", home_.path() + "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    QStringList logLines() const
    {
        return QString::fromStdString(home_.logText()).split('\n', Qt::SkipEmptyParts);
    }
};

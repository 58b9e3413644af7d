#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

// A fresh, empty HOME (and TMPDIR) for one test: the configuration file, the
// log and the default folders all live under HOME. The configuration store
// is reset on entry and on exit, so no test sees another's settings.
class TempHome {
public:
    TempHome();
    ~TempHome();

    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return dir_.path(); }
    std::string pathStd() const { return dir_.path().toStdString(); }
    // Reads the whole debug log written under this HOME.
    std::string logText() const;
    // The configuration file as saved now (not what the store holds), empty
    // when there is none; savedKey is one key's value in it, "<no file>" or
    // "<unset>" when it is not there.
    QString configText() const;
    std::string savedKey(const std::string& name) const;

private:
    QTemporaryDir dir_;
    QByteArray oldHome_;
    QByteArray oldTmpDir_;
    bool hadHome_ = false;
    bool hadTmpDir_ = false;
};

// Base fixture for tests that touch HOME, the log or the configuration.
class TempHomeTest : public ::testing::Test {
protected:
    TempHome home_;
};

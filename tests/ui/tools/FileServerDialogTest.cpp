#include "ui/tools/FileServerDialog.h"

#include "ModalAnswerer.h"
#include "core/ConfigManager.h"
#include "fileserver/WebDavServer.h"
#include "support/TempHome.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

namespace {

bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

class FileServerDialogTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        shared_ = home_.path() + QStringLiteral("/takes");
        ASSERT_TRUE(QDir().mkpath(shared_));
    }
    void TearDown() override { FileServerDialog::releaseServerInstance(); }

    static void setConfig(const char* key, const QString& value)
    {
        ConfigManager::getInstance()->setString(key, value.toStdString());
    }
    template <typename T>
    static T* child(FileServerDialog& dialog, const char* objectType, const QString& text = QString())
    {
        for (T* widget : dialog.findChildren<T*>()) {
            if (text.isEmpty())
                return widget;
            if constexpr (std::is_same_v<T, QPushButton> || std::is_same_v<T, QCheckBox>) {
                if (widget->text() == text)
                    return widget;
            }
        }
        ADD_FAILURE() << "no " << objectType << " " << text.toStdString();
        return nullptr;
    }
    static QCheckBox* enableBox(FileServerDialog& d) { return child<QCheckBox>(d, "check box", QStringLiteral("Enable File Server")); }
    static QSpinBox* portBox(FileServerDialog& d) { return child<QSpinBox>(d, "spin box"); }
    static QLineEdit* passwordEdit(FileServerDialog& d)
    {
        for (QLineEdit* edit : d.findChildren<QLineEdit*>())
            if (edit->echoMode() == QLineEdit::Password)
                return edit;
        return nullptr;
    }
    static QLineEdit* folderEdit(FileServerDialog& d)
    {
        for (QLineEdit* edit : d.findChildren<QLineEdit*>())
            if (edit->placeholderText() == QLatin1String("Select folder to share..."))
                return edit;
        return nullptr;
    }
    static QLabel* labelStartingWith(FileServerDialog& d, const QString& prefix)
    {
        for (QLabel* label : d.findChildren<QLabel*>())
            if (label->text().startsWith(prefix))
                return label;
        return nullptr;
    }
    static QLabel* logLabel(FileServerDialog& d)
    {
        for (QLabel* label : d.findChildren<QLabel*>())
            if (label->wordWrap())
                return label;
        return nullptr;
    }
    // One request on a fresh connection; the status code, or 0.
    static int statusOf(quint16 port, const QByteArray& request)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!spinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }))
            return 0;
        socket.write(request);
        QByteArray answer;
        spinUntil([&] {
            answer += socket.readAll();
            return answer.contains("\r\n\r\n");
        });
        return answer.mid(9, 3).toInt();
    }
    static QByteArray getWith(const QString& password)
    {
        return "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + ("tonvale:" + password.toUtf8()).toBase64() + "\r\n\r\n";
    }

    QString shared_;
};

TEST_F(FileServerDialogTest, FirstOpeningTakesTheRecordingFolderAndStaysStopped)
{
    {
        FileServerDialog dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("File Server"));
        EXPECT_TRUE(folderEdit(dialog)->text().isEmpty());
        EXPECT_EQ(portBox(dialog)->value(), 8080);
        EXPECT_FALSE(enableBox(dialog)->isChecked());
        EXPECT_NE(labelStartingWith(dialog, QStringLiteral("● Stopped")), nullptr);
    }
    setConfig("media.saveLocation", shared_);
    FileServerDialog dialog;
    EXPECT_EQ(folderEdit(dialog)->text(), shared_);
    EXPECT_FALSE(FileServerDialog::getServerInstance()->isRunning());
}

TEST_F(FileServerDialogTest, EnablingExplainsWhatIsMissingAndClearsTheBox)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    const struct {
        const char* name;
        QString folder;
        QString password;
        int port;
        const char* message;
    } cases[] = {
        {"no folder", QString(), QStringLiteral("pw"), 8080, "Please select a folder to share."},
        {"no password", shared_, QString(), 8080, "Please set a password."},
        {"port in use", shared_, QStringLiteral("pw"), holder.serverPort(), "Failed to start file server. Port may be in use."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setConfig("fileserver.folder", c.folder);
        setConfig("fileserver.password", c.password);
        ConfigManager::getInstance()->setInt("fileserver.port", c.port);
        FileServerDialog dialog;
        ModalAnswerer answerer;
        QTest::mouseClick(enableBox(dialog), Qt::LeftButton);
        ASSERT_EQ(answerer.boxes().size(), 1);
        EXPECT_EQ(answerer.boxes().first().text, QString::fromLatin1(c.message));
        EXPECT_EQ(answerer.boxes().first().title, QStringLiteral("Error"));
        EXPECT_EQ(answerer.boxes().first().icon, QMessageBox::NoIcon);
        EXPECT_FALSE(enableBox(dialog)->isChecked());
        EXPECT_FALSE(FileServerDialog::getServerInstance()->isRunning());
        if (c.port != 8080) {
            EXPECT_TRUE(logLabel(dialog)->text().startsWith(QStringLiteral("Failed to start server: ")))
                << logLabel(dialog)->text().toStdString();
        }
    }
}

TEST_F(FileServerDialogTest, PortChangesRestartOnlyOnARealChangeAndPasswordsApplyWithoutRestart)
{
    const quint16 first = freePort();
    setConfig("fileserver.folder", shared_);
    setConfig("fileserver.password", QStringLiteral("old"));
    ConfigManager::getInstance()->setInt("fileserver.port", first);
    auto dialog = std::make_unique<FileServerDialog>();
    WebDavServer* server = FileServerDialog::getServerInstance();
    QSignalSpy started(server, &WebDavServer::serverStarted);
    QTest::mouseClick(enableBox(*dialog), Qt::LeftButton);
    ASSERT_TRUE(server->isRunning());
    EXPECT_EQ(server->serverPort(), first);
    EXPECT_NE(labelStartingWith(*dialog, QStringLiteral("● Running")), nullptr);
    EXPECT_EQ(statusOf(first, getWith(QStringLiteral("old"))), 200);

    // A new password applies to the next request, without a restart.
    passwordEdit(*dialog)->setText(QStringLiteral("new"));
    EXPECT_EQ(statusOf(first, getWith(QStringLiteral("old"))), 401);
    EXPECT_EQ(statusOf(first, getWith(QStringLiteral("new"))), 200);
    passwordEdit(*dialog)->clear();
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(statusOf(first, getWith(QString())), 401) << "an empty password admits nobody";
    passwordEdit(*dialog)->setText(QStringLiteral("new"));
    EXPECT_EQ(started.size(), 1);

    // Closing keeps it serving; reopening on the same (non-default) port must
    // not cut a client that is connected.
    dialog.reset();
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(ConfigManager::getInstance()->getString("fileserver.enabled", ""), "true");
    EXPECT_EQ(ConfigManager::getInstance()->getInt("fileserver.port", 0), first);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, first);
    ASSERT_TRUE(spinUntil([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    dialog = std::make_unique<FileServerDialog>();
    QTest::qWait(50);
    EXPECT_EQ(client.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(started.size(), 1);
    EXPECT_TRUE(enableBox(*dialog)->isChecked());

    // A real change restarts on the new port and updates the URL.
    const quint16 second = freePort();
    portBox(*dialog)->setValue(second);
    EXPECT_EQ(server->serverPort(), second);
    EXPECT_EQ(started.size(), 2);
    EXPECT_TRUE(enableBox(*dialog)->isChecked());
    EXPECT_NE(labelStartingWith(*dialog, QStringLiteral("http://")), nullptr);
    EXPECT_TRUE(labelStartingWith(*dialog, QStringLiteral("http://"))->text().endsWith(QStringLiteral(":%1/").arg(second)));

    // Stopped: only the URL follows the port.
    QTest::mouseClick(enableBox(*dialog), Qt::LeftButton);
    EXPECT_FALSE(server->isRunning());
    EXPECT_NE(labelStartingWith(*dialog, QStringLiteral("● Stopped")), nullptr);
    portBox(*dialog)->setValue(first);
    EXPECT_FALSE(server->isRunning());
    EXPECT_TRUE(labelStartingWith(*dialog, QStringLiteral("http://"))->text().endsWith(QStringLiteral(":%1/").arg(first)));
}

TEST_F(FileServerDialogTest, FailedRestartShowsTheServerLineWithoutABox)
{
    setConfig("fileserver.folder", shared_);
    setConfig("fileserver.password", QStringLiteral("pw"));
    ConfigManager::getInstance()->setInt("fileserver.port", freePort());
    ConfigManager::getInstance()->setBool("fileserver.enabled", true);
    FileServerDialog dialog;
    ASSERT_TRUE(enableBox(dialog)->isChecked()) << "a saved enabled server starts when the dialog opens";
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    ModalAnswerer answerer;
    portBox(dialog)->setValue(holder.serverPort());
    QTest::qWait(50);
    EXPECT_EQ(answerer.modalCount(), 0);
    EXPECT_FALSE(enableBox(dialog)->isChecked());
    EXPECT_NE(labelStartingWith(dialog, QStringLiteral("● Stopped")), nullptr);
    EXPECT_TRUE(logLabel(dialog)->text().startsWith(QStringLiteral("Failed to start server: ")));
}

TEST_F(FileServerDialogTest, BrowsingForAFolderRestartsARunningServerAndCancelChangesNothing)
{
    const QString other = home_.path() + QStringLiteral("/other");
    ASSERT_TRUE(QDir().mkpath(other));
    setConfig("fileserver.folder", shared_);
    setConfig("fileserver.password", QStringLiteral("pw"));
    ConfigManager::getInstance()->setInt("fileserver.port", freePort());
    ConfigManager::getInstance()->setBool("fileserver.enabled", true);
    FileServerDialog dialog(nullptr);
    WebDavServer* server = FileServerDialog::getServerInstance();
    ASSERT_TRUE(server->isRunning());
    QSignalSpy started(server, &WebDavServer::serverStarted);
    QPushButton* browse = child<QPushButton>(dialog, "button", QStringLiteral("Browse..."));
    {
        ModalAnswerer cancel;
        QTest::mouseClick(browse, Qt::LeftButton);
        EXPECT_EQ(cancel.modalCount(), 1);
    }
    EXPECT_EQ(folderEdit(dialog)->text(), shared_);
    EXPECT_EQ(started.size(), 0);
    {
        ModalAnswerer choose([&](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(chooser, nullptr);
            EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Select Folder to Share"));
            auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(other);
            static_cast<QDialog*>(chooser)->accept();
        });
        QTest::mouseClick(browse, Qt::LeftButton);
    }
    EXPECT_EQ(QDir(folderEdit(dialog)->text()).canonicalPath().toStdString(), QDir(other).canonicalPath().toStdString());
    EXPECT_EQ(started.size(), 1);
    EXPECT_TRUE(server->isRunning());
}

TEST_F(FileServerDialogTest, CopyPutsConnectionDetailsOnTheClipboardButNeverThePassword)
{
    setConfig("fileserver.password", QStringLiteral("secret-pw"));
    auto dialog = std::make_unique<FileServerDialog>();
    portBox(*dialog)->setValue(9123);
    QPushButton* copy = child<QPushButton>(*dialog, "button", QStringLiteral("📋 Copy Connection Info"));
    QTest::mouseClick(copy, Qt::LeftButton);
    const QString address = FileServerDialog::getLocalIPAddress();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("WebDAV Connection Info:\nURL: http://%1:9123/\nUsername: tonvale\nPassword: (set in app)\n\n"
                             "In FileBrowser: Add Location > WebDAV")
                  .arg(address));
    EXPECT_FALSE(QApplication::clipboard()->text().contains(QStringLiteral("secret-pw")));
    EXPECT_EQ(copy->text(), QStringLiteral("✓ Copied!"));
    EXPECT_TRUE(spinUntil([&] { return copy->text() == QStringLiteral("📋 Copy Connection Info"); }, 3000));
    QTest::mouseClick(copy, Qt::LeftButton);
    dialog.reset();
    QTest::qWait(1700); // the pending reset must die with the dialog
}

TEST_F(FileServerDialogTest, LogLineShowsClientPathsAsPlainText)
{
    setConfig("fileserver.folder", shared_);
    setConfig("fileserver.password", QStringLiteral("pw"));
    ConfigManager::getInstance()->setInt("fileserver.port", freePort());
    FileServerDialog dialog;
    QTest::mouseClick(enableBox(dialog), Qt::LeftButton);
    WebDavServer* server = FileServerDialog::getServerInstance();
    ASSERT_TRUE(server->isRunning());
    statusOf(server->serverPort(), "GET /<img%20src=x><b>bold</b> HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(logLabel(dialog)->text(), QStringLiteral("GET /<img src=x><b>bold</b>"));
    EXPECT_EQ(logLabel(dialog)->textFormat(), Qt::PlainText);
}

TEST(FileServerQuitTest, QuittingWithAClientDownloadingExitsCleanly)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile big(folder.path() + QStringLiteral("/big.bin"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(64 * 1024 * 1024));
    big.close();
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Any warning (a socket notifier or timer outliving the application) aborts.
    environment.insert(QStringLiteral("QT_FATAL_WARNINGS"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(FILE_SERVER_QUIT_PROBE), {folder.path()});
    ASSERT_TRUE(probe.waitForFinished(30000));
    const QString errors = QString::fromLocal8Bit(probe.readAllStandardError());
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit) << errors.toStdString();
    EXPECT_EQ(probe.exitCode(), 0) << errors.toStdString();
    EXPECT_TRUE(errors.trimmed().isEmpty()) << errors.toStdString();
}

} // namespace

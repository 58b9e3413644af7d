#include "ui/tools/FileServerDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/FileServerKeys.h"
#include "core/settings/MediaKeys.h"
#include "fileserver/LocalAddressChoice.h"
#include "fileserver/WebDavServer.h"
#include "ui/common/MessageBoxes.h"
#include "ui/common/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

std::unique_ptr<WebDavServer> FileServerDialog::serverInstance_;

namespace {

constexpr int kDefaultPort = 8080;

// The status line: green while the server runs, red while it is stopped.
QString serverStateStyle(bool running)
{
    return QStringLiteral("color: %1; font-weight: bold;")
        .arg(running ? Theme::kServerRunning : Theme::kServerStopped);
}
const QString kUsername = QStringLiteral("tonvale");
const QString kCopyText = QStringLiteral("📋 Copy Connection Info");

void releaseAtQuit()
{
    FileServerDialog::releaseServerInstance();
}

} // namespace

FileServerDialog::FileServerDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("File Server"));
    setMinimumWidth(450);
    WebDavServer* server = getServerInstance();
    setupUI();
    loadSettings();
    updateConnectionInfo();
    updateStatus();
    connect(server, &WebDavServer::serverStarted, this, &FileServerDialog::onServerStarted);
    connect(server, &WebDavServer::serverStopped, this, &FileServerDialog::onServerStopped);
    connect(server, &WebDavServer::logMessage, this, &FileServerDialog::onLogMessage);
}

FileServerDialog::~FileServerDialog()
{
    saveSettings();
}

WebDavServer* FileServerDialog::getServerInstance()
{
    if (!serverInstance_) {
        serverInstance_ = std::make_unique<WebDavServer>();
        // Its sockets need the application's event dispatcher: the server is
        // freed before the application object, whether the program ends
        // through quit() or by leaving main.
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QObject::connect(app, &QCoreApplication::aboutToQuit, serverInstance_.get(), &releaseAtQuit);
            static bool postRoutineAdded = false;
            if (!postRoutineAdded) {
                qAddPostRoutine(&releaseAtQuit);
                postRoutineAdded = true;
            }
        }
    }
    return serverInstance_.get();
}

void FileServerDialog::releaseServerInstance()
{
    // Moved out first: stop() emits signals, and no one may reach a half-freed server through the static.
    std::unique_ptr<WebDavServer> server = std::move(serverInstance_);
    if (server)
        server->stop();
}

QString FileServerDialog::getLocalIPAddress()
{
    return chooseLocalAddress(currentNetworkInterfaces());
}

void FileServerDialog::setupUI()
{
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setSpacing(15);

    auto* settingsGroup = new QGroupBox(QStringLiteral("Server Settings"), this);
    auto* form = new QFormLayout(settingsGroup);
    form->setSpacing(10);

    auto* folderRow = new QHBoxLayout;
    folderEdit_ = new QLineEdit(settingsGroup);
    folderEdit_->setReadOnly(true);
    folderEdit_->setPlaceholderText(QStringLiteral("Select folder to share..."));
    browseButton_ = new QPushButton(QStringLiteral("Browse..."), settingsGroup);
    folderRow->addWidget(folderEdit_);
    folderRow->addWidget(browseButton_);
    form->addRow(QStringLiteral("Shared Folder:"), folderRow);

    auto* usernameEdit = new QLineEdit(kUsername, settingsGroup);
    usernameEdit->setReadOnly(true);
    usernameEdit->setStyleSheet(
        QStringLiteral("QLineEdit { background-color: %1; color: %2; }").arg(Theme::kBgControl, Theme::kTextMuted));
    form->addRow(QStringLiteral("Username:"), usernameEdit);

    passwordEdit_ = new QLineEdit(settingsGroup);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    passwordEdit_->setPlaceholderText(QStringLiteral("Set password for access"));
    form->addRow(QStringLiteral("Password:"), passwordEdit_);

    portSpinBox_ = new QSpinBox(settingsGroup);
    portSpinBox_->setRange(1024, 65535);
    portSpinBox_->setValue(kDefaultPort);
    form->addRow(QStringLiteral("Port:"), portSpinBox_);

    enableCheckBox_ = new QCheckBox(QStringLiteral("Enable File Server"), settingsGroup);
    enableCheckBox_->setStyleSheet(QStringLiteral("QCheckBox { font-weight: bold; font-size: 12px; }"));
    form->addRow(enableCheckBox_);
    mainLayout->addWidget(settingsGroup);

    auto* infoGroup = new QGroupBox(QStringLiteral("WebDAV Connection Info (for FileBrowser app)"), this);
    infoGroup->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));
    auto* infoLayout = new QVBoxLayout(infoGroup);
    infoLayout->setSpacing(8);
    const auto addInfoRow = [&](const QString& caption, QLabel* value) {
        auto* row = new QHBoxLayout;
        auto* captionLabel = new QLabel(caption, infoGroup);
        captionLabel->setStyleSheet(QStringLiteral("font-weight: bold;"));
        row->addWidget(captionLabel);
        row->addWidget(value);
        row->addStretch();
        infoLayout->addLayout(row);
    };
    ipLabel_ = new QLabel(QStringLiteral("---"), infoGroup);
    ipLabel_->setStyleSheet(
        QStringLiteral("font-size: 18px; font-weight: bold; color: %1; padding: 5px;").arg(Theme::kServerRunning));
    ipLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addInfoRow(QStringLiteral("IP Address:"), ipLabel_);
    urlLabel_ = new QLabel(QStringLiteral("http://---:8080/"), infoGroup);
    urlLabel_->setStyleSheet(
        QStringLiteral("font-size: 14px; color: %1; font-weight: bold;").arg(Theme::kServerRunning));
    urlLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addInfoRow(QStringLiteral("URL:"), urlLabel_);
    usernameLabel_ = new QLabel(kUsername, infoGroup);
    usernameLabel_->setStyleSheet(labelStyle(14, Theme::kServerDetail));
    addInfoRow(QStringLiteral("Username:"), usernameLabel_);
    copyButton_ = new QPushButton(kCopyText, infoGroup);
    copyButton_->setStyleSheet(QStringLiteral("padding: 8px 16px;"));
    infoLayout->addWidget(copyButton_);
    mainLayout->addWidget(infoGroup);

    auto* statusRow = new QHBoxLayout;
    auto* statusCaption = new QLabel(QStringLiteral("Status:"), this);
    statusCaption->setStyleSheet(QStringLiteral("font-weight: bold;"));
    statusLabel_ = new QLabel(QStringLiteral("● Stopped"), this);
    statusLabel_->setStyleSheet(serverStateStyle(false));
    statusRow->addWidget(statusCaption);
    statusRow->addWidget(statusLabel_);
    statusRow->addStretch();
    mainLayout->addLayout(statusRow);

    // Plain text: the log line carries request paths from clients nobody has
    // authenticated, which must never be rendered as markup.
    logLabel_ = new QLabel(this);
    logLabel_->setTextFormat(Qt::PlainText);
    logLabel_->setStyleSheet(QStringLiteral("color: %1; font-size: 10px;").arg(Theme::kServerLog));
    logLabel_->setWordWrap(true);
    mainLayout->addWidget(logLabel_);
    mainLayout->addStretch();

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttonRow->addWidget(closeButton);
    mainLayout->addLayout(buttonRow);

    connect(browseButton_, &QPushButton::clicked, this, &FileServerDialog::onBrowseFolder);
    connect(passwordEdit_, &QLineEdit::textChanged, this, &FileServerDialog::onPasswordChanged);
    connect(portSpinBox_, &QSpinBox::valueChanged, this, &FileServerDialog::onPortChanged);
    connect(enableCheckBox_, &QCheckBox::toggled, this, &FileServerDialog::onEnableToggled);
    connect(copyButton_, &QPushButton::clicked, this, &FileServerDialog::onCopyConnectionInfo);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

void FileServerDialog::loadSettings()
{
    ConfigManager* config = ConfigManager::getInstance();
    QString folder = QString::fromStdString(config->getString(FileServerKeys::kFolder, ""));
    if (folder.isEmpty())
        folder = QString::fromStdString(config->getString(MediaKeys::kSaveLocation, ""));
    folderEdit_->setText(folder);
    passwordEdit_->setText(QString::fromStdString(config->getString(FileServerKeys::kPassword, "")));
    const int port = config->getInt(FileServerKeys::kPort, kDefaultPort);
    portSpinBox_->setValue(port);
    const bool enabled = config->getBool(FileServerKeys::kEnabled, false);

    WebDavServer* server = getServerInstance();
    server->setRootPath(folderEdit_->text());
    server->setCredentials(kUsername, passwordEdit_->text());
    if (enabled && !folderEdit_->text().isEmpty() && !passwordEdit_->text().isEmpty() && !server->isRunning())
        server->start(static_cast<quint16>(portSpinBox_->value()));
    enableCheckBox_->setChecked(server->isRunning());
}

void FileServerDialog::saveSettings()
{
    ConfigManager* config = ConfigManager::getInstance();
    config->setString(FileServerKeys::kFolder, folderEdit_->text().toStdString());
    config->setString(FileServerKeys::kPassword, passwordEdit_->text().toStdString());
    config->setInt(FileServerKeys::kPort, portSpinBox_->value());
    config->setBool(FileServerKeys::kEnabled, serverInstance_ && serverInstance_->isRunning());
    config->saveConfig("");
}

void FileServerDialog::updateConnectionInfo()
{
    const QString address = getLocalIPAddress();
    ipLabel_->setText(address);
    urlLabel_->setText(QStringLiteral("http://%1:%2/").arg(address).arg(portSpinBox_->value()));
}

void FileServerDialog::updateStatus()
{
    const bool running = getServerInstance()->isRunning();
    if (running) {
        statusLabel_->setText(QStringLiteral("● Running"));
        statusLabel_->setStyleSheet(serverStateStyle(true));
    } else {
        statusLabel_->setText(QStringLiteral("● Stopped"));
        statusLabel_->setStyleSheet(serverStateStyle(false));
    }
    enableCheckBox_->setChecked(running);
}

void FileServerDialog::onServerStarted()
{
    updateStatus();
    updateConnectionInfo();
}

void FileServerDialog::onServerStopped()
{
    updateStatus();
}

void FileServerDialog::onLogMessage(const QString& message)
{
    logLabel_->setText(message);
}

void FileServerDialog::onBrowseFolder()
{
    const QString start = folderEdit_->text().isEmpty() ? QDir::homePath() : folderEdit_->text();
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Folder to Share"), start,
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    folderEdit_->setText(folder);
    WebDavServer* server = getServerInstance();
    server->setRootPath(folder);
    if (server->isRunning())
        restartServer(static_cast<quint16>(portSpinBox_->value()));
}

void FileServerDialog::onPasswordChanged(const QString& text)
{
    getServerInstance()->setCredentials(kUsername, text);
}

void FileServerDialog::onPortChanged(int port)
{
    WebDavServer* server = getServerInstance();
    // Only a real change restarts: opening the dialog sets the stored port
    // again, and that must not cut the downloads of a server already on it.
    if (server->isRunning() && server->serverPort() != port)
        restartServer(static_cast<quint16>(port));
    updateConnectionInfo();
}

void FileServerDialog::restartServer(quint16 port)
{
    WebDavServer* server = getServerInstance();
    server->stop();
    server->start(port);
}

void FileServerDialog::onEnableToggled(bool enabled)
{
    WebDavServer* server = getServerInstance();
    if (!enabled) {
        server->stop();
        return;
    }
    if (server->isRunning())
        return;
    if (folderEdit_->text().isEmpty()) {
        showError(QStringLiteral("Please select a folder to share."));
        return;
    }
    if (passwordEdit_->text().isEmpty()) {
        showError(QStringLiteral("Please set a password."));
        return;
    }
    server->setRootPath(folderEdit_->text());
    server->setCredentials(kUsername, passwordEdit_->text());
    if (!server->start(static_cast<quint16>(portSpinBox_->value())))
        showError(QStringLiteral("Failed to start file server. Port may be in use."));
}

void FileServerDialog::showError(const QString& text)
{
    showPlainMessageBox(this, QStringLiteral("Error"), text);
    const QSignalBlocker blocker(enableCheckBox_);
    enableCheckBox_->setChecked(false);
}

void FileServerDialog::onCopyConnectionInfo()
{
    const QString info = QStringLiteral("WebDAV Connection Info:\nURL: http://%1:%2/\nUsername: tonvale\n"
                                        "Password: (set in app)\n\nIn FileBrowser: Add Location > WebDAV")
                             .arg(getLocalIPAddress())
                             .arg(portSpinBox_->value());
    QApplication::clipboard()->setText(info, QClipboard::Clipboard);
    copyButton_->setText(QStringLiteral("✓ Copied!"));
    QTimer::singleShot(1500, this, [this] { copyButton_->setText(kCopyText); });
}

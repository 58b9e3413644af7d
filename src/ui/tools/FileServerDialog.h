#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class WebDavServer;

// Sets up and switches the read-only WebDAV file server: the shared folder,
// the password, the port and the switch; shows the address a client uses.
// The server itself outlives the dialog (it keeps serving after Close) and
// is freed before the application object when the program quits.
//
// Threads: GUI thread only, like the server it drives.
class FileServerDialog : public QDialog {
    Q_OBJECT

public:
    explicit FileServerDialog(QWidget* parent = nullptr);
    ~FileServerDialog() override;

    // The one server of the process, created on first use.
    static WebDavServer* getServerInstance();
    // Stops and frees the server; runs by itself when the application quits.
    static void releaseServerInstance();
    // The address a client device should use (see chooseLocalAddress).
    static QString getLocalIPAddress();

private slots:
    void onBrowseFolder();
    void onPasswordChanged(const QString& text);
    void onPortChanged(int port);
    void onEnableToggled(bool enabled);
    void onCopyConnectionInfo();
    void onServerStarted();
    void onServerStopped();
    void onLogMessage(const QString& message);

private:
    void setupUI();
    void loadSettings();
    void saveSettings();
    void updateConnectionInfo();
    void updateStatus();
    void showError(const QString& text);
    void restartServer(quint16 port);

    static std::unique_ptr<WebDavServer> serverInstance_;

    QLineEdit* folderEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QSpinBox* portSpinBox_ = nullptr;
    QCheckBox* enableCheckBox_ = nullptr;
    QLabel* ipLabel_ = nullptr;
    QLabel* urlLabel_ = nullptr;
    QLabel* usernameLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QLabel* logLabel_ = nullptr;
};

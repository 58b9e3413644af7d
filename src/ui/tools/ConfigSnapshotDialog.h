#pragma once

#include <QDialog>

#include <functional>
#include <optional>

class AudioEngineBase;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Every question and message the snapshot dialog puts to the user, so a test
// can answer and count them. standard() asks with Qt's modal dialogs.
struct ConfigSnapshotPrompts {
    // The entered text, or nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& label, const QString& text)>
        askText;
    // True only for Yes.
    std::function<bool(QWidget* parent, const QString& title, const QString& question)> askYesNo;
    std::function<void(QWidget* parent, const QString& title, const QString& message)> showCritical;
    // The chosen folder, or empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& startFolder)> chooseFolder;

    static ConfigSnapshotPrompts standard();
};

// Saves the configuration file as a named snapshot, lists, deletes and loads
// snapshots. A load makes the snapshot the configuration file, seals the
// store against further writes and restarts the program, which then starts
// on the snapshot's values.
//
// Threads: GUI thread only. The engine is asked only whether a take runs
// (a load is refused then); a loaded snapshot takes effect through the restart.
class ConfigSnapshotDialog : public QDialog {
    Q_OBJECT

public:
    ConfigSnapshotDialog(AudioEngineBase* engine, QWidget* parent = nullptr);

    void setPrompts(ConfigSnapshotPrompts prompts) { prompts_ = std::move(prompts); }
    // What a successful load runs after the dialog is accepted; by default the
    // overlay, then (3 s later) the new process and the quit.
    void setRestart(std::function<void()> restart) { restart_ = std::move(restart); }

    QString getSnapshotsDirectory();
    bool saveSnapshotToFile(const QString& path);
    bool loadSnapshotFromFile(const QString& path);
    void refreshSnapshotList();

    // The restart sequence of a successful load, shown over `parent`.
    static void runRestartSequence(QWidget* parent);

private slots:
    void onSaveSnapshot();
    void onLoadSnapshot();
    void onDeleteSnapshot();
    void onSnapshotSelectionChanged();
    void onBrowseDirectory();

private:
    void setupUI();
    void showInfo(const QString& text, const QString& colour);
    bool listHoldsPath(const QString& path) const;
    void reportSaveFailure(const QString& name);
    // Shows why and answers true while a take records or is being closed.
    bool refuseLoadDuringTake();

    AudioEngineBase* engine_;
    ConfigSnapshotPrompts prompts_;
    std::function<void()> restart_;
    QListWidget* snapshotList_ = nullptr;
    QLineEdit* locationEdit_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QLabel* infoLabel_ = nullptr;
};

#pragma once

#include <QDialog>
#include <QKeySequence>
#include <QKeySequenceEdit>
#include <QString>

#include <map>

// The seventeen keyboard bindings of the recorder and the dialog that edits
// them. The table is static: the dialog, the window's shortcuts and its key
// handlers all read the same bindings. The configuration ("hotkey.N") is the
// master copy; an absent or empty value means the action's default key.
// Threads: GUI thread only; the table is not locked.
class HotkeysDialog : public QDialog {
    Q_OBJECT

public:
    enum Action {
        StartRecording = 0,
        StopRecording = 1,
        Slate = 2,
        SlateMonitor = 3,
        Com = 4,
        OpenPlayback = 5,
        MarkFalseTake = 6,
        TestTone = 7,
        SceneLetterIncrement = 8,
        ArmTrack1 = 9, // ArmTrack1 + i arms track i + 1, up to track 8
        ArmTrack8 = 16,
    };
    static constexpr int kActionCount = 17;
    static constexpr int kArmHotkeyCount = 8;

    explicit HotkeysDialog(QWidget* parent = nullptr);
    // Saves the table once more and emits hotkeysChanged, so closing the
    // dialog always leaves every binding stored.
    ~HotkeysDialog() override;

    // Reads every binding from the configuration, replacing the table.
    static void loadFromConfig();
    // The binding in use (loads the table on first use); the default when
    // the action has no entry.
    static QKeySequence getHotkey(Action action);
    // Changes one binding in memory only: nothing saved, nothing emitted.
    static void setHotkey(Action action, const QKeySequence& sequence);
    static QKeySequence getDefaultHotkey(Action action);
    static QString getActionName(Action action);
    // Writes every entry as "hotkey.N" and saves the configuration once.
    static void saveToConfig();

    // Refills the edits from the table without emitting anything.
    void loadCurrentHotkeys();
    // The edit of one action, for tests and the grab.
    QKeySequenceEdit* editFor(Action action) const;

signals:
    void hotkeysChanged();

public slots:
    void onResetDefaults();
    void onKeySequenceChanged();

private:
    void setupUI();
    void saveHotkeys();

    static std::map<Action, QKeySequence> hotkeys_;
    static bool initialized_;

    std::map<int, QKeySequenceEdit*> edits_;
};

// A key-sequence editor that holds exactly one key combination: each new
// press replaces the binding instead of starting a multi-key chord, and
// Backspace or Delete alone clears it. (The toolkit's editor gained a
// length limit only in a later release than the one we build on.)
class SingleKeySequenceEdit : public QKeySequenceEdit {
    Q_OBJECT

public:
    explicit SingleKeySequenceEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

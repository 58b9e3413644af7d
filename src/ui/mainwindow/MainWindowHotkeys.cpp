// The window's configurable hotkeys. Record and stop act only after a key
// has been held 600 ms, counted from its first press: a brushed key must
// never start or end a take. The press reaches the hold through the record
// or stop shortcut or through the application object's hook, whichever sees
// it first; the key-down flags make the second one a no-op, and automatic
// repeats never arm or restart the hold.

#include "ui/mainwindow/MainWindow.h"

#include "ui/mainwindow/HotkeyInput.h"
#include "ui/mainwindow/HotkeysDialog.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTextEdit>
#include <QTimer>

namespace {

QKeySequence hotkey(HotkeysDialog::Action action)
{
    return HotkeysDialog::getHotkey(action);
}

// One key starts and stops when record and stop share a binding.
bool toggleRule(const QKeySequence& record, const QKeySequence& stop)
{
    return !record.isEmpty() && record == stop;
}

MainWindow* findMainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            return window;
    }
    return nullptr;
}

} // namespace

bool hasLineOrTextEditFocus()
{
    QWidget* focus = QApplication::focusWidget();
    return qobject_cast<QLineEdit*>(focus) != nullptr || qobject_cast<QTextEdit*>(focus) != nullptr;
}

bool hasTextInputFocus()
{
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr)
        return false;
    if (qobject_cast<QKeySequenceEdit*>(focus) != nullptr)
        return true;
    for (QWidget* widget = focus; widget != nullptr; widget = widget->parentWidget()) {
        if (qobject_cast<HotkeysDialog*>(widget) != nullptr)
            return true;
    }
    return qobject_cast<QLineEdit*>(focus) != nullptr || qobject_cast<QTextEdit*>(focus) != nullptr ||
           qobject_cast<QPlainTextEdit*>(focus) != nullptr || qobject_cast<QAbstractSpinBox*>(focus) != nullptr;
}

bool matchesHotkeyEvent(const QKeySequence& sequence, const QKeyEvent* event)
{
    if (sequence.isEmpty() || event == nullptr)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const auto matches = [&sequence, event](Qt::KeyboardModifiers held) {
        const QKeySequence pressed(QKeyCombination(held, static_cast<Qt::Key>(event->key())));
        return sequence.matches(pressed) == QKeySequence::ExactMatch;
    };
    return matches(modifiers) || matches(modifiers & ~Qt::KeypadModifier);
}

bool releaseMatchesHotkey(const QKeySequence& sequence, const QKeyEvent* event)
{
    if (sequence.isEmpty() || event == nullptr)
        return false;
    return sequence[0].key() == static_cast<Qt::Key>(event->key());
}

void MainWindow::setupConfigurableHotkeys()
{
    HotkeysDialog::loadFromConfig();
    const auto makeShortcut = [this] {
        auto* shortcut = new QShortcut(this);
        shortcut->setContext(Qt::ApplicationShortcut);
        return shortcut;
    };
    recordShortcut_ = makeShortcut();
    stopShortcut_ = makeShortcut();
    playbackShortcut_ = makeShortcut();
    falseTakeShortcut_ = makeShortcut();
    testToneShortcut_ = makeShortcut();
    sceneLetterShortcut_ = makeShortcut();
    armShortcuts_.resize(HotkeysDialog::kArmHotkeyCount);
    for (QShortcut*& arm : armShortcuts_)
        arm = makeShortcut();
    applyHotkeyBindings();

    connect(recordShortcut_, &QShortcut::activated, this, &MainWindow::onRecordHotkeyActivated);
    connect(stopShortcut_, &QShortcut::activated, this, &MainWindow::onStopHotkeyActivated);
    connect(playbackShortcut_, &QShortcut::activated, this, &MainWindow::onPlaybackHotkey);
    connect(falseTakeShortcut_, &QShortcut::activated, this, &MainWindow::onFalseTakeHotkey);
    connect(testToneShortcut_, &QShortcut::activated, this, &MainWindow::onTestToneHotkey);
    // The "Scene:" button runs the scene-letter step; the hotkey presses it.
    connect(sceneLetterShortcut_, &QShortcut::activated, this, [this] {
        if (sceneButton_ != nullptr)
            sceneButton_->click();
    });
    for (size_t index = 0; index < armShortcuts_.size(); ++index)
        connect(armShortcuts_[index], &QShortcut::activated, this,
                [this, index] { onArmTrackHotkey(static_cast<int>(index)); });
    connect(qApp, &QApplication::focusChanged, &focusGateContext_, [this] { updateTransportShortcutsForTextFocus(); });
    updateTransportShortcutsForTextFocus();
}

void MainWindow::applyHotkeyBindings()
{
    const QKeySequence record = hotkey(HotkeysDialog::StartRecording);
    const QKeySequence stop = hotkey(HotkeysDialog::StopRecording);
    if (recordShortcut_ != nullptr)
        recordShortcut_->setKey(record);
    if (stopShortcut_ != nullptr)
        stopShortcut_->setKey(toggleRule(record, stop) ? QKeySequence() : stop);
    if (playbackShortcut_ != nullptr)
        playbackShortcut_->setKey(hotkey(HotkeysDialog::OpenPlayback));
    if (falseTakeShortcut_ != nullptr)
        falseTakeShortcut_->setKey(hotkey(HotkeysDialog::MarkFalseTake));
    if (testToneShortcut_ != nullptr)
        testToneShortcut_->setKey(hotkey(HotkeysDialog::TestTone));
    if (sceneLetterShortcut_ != nullptr)
        sceneLetterShortcut_->setKey(hotkey(HotkeysDialog::SceneLetterIncrement));
    for (size_t index = 0; index < armShortcuts_.size() && index < HotkeysDialog::kArmHotkeyCount; ++index) {
        if (armShortcuts_[index] != nullptr)
            armShortcuts_[index]->setKey(
                hotkey(static_cast<HotkeysDialog::Action>(HotkeysDialog::ArmTrack1 + static_cast<int>(index))));
    }
}

void MainWindow::refreshHotkeys()
{
    HotkeysDialog::loadFromConfig();
    pendingRelease_ = {};
    if (releaseSettleTimer_ != nullptr)
        releaseSettleTimer_->stop();
    cancelTransportHotkeyLongPress();
    toggleKeyDown_ = false;
    recordKeyDown_ = false;
    stopKeyDown_ = false;
    applyHotkeyBindings();
    updateTransportShortcutsForTextFocus();
}

void MainWindow::updateTransportShortcutsForTextFocus()
{
    const bool enabled = !hasTextInputFocus();
    if (recordShortcut_ != nullptr)
        recordShortcut_->setEnabled(enabled);
    if (stopShortcut_ != nullptr)
        stopShortcut_->setEnabled(enabled);
}

void MainWindow::scheduleTransportHotkeyLongPress(HotkeyLongPressTarget target)
{
    if (longPressTimer_ == nullptr)
        return;
    longPressTarget_ = target;
    longPressTimer_->stop();
    longPressTimer_->start();
}

void MainWindow::cancelTransportHotkeyLongPress()
{
    if (longPressTimer_ != nullptr && longPressTimer_->isActive())
        longPressTimer_->stop();
    longPressTarget_ = HotkeyLongPressNone;
}

bool MainWindow::isHotkeyLongPressArmed() const
{
    return longPressTimer_ != nullptr && longPressTimer_->isActive() && longPressTarget_ != HotkeyLongPressNone;
}

void MainWindow::onLongPressExpired()
{
    const HotkeyLongPressTarget target = longPressTarget_;
    longPressTarget_ = HotkeyLongPressNone;
    if (pendingRelease_.active) {
        pendingRelease_.expiredTarget = target;
        return;
    }
    // The take may have been started or stopped another way meanwhile.
    if (target == HotkeyLongPressRecord && !isRecording_)
        onRecordClicked();
    else if (target == HotkeyLongPressStop && isRecording_)
        onStopClicked();
}

// Only the first press of a held key arms the hold: the shortcut fires again
// on every automatic repeat, and restarting the timer there would keep it
// from ever running out while the key is down.
void MainWindow::onRecordHotkeyActivated()
{
    if (toggleRule(hotkey(HotkeysDialog::StartRecording), hotkey(HotkeysDialog::StopRecording))) {
        if (toggleKeyDown_)
            return;
        toggleKeyDown_ = true;
        scheduleTransportHotkeyLongPress(isRecording_ ? HotkeyLongPressStop : HotkeyLongPressRecord);
        return;
    }
    if (recordKeyDown_)
        return;
    recordKeyDown_ = true;
    if (!isRecording_)
        scheduleTransportHotkeyLongPress(HotkeyLongPressRecord);
}

void MainWindow::onStopHotkeyActivated()
{
    if (toggleRule(hotkey(HotkeysDialog::StartRecording), hotkey(HotkeysDialog::StopRecording)) || stopKeyDown_)
        return;
    stopKeyDown_ = true;
    if (isRecording_)
        scheduleTransportHotkeyLongPress(HotkeyLongPressStop);
}

bool MainWindow::tryConsumeTransportHotkey(const QKeyEvent* event)
{
    if (event == nullptr || event->type() != QEvent::KeyPress || event->isAutoRepeat() || hasTextInputFocus())
        return false;
    const QKeySequence record = hotkey(HotkeysDialog::StartRecording);
    const QKeySequence stop = hotkey(HotkeysDialog::StopRecording);
    const bool recordMatch = matchesHotkeyEvent(record, event);
    const bool stopMatch = matchesHotkeyEvent(stop, event);
    if (!recordMatch && !stopMatch)
        return false;
    MainWindow* window = findMainWindow();
    if (window == nullptr)
        return false;
    if (resolvePendingTransportRelease(event))
        return true;
    if (toggleRule(record, stop) || recordMatch)
        window->onRecordHotkeyActivated();
    else
        window->onStopHotkeyActivated();
    // Swallowed even when it arms nothing (record during a take, stop when
    // idle, the key already down), so it never reaches a focused button.
    return true;
}

bool MainWindow::resolvePendingTransportRelease(const QKeyEvent* event)
{
    if (event == nullptr || event->isAutoRepeat())
        return false;
    MainWindow* window = findMainWindow();
    if (window == nullptr || !window->pendingRelease_.active)
        return false;
    PendingTransportRelease& pending = window->pendingRelease_;
    const bool recordMatch = matchesHotkeyEvent(hotkey(HotkeysDialog::StartRecording), event);
    const bool stopMatch = matchesHotkeyEvent(hotkey(HotkeysDialog::StopRecording), event);
    if (pending.timestamp != event->timestamp() || pending.record != recordMatch || pending.stop != stopMatch) {
        // Another key, or the same one pressed again later: the release was real.
        window->settlePendingTransportRelease();
        return false;
    }
    // The other half of a repeat: the key never went up.
    const HotkeyLongPressTarget expired = pending.expiredTarget;
    pending = {};
    window->releaseSettleTimer_->stop();
    if (expired != HotkeyLongPressNone) {
        window->longPressTarget_ = expired;
        window->onLongPressExpired();
    }
    return true;
}

void MainWindow::onTransportHotkeyKeyReleased(const QKeyEvent* event)
{
    // No focus test here: a key pressed before the focus moved into a text
    // field must still end its hold, or its flag would stay set and the next
    // press of that key would do nothing.
    if (event == nullptr || event->type() != QEvent::KeyRelease || event->isAutoRepeat())
        return;
    const QKeySequence record = hotkey(HotkeysDialog::StartRecording);
    const QKeySequence stop = hotkey(HotkeysDialog::StopRecording);
    const bool recordMatch = releaseMatchesHotkey(record, event);
    const bool stopMatch = releaseMatchesHotkey(stop, event);
    if (!recordMatch && !stopMatch)
        return;
    MainWindow* window = findMainWindow();
    if (window == nullptr)
        return;
    if (window->pendingRelease_.active)
        window->settlePendingTransportRelease();
    // Without a server time the release cannot be half of a repeat pair.
    if (event->timestamp() == 0 || window->releaseSettleTimer_ == nullptr) {
        window->applyTransportRelease(recordMatch, stopMatch);
        return;
    }
    window->pendingRelease_ = {true, event->timestamp(), recordMatch, stopMatch, HotkeyLongPressNone};
    window->releaseSettleTimer_->start();
}

void MainWindow::settlePendingTransportRelease()
{
    if (releaseSettleTimer_ != nullptr)
        releaseSettleTimer_->stop();
    const PendingTransportRelease pending = pendingRelease_;
    pendingRelease_ = {};
    if (pending.active)
        applyTransportRelease(pending.record, pending.stop);
}

void MainWindow::applyTransportRelease(bool record, bool stop)
{
    cancelTransportHotkeyLongPress();
    if (toggleRule(hotkey(HotkeysDialog::StartRecording), hotkey(HotkeysDialog::StopRecording))) {
        toggleKeyDown_ = false;
        return;
    }
    if (record)
        recordKeyDown_ = false;
    if (stop)
        stopKeyDown_ = false;
}

void MainWindow::onPlaybackHotkey()
{
    if (hasLineOrTextEditFocus())
        return;
    onPlayback();
}

void MainWindow::onFalseTakeHotkey()
{
    if (isRecording_ || lastRecordingButton_ == nullptr || lastRecordingButton_->text().isEmpty())
        return;
    onLastRecordingRightClick(QPoint(0, 0));
}

void MainWindow::onTestToneHotkey()
{
    if (!engine_ || testToneAction_ == nullptr)
        return;
    const bool enabled = !engine_->isTestToneEnabled();
    engine_->setTestToneEnabled(enabled);
    // The menu's own handler would switch the engine a second time.
    const QSignalBlocker blocker(testToneAction_);
    testToneAction_->setChecked(enabled);
}

void MainWindow::onArmTrackHotkey(int index)
{
    if (index < 0 || index >= static_cast<int>(trackRows_.size()))
        return;
    const TrackRow& row = trackRows_[static_cast<size_t>(index)];
    // Only a track the recordist can see is armed: a hidden row would be
    // recorded unseen.
    if (row.armButton == nullptr || row.rowWidget == nullptr || !row.rowWidget->isVisibleTo(this))
        return;
    row.armButton->toggle();
}

void MainWindow::onHotkeysConfig()
{
    HotkeysDialog dialog(this);
    connect(&dialog, &HotkeysDialog::hotkeysChanged, this, &MainWindow::refreshHotkeys);
    dialog.exec();
}

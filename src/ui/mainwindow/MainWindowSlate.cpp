// The talkback paths: the slate microphone into the take (or to the monitor
// only) and COM to the coms bus. The SLATE and COM buttons, their hold keys
// and a controller's C1/C2 all open and close them here. A talk path must
// never stay open by accident: every way of letting go ends whichever slate
// is on, and both paths end when the window loses the keyboard.

#include "ui/mainwindow/MainWindow.h"

#include "ui/mainwindow/HotkeyInput.h"
#include "ui/mainwindow/HotkeysDialog.h"
#include "ui/common/Theme.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>

namespace {

const char* const kSlateRecordedColour = Theme::kGo;
const char* const kSlateMonitorColour = Theme::kSlateMonitor;
const char* const kComColour = Theme::kCom;

QString slateOnStyle(const char* colour)
{
    return QString("QPushButton { background-color: %1; color: white; font-size: 14px;   font-weight: bold; "
                   "padding: 8px 15px; border: 2px solid %1; border-radius: 6px; }")
        .arg(colour);
}

QString comOnStyle()
{
    return QString("QPushButton { background-color: %1; color: white; font-size: 14px;   font-weight: bold; "
                   "padding: 8px 15px; border: 2px solid %2; border-radius: 6px; }")
        .arg(kComColour, Theme::kComBorder);
}

void showIdle(QPushButton* button)
{
    if (button == nullptr)
        return;
    button->setStyleSheet(slateComIdleStyle());
    button->style()->unpolish(button);
    button->style()->polish(button);
    button->update();
}

// Ends a hold when the pointer leaves its button (the button's own release
// never comes then).
class TalkButtonLeaveWatcher : public QObject {
public:
    TalkButtonLeaveWatcher(MainWindow* window, QPushButton* slate, QPushButton* com)
        : QObject(window), window_(window), slate_(slate), com_(com)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Leave) {
            if (watched == slate_ && (window_->isSlateActive() || window_->isMonitorSlateActive()))
                window_->resetSlateButton();
            else if (watched == com_ && window_->isComActive())
                window_->resetComButton();
        }
        return false;
    }

private:
    MainWindow* window_;
    QPushButton* slate_;
    QPushButton* com_;
};

} // namespace

void MainWindow::setupSlateAndCom()
{
    connect(slateButton_, &QPushButton::pressed, this, &MainWindow::onSlateButtonPressed);
    connect(slateButton_, &QPushButton::released, this, &MainWindow::onSlateButtonReleased);
    connect(comButton_, &QPushButton::pressed, this, &MainWindow::onComButtonPressed);
    connect(comButton_, &QPushButton::released, this, &MainWindow::onComButtonReleased);
    auto* watcher = new TalkButtonLeaveWatcher(this, slateButton_, comButton_);
    slateButton_->installEventFilter(watcher);
    comButton_->installEventFilter(watcher);
}

void MainWindow::onSlateButtonPressed()
{
    // Ctrl (Command) held at the press sends the slate to the monitor only.
    const bool monitorOnly = QApplication::keyboardModifiers().testFlag(Qt::ControlModifier);
    if (engine_) {
        engine_->setSlateMicMonitorOnly(monitorOnly);
        engine_->enableSlateMic(true);
    }
    slateActive_ = true;
    if (slateButton_ != nullptr)
        slateButton_->setStyleSheet(slateOnStyle(monitorOnly ? kSlateMonitorColour : kSlateRecordedColour));
}

void MainWindow::onSlateButtonReleased()
{
    resetSlateButton();
}

void MainWindow::onSlateMonitorButtonPressed()
{
    if (engine_) {
        engine_->setSlateMicMonitorOnly(true);
        engine_->enableSlateMic(true);
    }
    monitorSlateActive_ = true;
    if (slateButton_ != nullptr)
        slateButton_->setStyleSheet(slateOnStyle(kSlateMonitorColour));
}

void MainWindow::onSlateMonitorButtonReleased()
{
    endSlate();
}

void MainWindow::resetSlateButton()
{
    // Whichever slate is on ends: Shift let go before S turns the monitor
    // slate's release into a plain Slate release, and a controller may end
    // with the other key of the pair.
    if (!slateActive_ && !monitorSlateActive_)
        return;
    endSlate();
}

void MainWindow::endSlate()
{
    slateActive_ = false;
    monitorSlateActive_ = false;
    if (engine_) {
        engine_->enableSlateMic(false);
        engine_->setSlateMicMonitorOnly(false);
    }
    showIdle(slateButton_);
}

void MainWindow::onComButtonPressed()
{
    if (engine_) {
        engine_->enableSlateMicToCom(true);
        engine_->setComInput1Enabled(true);
        engine_->setComInput2Enabled(true);
    }
    comActive_ = true;
    if (comButton_ != nullptr)
        comButton_->setStyleSheet(comOnStyle());
}

void MainWindow::onComButtonReleased()
{
    resetComButton();
}

void MainWindow::resetComButton()
{
    if (!comActive_)
        return;
    comActive_ = false;
    if (engine_) {
        engine_->enableSlateMicToCom(false);
        engine_->setComInput1Enabled(false);
        engine_->setComInput2Enabled(false);
    }
    showIdle(comButton_);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Typing an S or a C into a field must not slate or open COM, and a
    // held key acts once.
    if (hasLineOrTextEditFocus() || event->isAutoRepeat()) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    if (matchesHotkeyEvent(HotkeysDialog::getHotkey(HotkeysDialog::Slate), event)) {
        onSlateButtonPressed();
    } else if (matchesHotkeyEvent(HotkeysDialog::getHotkey(HotkeysDialog::SlateMonitor), event)) {
        onSlateMonitorButtonPressed();
    } else if (matchesHotkeyEvent(HotkeysDialog::getHotkey(HotkeysDialog::Com), event)) {
        onComButtonPressed();
    } else {
        QMainWindow::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    if (event->isAutoRepeat()) {
        QMainWindow::keyReleaseEvent(event);
        return;
    }
    // Matched on the key alone: S let go after Shift (or after the Ctrl of
    // a Ctrl-click slate) still ends the slate it belongs to.
    const bool slateKey = releaseMatchesHotkey(HotkeysDialog::getHotkey(HotkeysDialog::Slate), event) ||
                          releaseMatchesHotkey(HotkeysDialog::getHotkey(HotkeysDialog::SlateMonitor), event);
    const bool comKey = releaseMatchesHotkey(HotkeysDialog::getHotkey(HotkeysDialog::Com), event);
    if (!slateKey && !comKey) {
        QMainWindow::keyReleaseEvent(event);
        return;
    }
    if (slateKey)
        resetSlateButton();
    if (comKey)
        resetComButton();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A box or dialog that takes the keyboard swallows the hold key's
    // release; a talk path left open would go on into the take.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        resetSlateButton();
        resetComButton();
    }
}

// The window's side of the control surfaces: the callbacks it gives the
// controller manager, controller fader moves onto the screen faders, the
// screen faders back to motorised faders, and the Cantarem 2's keys.
//
// Threads: the callbacks run on whichever thread a driver reports on (the
// MIDI receive thread, a HID read thread, the UDP or USB poll thread). They
// touch nothing of the window there: each posts a queued call with the window
// as its context, so every handler below runs on the GUI thread, in the order
// the events came, and a call still queued when the window goes is dropped.

#include "ui/mainwindow/MainWindow.h"

#include "controllers/HidController_CL12.h"
#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/TrackKeys.h"
#include "ui/common/FaderSlider.h"
#include "ui/mixer/FaderAssignmentDialog.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>

namespace {

constexpr int kChannelKeyCount = 12;

enum CantaremKey {
    kShift1 = 12,
    kShift2 = 13,
    kC1 = 14,
    kC2 = 15,
    kC3 = 16,
    kC4 = 17,
};

const char* onOff(bool on)
{
    return on ? "ON" : "OFF";
}

} // namespace

void MainWindow::installControllerInstructionsBox()
{
    // The CL-12 driver asks for this from its initialize, at most once per
    // run, so a watchdog retry cannot stack boxes. The watchdog's worker
    // opens drivers off the GUI thread: the box is then shown on the GUI
    // thread and the worker does not wait for it.
    HidController_CL12::setInstructionsPresenter([](const HidController_CL12::Instructions& instructions) {
        auto show = [instructions] {
            QMessageBox box;
            box.setIcon(QMessageBox::Information);
            box.setWindowTitle(QString::fromStdString(instructions.title));
            box.setText(QString::fromStdString(instructions.text));
            box.setInformativeText(QString::fromStdString(instructions.informativeText));
            box.setStandardButtons(QMessageBox::Ok);
            box.exec();
        };
        if (QThread::currentThread() == qApp->thread())
            show();
        else
            QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
    });
}

void MainWindow::setupMidiCallbacks()
{
    if (!controllerManager_)
        return;

    controllerManager_->setFaderCallback([this](int track, int value) {
        QMetaObject::invokeMethod(this, "onMidiFaderChanged", Qt::QueuedConnection, Q_ARG(int, track),
                                  Q_ARG(int, value));
    });
    // Global keys only: the manager passes them on from the Cantarem 2 alone,
    // so no keyboard's note 12 can start a take.
    controllerManager_->setButtonCallback([this](int index, bool pressed) {
        QMetaObject::invokeMethod(
            this, [this, index, pressed] { handleControllerButton(index, pressed); }, Qt::QueuedConnection);
    });
    // Strip keys arrive as the track their fader drives, on a path of their
    // own: key 3 under a fader on track 8 is track 8's PFL, never button 3.
    controllerManager_->setTrackButtonCallback([this](int track, bool pressed) {
        QMetaObject::invokeMethod(
            this, [this, track, pressed] { handleControllerTrackButton(track, pressed); }, Qt::QueuedConnection);
    });
    controllerManager_->setTransportCallback([this](TransportButton button, bool pressed) {
        if (!pressed)
            return;
        const int number = static_cast<int>(button);
        debugLog("MIDI Transport: button=" + std::to_string(number));
        if (button != TransportButton::Stop && button != TransportButton::Rec)
            return;
        // The recording flag belongs to the GUI thread, so it is read there,
        // when the press is acted on.
        QMetaObject::invokeMethod(
            this,
            [this, button] {
                if (button == TransportButton::Stop && isRecording_)
                    QMetaObject::invokeMethod(this, "onStopClicked");
                else if (button == TransportButton::Rec && !isRecording_)
                    QMetaObject::invokeMethod(this, "onRecordClicked");
            },
            Qt::QueuedConnection);
    });
    controllerManager_->setSyncFadersCallback([this] {
        QMetaObject::invokeMethod(this, [this] { syncFadersToController(); }, Qt::QueuedConnection);
    });
}

void MainWindow::onMidiFaderChanged(int channel, int value)
{
    // Moves during the start-up hold-off are dropped, not deferred: the
    // restored mix wins over where the hardware faders happen to stand.
    if (channel < 0 || controllerFaderHoldOff_ || channel >= static_cast<int>(mixerStrips_.size()))
        return;
    // A malformed message (a pitch bend with bytes above 127) is held at the
    // top of the scale: beyond it the scale gives +72 dB and more.
    const double gainDb = FaderSlider::gainDbOfHardwarePosition(value);
    const int faderValue = FaderSlider::tenthsDbOfHardwarePosition(value);

    MixerStrip& strip = mixerStrips_[static_cast<size_t>(channel)];
    {
        // The screen fader's own handler would echo the move back to the
        // controllers and round the gain to the fader's tenths.
        const QSignalBlocker blocker(strip.fader);
        strip.fader->setValue(faderValue);
    }
    // The engine takes the controller's finer step, not the fader's tenths.
    const bool silent = faderValue < FaderSlider::kSilentBelowTenthsDb;
    if (engine_)
        engine_->setTrackGain(channel, silent ? 0.0f : FaderSlider::gainLinearOfDb(gainDb));
    if (strip.gainLabel != nullptr)
        strip.gainLabel->setText(FaderSlider::gainText(faderValue));
    ConfigManager::getInstance()->setInt(TrackKeys::faderKey(channel), faderValue);
    scheduleConfigSave();
}

void MainWindow::syncFadersToController()
{
    if (!controllerManager_ || controllerManager_->getControllers().empty())
        return;
    debugLog("Syncing faders to hardware controllers");
    for (size_t index = 0; index < mixerStrips_.size(); ++index)
        controllerManager_->sendFaderPosition(static_cast<int>(index),
                                              FaderSlider::hardwarePosition(mixerStrips_[index].fader->value()));
}

void MainWindow::toggleStripPfl(int stripIndex)
{
    if (stripIndex < 0 || stripIndex >= static_cast<int>(mixerStrips_.size()))
        return;
    QPushButton* pfl = mixerStrips_[static_cast<size_t>(stripIndex)].pflButton;
    if (pfl == nullptr)
        return;
    debugLog("  -> Toggle PFL for track " + std::to_string(stripIndex + 1));
    // A click toggles the key and runs its handler, whichever of its signals
    // the strip listens to.
    pfl->click();
}

void MainWindow::handleControllerTrackButton(int track, bool pressed)
{
    debugLog("Controller track key: track=" + std::to_string(track + 1) + " " + (pressed ? "PRESSED" : "RELEASED"));
    if (pressed)
        toggleStripPfl(track);
}

void MainWindow::handleControllerButton(int index, bool pressed)
{
    debugLog("Cantarem Button: index=" + std::to_string(index) + " (Channel " +
             std::to_string(index >= 0 && index < kChannelKeyCount ? index + 1 : 0) + ") " +
             (pressed ? "PRESSED" : "RELEASED"));

    if (index >= 0 && index < kChannelKeyCount) {
        if (pressed)
            toggleStripPfl(index);
        return;
    }
    switch (index) {
    case kShift1:
        shift1Held_ = pressed;
        if (!pressed)
            return;
        // Shift 1 alone starts a take; stopping one takes both Shift keys.
        if (shift2Held_ && isRecording_) {
            debugLog("  -> Shift 1+2 STOP RECORD (safety)");
            onStopClicked();
        } else if (!isRecording_) {
            debugLog("  -> Shift 1 START RECORD");
            onRecordClicked();
        }
        return;
    case kShift2:
        shift2Held_ = pressed;
        if (pressed && shift1Held_ && isRecording_) {
            debugLog("  -> Shift 2+1 STOP RECORD (safety)");
            onStopClicked();
        } else {
            debugLog(std::string("  -> Shift 2 (modifier) ") + (pressed ? "HELD" : "RELEASED"));
        }
        return;
    case kC1: {
        // Released through the operation the press used: Shift 2 let go
        // before C1 must not leave the monitor slate open.
        const bool monitor = pressed ? shift2Held_
                                     : (controllerSlate_ == ControllerSlate::None
                                            ? shift2Held_
                                            : controllerSlate_ == ControllerSlate::Monitor);
        debugLog(std::string(monitor ? "  -> C1 SLATE MONITOR " : "  -> C1 SLATE ") + onOff(pressed));
        if (pressed) {
            controllerSlate_ = monitor ? ControllerSlate::Monitor : ControllerSlate::Recorded;
            if (monitor)
                onSlateMonitorButtonPressed();
            else
                onSlateButtonPressed();
        } else {
            controllerSlate_ = ControllerSlate::None;
            if (monitor)
                onSlateMonitorButtonReleased();
            else
                resetSlateButton();
        }
        return;
    }
    case kC2:
        debugLog(std::string("  -> C2 COM ") + onOff(pressed));
        if (pressed)
            onComButtonPressed();
        else
            resetComButton();
        return;
    case kC3:
        debugLog("  -> C3");
        return;
    case kC4:
        debugLog("  -> C4");
        return;
    default:
        return;
    }
}

void MainWindow::onControllerSelection()
{
    if (!controllerManager_) {
        showStyledMessageBox(this, "Error", "MIDI controller manager not available.", QMessageBox::Ok);
        return;
    }
    FaderAssignmentDialog dialog(controllerManager_.get(), this);
    dialog.exec();
    if (!controllerManager_->getFaderAssignments().empty())
        syncFadersToController(); // the motorised faders take the screen's mix
}

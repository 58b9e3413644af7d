#include "ui/mainwindow/HotkeysDialog.h"

#include "core/ConfigManager.h"
#include "core/settings/HotkeyKeys.h"
#include "ui/common/Theme.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <string>

std::map<HotkeysDialog::Action, QKeySequence> HotkeysDialog::hotkeys_;
bool HotkeysDialog::initialized_ = false;

namespace {

struct ActionInfo {
    const char* name;
    QKeyCombination defaultKey;
};

// Indexed by action number.
const ActionInfo kActions[HotkeysDialog::kActionCount] = {
    {"Start Recording", QKeyCombination(Qt::Key_Space)},
    {"Stop Recording", QKeyCombination(Qt::ControlModifier, Qt::Key_Space)},
    {"Slate (Hold)", QKeyCombination(Qt::Key_S)},
    {"Slate Monitor (Hold)", QKeyCombination(Qt::ShiftModifier, Qt::Key_S)},
    {"COM (Hold)", QKeyCombination(Qt::Key_C)},
    {"Open Playback", QKeyCombination(Qt::Key_P)},
    {"Mark False Take", QKeyCombination(Qt::ControlModifier, Qt::Key_F)},
    {"Test Tone (1kHz)", QKeyCombination(Qt::ControlModifier, Qt::Key_T)},
    {"Scene Letter Increment", QKeyCombination(Qt::ControlModifier, Qt::Key_S)},
    {"Arm/Disarm Track 1", QKeyCombination(Qt::ControlModifier, Qt::Key_1)},
    {"Arm/Disarm Track 2", QKeyCombination(Qt::ControlModifier, Qt::Key_2)},
    {"Arm/Disarm Track 3", QKeyCombination(Qt::ControlModifier, Qt::Key_3)},
    {"Arm/Disarm Track 4", QKeyCombination(Qt::ControlModifier, Qt::Key_4)},
    {"Arm/Disarm Track 5", QKeyCombination(Qt::ControlModifier, Qt::Key_5)},
    {"Arm/Disarm Track 6", QKeyCombination(Qt::ControlModifier, Qt::Key_6)},
    {"Arm/Disarm Track 7", QKeyCombination(Qt::ControlModifier, Qt::Key_7)},
    {"Arm/Disarm Track 8", QKeyCombination(Qt::ControlModifier, Qt::Key_8)},
};

bool isKnown(HotkeysDialog::Action action)
{
    return action >= 0 && action < HotkeysDialog::kActionCount;
}

// %1 dialog, %2 text, %3 border, %4 labels, %5 key editors, %6 buttons,
// %7 button hover.
QString dialogStyle()
{
    using namespace Theme;
    return QString("QDialog { background-color: %1; color: %2; }"
                   "QGroupBox { font-weight: bold; border: 1px solid %3; border-radius: 5px; margin-top: 10px; "
                   "padding-top: 10px; color: %2; }"
                   "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 5px; }"
                   "QLabel { color: %4; }"
                   "QKeySequenceEdit { background-color: %5; border: 1px solid %3; border-radius: 4px; padding: 4px; "
                   "color: %2; min-width: 150px; }"
                   "QPushButton { background-color: %6; border: 1px solid %3; border-radius: 4px; padding: 8px 16px; "
                   "color: %2; }"
                   "QPushButton:hover { background-color: %7; }"
                   // The scroll area and the editors' inner line edits would otherwise keep
                   // the light system colours under the light-grey labels.
                   "QScrollArea, QWidget#qt_scrollarea_viewport, QWidget#hotkeysContent { background-color: %1; }"
                   "QKeySequenceEdit QLineEdit { background-color: %5; color: %2; border: none; }"
                   "QScrollBar:vertical { background: %1; width: 12px; margin: 0; }"
                   "QScrollBar::handle:vertical { background: %3; border-radius: 5px; min-height: 24px; }"
                   "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }")
        .arg(kBgDialog, kTextBright, kBorderControl, kTextLabel, kDialogInput, kDialogButton, kDialogButtonHover);
}

} // namespace

SingleKeySequenceEdit::SingleKeySequenceEdit(QWidget* parent)
    : QKeySequenceEdit(parent)
{
}

void SingleKeySequenceEdit::keyPressEvent(QKeyEvent* event)
{
    const bool clearKey = (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) &&
                          (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (clearKey) {
        clear();
        event->accept();
        return;
    }
    const QKeySequence before = keySequence();
    {
        // The editor clears itself at the start of every chord and would
        // report the empty binding first; only the result is reported.
        const QSignalBlocker blocker(this);
        QKeySequenceEdit::keyPressEvent(event);
        const QKeySequence typed = keySequence();
        // Setting the sequence again ends the editor's chord, so the next
        // press starts a new binding. A lone modifier keeps the old one.
        setKeySequence(typed.isEmpty() ? before : QKeySequence(typed[typed.count() - 1]));
    }
    if (keySequence() != before)
        emit keySequenceChanged(keySequence());
}

void HotkeysDialog::loadFromConfig()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (int number = 0; number < kActionCount; ++number) {
        const auto action = static_cast<Action>(number);
        const std::string text = config->getString(HotkeyKeys::actionKey(number), "");
        // Stored in the portable form and read back in it, so a binding
        // means the same key on every platform.
        hotkeys_[action] = text.empty() ? getDefaultHotkey(action)
                                        : QKeySequence::fromString(QString::fromStdString(text),
                                                                   QKeySequence::PortableText);
    }
    initialized_ = true;
}

QKeySequence HotkeysDialog::getHotkey(Action action)
{
    if (!initialized_)
        loadFromConfig();
    const auto found = hotkeys_.find(action);
    return found != hotkeys_.end() ? found->second : getDefaultHotkey(action);
}

void HotkeysDialog::setHotkey(Action action, const QKeySequence& sequence)
{
    hotkeys_[action] = sequence;
}

QKeySequence HotkeysDialog::getDefaultHotkey(Action action)
{
    return isKnown(action) ? QKeySequence(kActions[action].defaultKey) : QKeySequence();
}

QString HotkeysDialog::getActionName(Action action)
{
    return isKnown(action) ? QString(kActions[action].name) : QString("Unknown");
}

void HotkeysDialog::saveToConfig()
{
    ConfigManager* config = ConfigManager::getInstance();
    for (const auto& [action, sequence] : hotkeys_)
        config->setString(HotkeyKeys::actionKey(action), sequence.toString(QKeySequence::PortableText).toStdString());
    config->saveConfig("");
}

HotkeysDialog::HotkeysDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Hotkey Configuration");
    setMinimumSize(450, 500);
    if (!initialized_)
        loadFromConfig();
    setupUI();
    loadCurrentHotkeys();
}

HotkeysDialog::~HotkeysDialog()
{
    saveHotkeys();
}

void HotkeysDialog::loadCurrentHotkeys()
{
    for (const auto& [number, edit] : edits_) {
        const QSignalBlocker blocker(edit);
        edit->setKeySequence(hotkeys_[static_cast<Action>(number)]);
    }
}

QKeySequenceEdit* HotkeysDialog::editFor(Action action) const
{
    const auto found = edits_.find(action);
    return found != edits_.end() ? found->second : nullptr;
}

void HotkeysDialog::setupUI()
{
    setStyleSheet(dialogStyle());
    auto* layout = new QVBoxLayout(this);

    auto* help = new QLabel("Click on a field and press the key combination you want to use.\n"
                            "Press Backspace or Delete to clear a hotkey.\n"
                            "If Start Recording and Stop Recording use the same key, that key toggles "
                            "(start when idle, stop when recording).",
                            this);
    help->setObjectName("hotkeysHelp");
    help->setStyleSheet(QString("color: %1; font-style: italic; padding: 5px;").arg(Theme::kTextMuted));
    help->setWordWrap(true);
    layout->addWidget(help);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    content->setObjectName("hotkeysContent");
    auto* groups = new QVBoxLayout(content);

    const auto addGroup = [this, content, groups](const QString& title, std::initializer_list<int> actions) {
        auto* group = new QGroupBox(title, content);
        auto* grid = new QGridLayout(group);
        int row = 0;
        for (int number : actions) {
            const auto action = static_cast<Action>(number);
            grid->addWidget(new QLabel(getActionName(action) + ":", group), row, 0);
            auto* edit = new SingleKeySequenceEdit(group);
            edit->setObjectName(QString("hotkeyEdit%1").arg(number));
            connect(edit, &QKeySequenceEdit::keySequenceChanged, this, &HotkeysDialog::onKeySequenceChanged);
            grid->addWidget(edit, row, 1);
            edits_[number] = edit;
            ++row;
        }
        groups->addWidget(group);
        return std::pair{group, grid};
    };
    addGroup("Transport", {StartRecording, StopRecording, OpenPlayback, MarkFalseTake, TestTone});
    addGroup("Metadata", {SceneLetterIncrement});
    auto [communication, communicationGrid] = addGroup("Communication", {Slate, SlateMonitor, Com});
    auto* note = new QLabel("(Slate and COM are press-and-hold keys.\n Slate Monitor sends to output only, not recorded.)",
                            communication);
    note->setStyleSheet(QString("color: %1; font-size: 10px; font-style: italic;").arg(Theme::kTextFaint));
    communicationGrid->addWidget(note, 3, 0, 1, 2);
    std::initializer_list<int> arming = {9, 10, 11, 12, 13, 14, 15, 16};
    addGroup("Track Arming", arming);
    groups->addStretch();
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    auto* reset = new QPushButton("Reset to Defaults", this);
    auto* close = new QPushButton("Close", this);
    connect(reset, &QPushButton::clicked, this, &HotkeysDialog::onResetDefaults);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(reset);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
}

void HotkeysDialog::onKeySequenceChanged()
{
    saveHotkeys();
}

void HotkeysDialog::saveHotkeys()
{
    for (const auto& [number, edit] : edits_)
        hotkeys_[static_cast<Action>(number)] = edit->keySequence();
    saveToConfig();
    emit hotkeysChanged();
}

void HotkeysDialog::onResetDefaults()
{
    // Signals stay connected: every edit that changes saves and tells the
    // window at once; edits already at their default say nothing.
    for (const auto& [number, edit] : edits_)
        edit->setKeySequence(getDefaultHotkey(static_cast<Action>(number)));
}

// The take fields of the "Recording Metadata" group: every edit is written to
// the configuration at once, so a crash or a restart keeps what was typed.
#include "ui/mainwindow/MainWindow.h"

#include "ui/common/FaderSlider.h"
#include "ui/common/Theme.h"
#include "ui/mainwindow/HotkeyInput.h"

#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MetadataKeys.h"
#include "core/settings/TrackKeys.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

// Hands the events of the widgets it watches to a function of the window.
class EventHook : public QObject {
public:
    explicit EventHook(std::function<bool(QObject*, QEvent*)> handle)
        : handle_(std::move(handle))
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override { return handle_(watched, event); }

private:
    std::function<bool(QObject*, QEvent*)> handle_;
};

constexpr const char* kFirstTake = "01";

ConfigManager* config()
{
    return ConfigManager::getInstance();
}

bool isCapital(QChar c)
{
    return c.unicode() >= 'A' && c.unicode() <= 'Z';
}

} // namespace

QString MainWindow::sceneAfterLetterIncrement(const QString& scene)
{
    const QString trimmed = scene.trimmed();
    qsizetype runStart = trimmed.size();
    while (runStart > 0 && isCapital(trimmed.at(runStart - 1)))
        --runStart;
    // Counting on the letters themselves, like a carry in a written sum,
    // keeps a run of any length exact where a number would overflow.
    QString run = trimmed.mid(runStart);
    qsizetype at = run.size() - 1;
    while (at >= 0 && run.at(at) == QChar('Z')) {
        run[at] = QChar('A');
        --at;
    }
    if (at >= 0)
        run[at] = QChar(run.at(at).unicode() + 1);
    else
        run.prepend(QChar('A'));
    return trimmed.left(runStart) + run;
}

QString MainWindow::normalizedTake(const QString& text)
{
    bool isNumber = false;
    const int take = text.toInt(&isNumber, 10);
    if (isNumber && take >= 1 && take <= 99)
        return QString("%1").arg(take, 2, 10, QChar('0'));
    return text;
}

QString MainWindow::trimmedFieldText(QLineEdit* field)
{
    const QString text = field->text().trimmed();
    if (text != field->text())
        field->setText(text);
    return text;
}

void MainWindow::watchTypingField(QLineEdit* field)
{
    if (!typingFieldWatcher_)
        typingFieldWatcher_ = std::make_unique<EventHook>([this](QObject*, QEvent* event) {
            if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
                return false;
            releaseTextFocus();
            return true;
        });
    field->installEventFilter(typingFieldWatcher_.get());
    // Return and Enter finish the edit while the field still has the focus
    // (a finish by losing the focus has none): the keys go back to the
    // window, so record and stop answer at once. Connected after the field's
    // store, which runs first.
    connect(field, &QLineEdit::editingFinished, this, [this, field] {
        if (field->hasFocus())
            releaseTextFocus();
    });
}

void MainWindow::releaseTextFocus()
{
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || !isAncestorOf(focus))
        return;
    // Losing the focus finishes an edit still open, which stores it.
    focus->clearFocus();
    setFocus(Qt::OtherFocusReason);
}

void MainWindow::releaseTextFocusOnPassivePress(QObject* watched)
{
    auto* target = qobject_cast<QWidget*>(watched);
    QWidget* focus = QApplication::focusWidget();
    if (target == nullptr || focus == nullptr || target == focus || target->window() != this || !isAncestorOf(focus)
        || !hasTextInputFocus())
        return;
    // Controls keep their own rules: one that takes the focus on a click
    // takes it from the field; a button or a fader acts without it.
    if ((target->focusPolicy() & Qt::ClickFocus) != 0 || qobject_cast<QAbstractButton*>(target) != nullptr
        || qobject_cast<QAbstractSlider*>(target) != nullptr)
        return;
    releaseTextFocus();
}

void MainWindow::storeText(const char* key, const QString& text)
{
    config()->setString(key, text.toStdString());
    config()->saveConfig("");
}

void MainWindow::setupMetadataFields()
{
    for (QLineEdit* field : {projectEdit_, soundRollEdit_}) {
        if (field != nullptr)
            field->installEventFilter(this);
    }
    if (sceneButton_ != nullptr)
        connect(sceneButton_, &QPushButton::clicked, this, [this] { onSceneLetterIncrement(); });
    if (sceneEdit_ != nullptr) {
        // Every editing-finished, also without a change: Return in the scene
        // field starts the take count again.
        connect(sceneEdit_, &QLineEdit::editingFinished, this, [this] {
            storeText(MetadataKeys::kScene, trimmedFieldText(sceneEdit_));
            if (takeEdit_ != nullptr) {
                takeEdit_->setText(kFirstTake);
                storeText(MetadataKeys::kTake, kFirstTake);
            }
        });
        watchTypingField(sceneEdit_);
    }
    if (takeEdit_ != nullptr) {
        connect(takeEdit_, &QLineEdit::editingFinished, this, [this] {
            const QString take = normalizedTake(takeEdit_->text().trimmed());
            if (take != takeEdit_->text())
                takeEdit_->setText(take);
            storeText(MetadataKeys::kTake, take);
        });
        watchTypingField(takeEdit_);
    }
    if (notesEdit_ != nullptr) {
        connect(notesEdit_, &QLineEdit::editingFinished, this,
                [this] { storeText(MetadataKeys::kNotes, trimmedFieldText(notesEdit_)); });
        watchTypingField(notesEdit_);
    }
    // A press on a part of the window that takes no focus (the background, a
    // group, a label, a meter) ends the typing too.
    typingFocusWatcher_ = std::make_unique<EventHook>([this](QObject* watched, QEvent* event) {
        if (event->type() == QEvent::MouseButtonPress)
            releaseTextFocusOnPassivePress(watched);
        return false;
    });
    qApp->installEventFilter(typingFocusWatcher_.get());
    if (persistNotesCheck_ != nullptr) {
        connect(persistNotesCheck_, &QCheckBox::toggled, this, [](bool on) {
            config()->setBool(MetadataKeys::kPersistNotes, on);
            config()->saveConfig("");
        });
    }
}

void MainWindow::onSceneLetterIncrement()
{
    if (sceneEdit_ == nullptr || hasLineOrTextEditFocus())
        return;
    const QString scene = sceneAfterLetterIncrement(sceneEdit_->text());
    sceneEdit_->setText(scene);
    storeText(MetadataKeys::kScene, scene);
    if (takeEdit_ != nullptr) {
        takeEdit_->setText(kFirstTake);
        storeText(MetadataKeys::kTake, kFirstTake);
    }
}

bool MainWindow::handleMetadataFieldPress(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress || !watched->property("isClickableField").toBool())
        return false;
    if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
        return false;
    const QString type = watched->property("fieldType").toString();
    if (type == "project")
        onProjectFieldClicked();
    else if (type == "soundroll")
        onSoundRollFieldClicked();
    else
        return false;
    return true;
}

bool MainWindow::askFieldText(const QString& title, const QString& prompt, const QString& placeholder, QString& text)
{
    QDialog dialog(this);
    dialog.setWindowTitle(title);
    dialog.setModal(true);
    dialog.setStyleSheet(QString("QDialog { background-color: %1; }QLabel { color: %2; }QLineEdit { "
                                 "background-color: %3; color: %2; border: 1px solid %4; padding: 5px; "
                                 "}QPushButton { background-color: %5; color: white; padding: 8px 20px; border: 1px "
                                 "solid %6; }QPushButton:hover { background-color: %7; }")
                             .arg(Theme::kBgDialog, Theme::kTextBright, Theme::kBgControl, Theme::kBorderControl,
                                  Theme::kFieldDialogButton, Theme::kBorderStrong, Theme::kFieldDialogButtonHover));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* edit = new QLineEdit(text, &dialog);
    edit->setObjectName("fieldTextEdit");
    edit->setPlaceholderText(placeholder);
    edit->selectAll();
    layout->addWidget(edit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton("OK", &dialog);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", &dialog);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    text = edit->text().trimmed();
    return true;
}

void MainWindow::onProjectFieldClicked()
{
    if (projectEdit_ == nullptr)
        return;
    QString project = projectEdit_->text();
    if (!askFieldText("Set Project Name", "Enter Project Name:", "e.g., ProjectName", project))
        return;
    projectEdit_->setText(project);
    // A narrow field shows a name from its start, not its last letters.
    projectEdit_->setCursorPosition(0);
    storeText(MetadataKeys::kProject, project);
}

void MainWindow::onSoundRollFieldClicked()
{
    if (soundRollEdit_ == nullptr)
        return;
    QString roll = soundRollEdit_->text();
    if (!askFieldText("Set Sound Roll", "Enter Sound Roll:", "e.g., 001", roll))
        return;
    if (roll.isEmpty())
        roll = kDefaultSoundRoll;
    soundRollEdit_->setText(roll);
    storeText(MetadataKeys::kSoundRoll, roll);
}

void MainWindow::watchMixerStrip(const MixerStrip& strip)
{
    if (!mixerStripWatcher_)
        mixerStripWatcher_ = std::make_unique<EventHook>([this](QObject* watched, QEvent* event) {
            return handleMixerStripEvent(watched, event);
        });
    strip.fader->setProperty("isMixerFader", true);
    strip.gainLabel->setProperty("isGainLabel", true);
    strip.trackButton->setProperty("isMixerTrack", true);
    for (QWidget* widget : {static_cast<QWidget*>(strip.fader), static_cast<QWidget*>(strip.gainLabel),
                            static_cast<QWidget*>(strip.trackButton)}) {
        widget->setProperty("trackId", strip.trackIndex);
        widget->installEventFilter(mixerStripWatcher_.get());
    }
}

bool MainWindow::isTrackDrivenByCantarem(int track) const
{
    return controllerManager_ && controllerManager_->isTrackMappedToCantarem(track);
}

bool MainWindow::handleMixerStripEvent(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::Wheel)
        return false;
    const QVariant trackId = watched->property("trackId");
    if (!trackId.isValid())
        return false;
    const int track = trackId.toInt();
    const bool knownStrip = track >= 0 && static_cast<size_t>(track) < mixerStrips_.size();

    // The hardware fader owns the level: a mouse move would fight its motor.
    if (watched->property("isMixerFader").toBool())
        return isTrackDrivenByCantarem(track);
    if (type == QEvent::Wheel)
        return false;

    const auto* press = static_cast<QMouseEvent*>(event);
    if (watched->property("isGainLabel").toBool() && press->modifiers().testFlag(Qt::ControlModifier)) {
        if (knownStrip)
            mixerStrips_[static_cast<size_t>(track)].fader->setValue(0);
        return true;
    }
    if (watched->property("isMixerTrack").toBool() && press->button() == Qt::RightButton && knownStrip) {
        MixerStrip& strip = mixerStrips_[static_cast<size_t>(track)];
        const QColor colour =
            QColorDialog::getColor(strip.color, this, QString("Select Color for Track %1").arg(track + 1));
        if (colour.isValid()) {
            setStripColour(strip, colour);
            config()->setString(TrackKeys::colorKey(track), colour.name().toStdString());
            config()->saveConfig("");
        }
        return true;
    }
    return false;
}

#pragma once

#include "EngineDouble.h"
#include "MainWindowTestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QTest>

// The window on an engine double, shown and active, with the program's key
// hook in front of normal dispatch (an application-wide filter doing what
// the application object does: presses offered to the transport hotkeys
// first, releases told to them and dispatched anyway).
class MainWindowKeysTest : public MainWindowTest {
protected:
    class KeyHook : public QObject {
    public:
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::KeyPress)
                return MainWindow::tryConsumeTransportHotkey(static_cast<QKeyEvent*>(event));
            if (event->type() == QEvent::KeyRelease)
                MainWindow::onTransportHotkeyKeyReleased(static_cast<QKeyEvent*>(event));
            return false;
        }
    };

    void SetUp() override
    {
        MainWindowTest::SetUp();
        EngineDouble::install(audio_);
        qApp->installEventFilter(&hook_);
    }

    void TearDown() override
    {
        qApp->removeEventFilter(&hook_);
        MainWindowTest::TearDown();
        EngineDouble::uninstall();
    }

    MainWindow& makeShownWindow()
    {
        MainWindow& window = makeWindow();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        window.setFocus();
        // What the restore told the engine is not the keys' doing.
        engine().calls.clear();
        return window;
    }

    EngineDouble& engine() const { return *dynamic_cast<EngineDouble*>(window_->engine()); }

    // The window's shortcut bound to `key`, or null.
    QShortcut* shortcutFor(const QKeySequence& key) const
    {
        for (QShortcut* shortcut : window_->findChildren<QShortcut*>())
            if (shortcut->key() == key)
                return shortcut;
        return nullptr;
    }

    KeyHook hook_;
};

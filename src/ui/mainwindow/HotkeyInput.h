#pragma once

class QKeyEvent;
class QKeySequence;

// True while the keyboard belongs to typing: the focus is in a line edit,
// text edit, plain text edit, spin box or key-sequence editor, or anywhere
// inside the hotkeys dialog. Record and stop neither arm nor cancel then.
bool hasTextInputFocus();

// True while the focus is in a line edit or text edit: a letter typed there is
// text, not a window shortcut (slate, COM, scene letter).
bool hasLineOrTextEditFocus();

// True when the event's key with its modifiers is exactly the binding, also
// once the keypad modifier is dropped (a keypad key matches the plain key's
// binding). An empty binding never matches.
bool matchesHotkeyEvent(const QKeySequence& sequence, const QKeyEvent* event);

// True when the event's key is the binding's key, whatever modifiers are
// held now: a key let go after its modifier still ends what it started.
bool releaseMatchesHotkey(const QKeySequence& sequence, const QKeyEvent* event);

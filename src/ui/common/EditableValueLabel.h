#pragma once

#include <QLabel>
#include <QPointer>
#include <QSlider>

#include <functional>

class QMouseEvent;

// A label that shows a slider's value ("-3.0 dB", "2.5 kHz", "42%") and lets
// the user type one: a click opens an editor over the label, filled with the
// value without its unit and selected; Return or leaving the editor moves the
// slider to the typed value (clamped to its range), an empty editor changes
// nothing. A Ctrl+click puts the slider back to the label's default.
//
// The slider stays the one source of the value: whoever owns it sets this
// label's text when it moves. The editor is a child of the label's window,
// laid over the label, named "valueEditor".
// GUI thread only. The slider is borrowed; a slider gone before the edit
// ends is not touched.
class EditableValueLabel : public QLabel {
    Q_OBJECT

public:
    using Formatter = std::function<QString(int)>;
    using Parser = std::function<int(const QString&)>;

    static constexpr const char* kEditorName = "valueEditor";

    explicit EditableValueLabel(QWidget* parent = nullptr);
    EditableValueLabel(const QString& text, QWidget* parent = nullptr);

    // Makes the label editable for `slider`: `parser` reads typed text into
    // the slider's units, `formatter` shows the default after a reset.
    void bind(QSlider* slider, Formatter formatter, Parser parser, int defaultValue);
    bool isBound() const { return slider_ != nullptr; }

    void openEditor();
    void resetToDefault();

signals:
    // A Ctrl+click put the default back (the slider has moved).
    void wasReset();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QSlider> slider_;
    Formatter formatter_;
    Parser parser_;
    int defaultValue_ = 0;
};

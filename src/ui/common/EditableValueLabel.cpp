#include "ui/common/EditableValueLabel.h"

#include "ui/common/Theme.h"
#include "ui/common/ValueLabelText.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>

#include <algorithm>
#include <memory>

EditableValueLabel::EditableValueLabel(QWidget* parent) : QLabel(parent) {}

EditableValueLabel::EditableValueLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void EditableValueLabel::bind(QSlider* slider, Formatter formatter, Parser parser, int defaultValue)
{
    if (slider == nullptr)
        return;
    slider_ = slider;
    formatter_ = std::move(formatter);
    parser_ = std::move(parser);
    defaultValue_ = defaultValue;
    setCursor(Qt::PointingHandCursor);
    setToolTip("Click to edit, Ctrl+Click to reset");
}

void EditableValueLabel::mousePressEvent(QMouseEvent* event)
{
    if (!isBound() || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ControlModifier)
        resetToDefault();
    else
        openEditor();
    event->accept();
}

void EditableValueLabel::resetToDefault()
{
    if (slider_ == nullptr)
        return;
    slider_->setValue(defaultValue_);
    setText(formatter_(defaultValue_));
    emit wasReset();
}

void EditableValueLabel::openEditor()
{
    if (slider_ == nullptr)
        return;
    // Over the label but a child of the window, so the editor is drawn above
    // the label's neighbours and takes none of the label's style.
    QWidget* host = window();
    auto* editor = new QLineEdit(host);
    editor->setObjectName(kEditorName);
    editor->setGeometry(geometry());
    editor->move(mapTo(host, QPoint(0, 0)));
    editor->setAlignment(Qt::AlignCenter);
    editor->setStyleSheet(QString("QLineEdit { background: %1; color: white; border: 1px solid %2; font-size: 10px; "
                                  "font-weight: bold; padding: 2px; }")
                              .arg(Theme::kBgSurface, Theme::kValueEditorBorder));
    editor->setText(valueLabelText::editorText(text()));
    editor->selectAll();
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);

    const QPointer<QSlider> target(slider_);
    const Parser parser = parser_;
    const QPointer<QWidget> focusBack(host);
    // Return and the loss of focus both finish the edit; the first one commits.
    auto commit = std::make_shared<QMetaObject::Connection>();
    *commit = connect(editor, &QLineEdit::editingFinished, this, [editor, target, parser, focusBack, commit] {
        disconnect(*commit);
        const QString typed = editor->text().trimmed();
        if (!typed.isEmpty() && target != nullptr)
            target->setValue(std::clamp(parser(typed), target->minimum(), target->maximum()));
        if (editor->hasFocus() && focusBack != nullptr)
            focusBack->setFocus(Qt::OtherFocusReason);
        editor->deleteLater();
    });
}

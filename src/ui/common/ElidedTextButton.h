#pragma once

#include <QPushButton>

// A flat text button whose text never widens its layout: it takes the width
// its column gives it and ends a text too long for that width with "...".
// text() stays the whole text. Threads: GUI thread only.
class ElidedTextButton : public QPushButton {
public:
    explicit ElidedTextButton(QWidget* parent = nullptr);

    // The text as painted at the button's present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

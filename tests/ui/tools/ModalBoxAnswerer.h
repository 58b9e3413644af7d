#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <vector>

// Answers every QMessageBox that opens while it lives, recording title and
// text; `answer` is the button pressed (Ok, Yes, No ...), or the box's
// default/escape button when the box lacks it.
class ModalBoxAnswerer {
public:
    struct Box {
        QString title;
        QString text;
        QColor background;  // as painted in the box's corner, with recordBackgrounds()
    };

    explicit ModalBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~ModalBoxAnswerer();

    void setAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
    // Grabs each box to read its background: a paint on the GUI thread, so
    // off unless a test asks.
    void recordBackgrounds() { recordBackgrounds_ = true; }
    const std::vector<Box>& boxes() const { return boxes_; }
    int count() const { return static_cast<int>(boxes_.size()); }
    // The most message boxes seen open at the same time.
    int maxOpenAtOnce() const { return maxOpenAtOnce_; }

private:
    void answerOpenBoxes();

    QMessageBox::StandardButton answer_;
    QTimer timer_;
    std::vector<Box> boxes_;
    int maxOpenAtOnce_ = 0;
    bool recordBackgrounds_ = false;
};

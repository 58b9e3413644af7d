#pragma once

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
    };

    explicit ModalBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~ModalBoxAnswerer();

    void setAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
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
};

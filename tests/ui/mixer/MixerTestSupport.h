#pragma once

#include "ui/mixer/PortLabels.h"

#include <QImage>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QTableWidget;
class QWidget;

// Answers the rename prompt instead of a user and records what it was asked.
class AliasAnswerer {
public:
    struct Question {
        QString title;
        QString prompt;
        QString prefill;
    };

    AliasAnswerer();
    ~AliasAnswerer();
    AliasAnswerer(const AliasAnswerer&) = delete;
    AliasAnswerer& operator=(const AliasAnswerer&) = delete;

    // The next prompts get this answer; nothing means Cancel.
    void answer(std::optional<QString> text) { answer_ = std::move(text); }
    const std::vector<Question>& questions() const { return questions_; }

private:
    std::optional<QString> answer_;
    std::vector<Question> questions_;
};

// A real mouse click on the check indicator of a grid cell.
void clickCheckCell(QTableWidget* grid, int row, int column);
bool isChecked(const QTableWidget* grid, int row, int column);
// A real double-click on a column header section.
void doubleClickHeader(QTableWidget* grid, int section);
// Picks a chooser entry with the keyboard (Home, then Down until it shows).
void chooseEntry(QComboBox* combo, const QString& text);
// With TONVALE_SCREENSHOT_DIR set, saves the grab there as name.png.
QImage grabAndKeep(QWidget* widget, const QString& name);

#include "ModalBoxAnswerer.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QApplication>

#include <algorithm>

ModalBoxAnswerer::ModalBoxAnswerer(QMessageBox::StandardButton answer) : answer_(answer)
{
    // Runs inside the box's own event loop, once the box is shown.
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] { answerOpenBoxes(); });
    timer_.start();
}

ModalBoxAnswerer::~ModalBoxAnswerer()
{
    timer_.stop();
}

void ModalBoxAnswerer::answerOpenBoxes()
{
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible())
            ++open;
    }
    maxOpenAtOnce_ = std::max(maxOpenAtOnce_, open);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr || !box->isVisible() || box->property("answeredByTest").toBool())
            continue;
        box->setProperty("answeredByTest", true);
        const QColor background = recordBackgrounds_ ? box->grab().toImage().pixelColor(2, 2) : QColor();
        boxes_.push_back({box->windowTitle(), box->text(), background});
        QAbstractButton* button = box->button(answer_);
        if (button == nullptr)
            button = box->escapeButton() != nullptr ? box->escapeButton() : static_cast<QAbstractButton*>(box->defaultButton());
        if (button != nullptr)
            button->click();
        else
            box->done(answer_);
    }
}

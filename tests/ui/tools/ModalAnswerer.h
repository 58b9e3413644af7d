#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the modal windows a dialog opens while a test drives it, and keeps
// what each message box said. While it exists, every application-modal or
// window-modal widget that appears is handed to `answer` (by default: a
// message box is accepted, anything else rejected).
class ModalAnswerer {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    explicit ModalAnswerer(std::function<void(QWidget*)> answer = {})
        : answer_(std::move(answer))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    const QList<Seen>& boxes() const { return boxes_; }
    QStringList texts() const
    {
        QStringList result;
        for (const Seen& seen : boxes_)
            result.append(seen.text);
        return result;
    }
    int modalCount() const { return modalCount_; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        ++modalCount_;
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            boxes_.append({box->windowTitle(), box->text(), box->icon()});
        if (answer_) {
            answer_(modal);
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->accept();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }

    std::function<void(QWidget*)> answer_;
    QTimer timer_;
    QList<Seen> boxes_;
    int modalCount_ = 0;
};

// While it lives, runs `act` once on each top-level widget of type T that
// shows (inside the widget's own modal loop, where a test answers it).
template <typename T>
class OnShow {
public:
    explicit OnShow(std::function<void(T&)> act) : act_(std::move(act))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    int times() const { return times_; }

private:
    void poll()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* found = qobject_cast<T*>(widget);
            if (found == nullptr || !found->isVisible() || found->property("actedOnByTest").toBool())
                continue;
            found->setProperty("actedOnByTest", true);
            ++times_;
            act_(*found);
            return;
        }
    }

    std::function<void(T&)> act_;
    QTimer timer_;
    int times_ = 0;
};

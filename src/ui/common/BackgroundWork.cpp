#include "ui/common/BackgroundWork.h"

#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>

QProgressDialog* showWorkProgress(QFutureWatcherBase& watcher, QWidget* parent, const QString& title,
                                  const QString& label, bool canCancel)
{
    auto* dialog = new QProgressDialog(label, canCancel ? QObject::tr("Cancel") : QString(), 0, 0, parent);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(kWorkProgressShowAfterMs);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    if (!canCancel) {
        // No way for the person to close it half-way: the work cannot stop there.
        dialog->setCancelButton(nullptr);
        dialog->setWindowFlag(Qt::WindowCloseButtonHint, false);
    }

    QObject::connect(&watcher, &QFutureWatcherBase::progressRangeChanged, dialog, &QProgressDialog::setRange);
    QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged, dialog, &QProgressDialog::setValue);
    QObject::connect(&watcher, &QFutureWatcherBase::progressTextChanged, dialog, [dialog](const QString& text) {
        if (!text.isEmpty())
            dialog->setLabelText(text);
    });
    if (canCancel)
        QObject::connect(dialog, &QProgressDialog::canceled, &watcher, &QFutureWatcherBase::cancel);
    QObject::connect(&watcher, &QFutureWatcherBase::finished, dialog, &QObject::deleteLater);
    QObject::connect(&watcher, &QFutureWatcherBase::finished, dialog, &QProgressDialog::hide);
    if (watcher.isFinished())
        dialog->deleteLater();
    return dialog;
}

void cancelAndWait(QFutureWatcherBase& watcher)
{
    watcher.cancel();
    watcher.waitForFinished();
}

bool waitForWork(QFutureWatcherBase& watcher)
{
    QPointer<QFutureWatcherBase> alive(&watcher);
    if (watcher.isFinished())
        return true;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    QObject::connect(&watcher, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    // The loop also ends when the application quits: the work may still run.
    return !alive.isNull() && watcher.isFinished();
}

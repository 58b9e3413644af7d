#pragma once

#include <QFutureWatcher>
#include <QString>
#include <QtConcurrent/QtConcurrentRun>

class QProgressDialog;
class QWidget;

// The window side's one way to run long work (file repair, metadata reads
// and writes, waveforms, report scans, drive formatting) without freezing
// the window: record and stop travel through the GUI thread, so it must
// never wait on disk or on a child program.
//
// Threads: the helpers below are called on the GUI thread only. The work
// itself runs on Qt's global thread pool through QtConcurrent::run with a
// QPromise: it reports through promise.setProgressRange/setProgressValue
// (and setProgressValueAndText for a step name), stops early once
// promise.isCanceled(), and never touches a widget. It works on copies of
// what it reads; whatever it borrows must outlive it, so an owner that may
// close while work runs calls cancelAndWait() first. Results and progress
// come back through the QFutureWatcher's signals, on the GUI thread.
//
// A second start while the watcher is running is the caller's to refuse:
// check isRunning() on the watcher.

// Starts `work` (a callable taking QPromise<Result>&) on the thread pool and
// hands its future to `watcher`.
template <typename Result, typename Work>
void startBackgroundWork(QFutureWatcher<Result>& watcher, Work&& work)
{
    watcher.setFuture(QtConcurrent::run(std::forward<Work>(work)));
}

// A modal progress dialog bound to `watcher`: its bar follows the work's
// progress range and value, its label reads "<label>" or the work's step
// text, and it closes itself when the work finishes. With `canCancel`,
// Cancel cancels the future (the work stops at its next check); without
// it the dialog has no Cancel button and cannot be closed by the person.
// It appears only after kShowAfterMs, so short work does not flash a box.
// The dialog is deleted when the work finishes; the returned pointer is for
// tests and for changing the label.
QProgressDialog* showWorkProgress(QFutureWatcherBase& watcher, QWidget* parent, const QString& title,
                                  const QString& label, bool canCancel);

// How long work may run before its progress dialog shows.
inline constexpr int kWorkProgressShowAfterMs = 1000;

// Cancels the watcher's work and blocks until it has returned. For
// destructors and close handlers whose data the work borrows; the work
// checks for cancellation between steps, so the wait is one step long.
void cancelAndWait(QFutureWatcherBase& watcher);

// Runs a local event loop (as a modal dialog's exec() does) until the
// watcher's work has finished or the watcher is destroyed, so a handler
// can keep its order of effects while the window goes on painting, ticking
// and taking record and stop. The loop may re-enter other handlers: the
// caller disables or refuses its own second start first. Returns false
// when the watcher went away meanwhile (its owner was closed: the caller
// must then touch nothing of that owner) or the application is quitting
// before the work ended (its owner's cancelAndWait will wait for it).
bool waitForWork(QFutureWatcherBase& watcher);

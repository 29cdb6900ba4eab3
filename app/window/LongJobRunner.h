#pragma once

#include "app/shell/LongJob.h"

#include <QWidget>

#include <deque>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orvane {

/// Runs long jobs one after another on a worker thread while the window goes on: shows the
/// running job's title, its progress (a busy bar when the job cannot tell) and, when it
/// can be stopped, a Cancel button; hidden while idle. Each job's finish step runs back on
/// the main thread, in the order the jobs were given.
class LongJobRunner : public QWidget {
    Q_OBJECT
  public:
    explicit LongJobRunner(QWidget *parent = nullptr);
    /// Waits for the running job without finishing it; queued jobs are dropped.
    ~LongJobRunner() override;

    /// Queues `job`; it starts at once when nothing runs.
    void run(LongJob job);
    /// A job is running or waiting.
    bool busy() const { return worker.busy() || !queue.empty(); }
    /// Asks the running job to stop and drops the waiting ones.
    void cancel();
    /// Runs every job given so far to its end here, finish steps included (before quitting).
    void finishAll();
    /// The running job's progress in 0..1, negative when unknown or idle.
    double progress();

  Q_SIGNALS:
    /// A job's finish step has run.
    void jobFinished();

  private:
    void startNext();
    void workerDone();
    void showProgress();

    LongJobThread worker;
    std::deque<LongJob> queue;
    QLabel *title = nullptr;
    QProgressBar *bar = nullptr;
    QPushButton *cancelButton = nullptr;
    QTimer *poll = nullptr;
};

} // namespace orvane

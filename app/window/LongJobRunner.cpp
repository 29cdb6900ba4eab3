#include "app/window/LongJobRunner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <utility>

namespace orvane {

namespace {
constexpr int barSteps = 1000;
constexpr int pollMilliseconds = 50;
} // namespace

LongJobRunner::LongJobRunner(QWidget *parent) : QWidget(parent) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    title = new QLabel(this);
    bar = new QProgressBar(this);
    bar->setMaximumWidth(160);
    bar->setTextVisible(false);
    cancelButton = new QPushButton(tr("Cancel"), this);
    layout->addWidget(title);
    layout->addWidget(bar);
    layout->addWidget(cancelButton);
    connect(cancelButton, &QPushButton::clicked, this, &LongJobRunner::cancel);
    poll = new QTimer(this);
    poll->setInterval(pollMilliseconds);
    connect(poll, &QTimer::timeout, this, &LongJobRunner::showProgress);
    hide();
}

LongJobRunner::~LongJobRunner() {
    queue.clear();
    worker.control().cancel();
}

void LongJobRunner::run(LongJob job) {
    queue.push_back(std::move(job));
    if (!worker.busy()) startNext();
}

void LongJobRunner::startNext() {
    if (queue.empty()) {
        poll->stop();
        hide();
        return;
    }
    LongJob job = std::move(queue.front());
    queue.pop_front();
    title->setText(QString::fromStdString(job.title));
    cancelButton->setVisible(job.cancellable);
    cancelButton->setEnabled(true);
    bar->setRange(0, 0);
    // The wake-up is posted to this object from the worker. The worker is a member, so it
    // is joined before this object stops existing, and a wake-up still waiting in the event
    // queue is dropped with the object. It is idle here: every caller checks `busy` first.
    (void)worker.start(std::move(job), [this] {
        QMetaObject::invokeMethod(this, &LongJobRunner::workerDone, Qt::QueuedConnection);
    });
    show();
    poll->start();
}

void LongJobRunner::workerDone() {
    if (!worker.finishIfDone()) return;
    Q_EMIT jobFinished();
    if (!worker.busy()) startNext();
}

void LongJobRunner::cancel() {
    queue.clear();
    if (worker.busy() && worker.cancellable()) {
        worker.control().cancel();
        cancelButton->setEnabled(false);
    }
}

void LongJobRunner::finishAll() {
    while (worker.busy()) {
        (void)worker.waitAndFinish(); // busy, so there is a job to finish
        Q_EMIT jobFinished();
        if (!worker.busy()) startNext();
    }
}

double LongJobRunner::progress() { return worker.busy() ? worker.control().fraction() : -1.0; }

void LongJobRunner::showProgress() {
    const double fraction = progress();
    if (fraction < 0.0) {
        bar->setRange(0, 0);
        return;
    }
    bar->setRange(0, barSteps);
    bar->setValue(static_cast<int>(std::lround(fraction * barSteps)));
}

} // namespace orvane

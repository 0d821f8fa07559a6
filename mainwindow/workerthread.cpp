#include "mainwindow/workerthread.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

WorkerThread::WorkerThread(QObject *worker, QObject *threadParent, WorkerEnd end)
    : worker(worker), thread(new QThread(threadParent)), end(end)
{
    worker->moveToThread(thread);
    if (end == WorkerEnd::DeletedWithThread)
        QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
}

WorkerThread::~WorkerThread()
{
    stop();
    deleteThread();
    deleteWorker();
}

void WorkerThread::start()
{
    if (thread)
        thread->start(QThread::InheritPriority);
}

bool WorkerThread::isRunning() const
{
    return thread && thread->isRunning();
}

void WorkerThread::stop()
{
    if (!isRunning())
        return;
    // Quitting from inside the thread lets the requests queued before it,
    // such as a close, run first; a quit from here could overtake them.
    QThread *running = thread;
    QMetaObject::invokeMethod(worker, [running] { running->quit(); });
    thread->wait();
}

void WorkerThread::deleteThread()
{
    delete thread;
    thread = nullptr;
}

void WorkerThread::deleteWorker()
{
    if (end == WorkerEnd::DeletedByOwner)
        delete worker;
    worker = nullptr;
}

void WorkerThread::fence(QObject *context, std::function<void()> reached)
{
    ++pendingFences;
    QMetaObject::invokeMethod(worker, [this, context, reached = std::move(reached)] {
        QMetaObject::invokeMethod(context, [this, reached] {
            --pendingFences;
            reached();
        });
    });
}

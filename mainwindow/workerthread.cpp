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
    if (!thread || thread->isRunning())
        return;
    // Between runs the worker waits in the owner's thread; it is moved before
    // the start, so Qt ties it to the new run's thread-local state and not to
    // that of a run that has ended.
    if (worker->thread() != thread)
        worker->moveToThread(thread);
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
    // such as a close, run first; a quit from here could overtake them. The
    // worker comes home first: objects left in a finished thread keep
    // pointers into its thread-local storage.
    QThread *running = thread;
    QThread *home = QThread::currentThread();
    const bool comesHome = end == WorkerEnd::DeletedByOwner;
    QMetaObject::invokeMethod(worker, [running, worker = worker, home, comesHome] {
        if (comesHome)
            worker->moveToThread(home);
        running->quit();
    });
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
    QMetaObject::invokeMethod(worker, [context, reached = std::move(reached)] {
        QMetaObject::invokeMethod(context, reached);
    });
}

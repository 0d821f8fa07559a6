#pragma once

#include <functional>

class QObject;
class QThread;

// One worker and the thread it lives in. The thread starts on demand and
// stops after the requests queued before the stop; stopping and deleting
// are separate steps so the window can keep its teardown order.
class WorkerThread
{
public:
    enum class WorkerEnd {
        DeletedByOwner,   // deleteWorker() deletes it once the thread has stopped
        DeletedWithThread // deleted in its own thread as the thread finishes
    };

    WorkerThread(QObject *worker, QObject *threadParent, WorkerEnd end);
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    void start();
    bool isRunning() const;
    // Quits once the worker has handled what was queued before, and waits.
    void stop();
    void deleteThread();
    void deleteWorker();

    // Runs `reached` in `context`'s thread after the worker has handled every
    // request queued before this call, and after anything it reported
    // meanwhile. `context` lives in the owner's thread.
    void fence(QObject *context, std::function<void()> reached);
    // While true, what arrives from the worker was said before the latest
    // fence: about requests that came before it, such as a link now closed.
    bool fencePending() const { return pendingFences > 0; }

private:
    QObject *worker;
    QThread *thread;
    WorkerEnd end;
    int pendingFences = 0;
};

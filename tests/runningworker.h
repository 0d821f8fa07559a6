#pragma once

#include "mainwindow/workerthread.h"

#include <QObject>
#include <QStringList>
#include <QTest>

#include <memory>

// A worker in its own thread as the window runs it. Requests are queued to
// it; its reports come back queued, as "name|arg|arg", and its data is
// gathered in `received`.
template<typename W>
struct RunningWorker : QObject
{
    W *worker = new W;
    WorkerThread thread { worker, nullptr, WorkerThread::WorkerEnd::DeletedByOwner };
    QStringList reports;
    QByteArray received;
    // Whether the credit for what arrived goes straight back.
    bool repays = true;

    RunningWorker() { thread.start(); }

    template<typename F>
    void ask(F request)
    {
        QMetaObject::invokeMethod(worker, [w = worker, request] { request(w); });
    }
    template<typename... A, typename... More>
    void report(void (W::*signal)(A...), const char *name, More... more)
    {
        connect(worker, signal, this, [this, name](A... args) {
            QStringList fields { name };
            (fields << ... << text(args));
            reports << fields.join('|');
        });
        if constexpr (sizeof...(More) > 0)
            report(more...);
    }
    // Cut as the transport likes; a client's name, if any, is not needed.
    template<typename... Peer>
    void data(void (W::*signal)(QByteArray, Peer...))
    {
        connect(worker, signal, this, [this](const QByteArray &bytes) {
            received += bytes;
            if (repays)
                repay(bytes.size());
        });
    }
    void repay(qint64 bytes)
    {
        ask([bytes](W *w) { w->DataShown(w, bytes); });
    }
    // Once the worker has handled what was asked before, and its reports are in.
    bool settle()
    {
        auto reached = std::make_shared<bool>(false);
        thread.fence(this, [reached] { *reached = true; });
        return QTest::qWaitFor([reached] { return *reached; });
    }

private:
    static QString text(const QString &value) { return value; }
    static QString text(qint64 value) { return QString::number(value); }
};

#pragma once

#include "mainwindow/receivedbytes.h"

#include <QObject>
#include <QPointer>
#include <QString>

class HexViewWindow;
class ReceiveView;
class QWidget;

// A page's hex viewer: keeps what the page receives, by source, and shows it
// in a tool window that "十六进制查看…" in the page's receive area opens.
class HexViewer : public QObject
{
    Q_OBJECT

public:
    HexViewer(ReceiveView *area, const QString &pageName, QWidget *window, QObject *parent = nullptr);
    ~HexViewer() override;

    // Bytes as they came from `source`.
    void received(const QString &source, QByteArrayView bytes) { store.append(source, bytes); }
    void clear() { store.clear(); }
    void show();

private:
    ReceivedBytes store;
    QString pageName;
    QWidget *window;
    QPointer<HexViewWindow> viewWindow;
};

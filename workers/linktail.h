#pragma once

#include <QByteArray>
#include <QtGlobal>

// What a socket or port and the system below it hold when its link ends,
// read at once whatever the read buffer's limit: nothing more will come, so
// nothing is left behind for the close to discard. `bufferLimit` is the
// limit the device keeps afterwards.
template<typename Device>
QByteArray readTail(Device *device, qint64 bufferLimit)
{
    // Closed by request: its buffer went with the close.
    if (!device->isOpen())
        return QByteArray();
    device->setReadBufferSize(0);
    // Moves what the system holds into the device's buffer; with nothing
    // there it returns at once.
    device->waitForReadyRead(0);
    const QByteArray tail = device->readAll();
    device->setReadBufferSize(bufferLimit);
    return tail;
}

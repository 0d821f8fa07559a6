#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QTcpSocket;
struct termios;

// A real pseudo-terminal: the slave's path serves as a serial port name, the
// test talks to the master side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    QString portName() const { return slavePath; }

    void write(const QByteArray &bytes);
    // Reads from the master until `count` bytes arrived or the time is up,
    // keeping the Qt event loop running meanwhile.
    QByteArray read(int count, int timeoutMs = 3000);
    // Whatever the master can read within `timeoutMs`.
    QByteArray readAvailable(int timeoutMs = 200);
    // The line settings the slave side currently has.
    bool slaveSettings(termios *settings) const;
    // The slave's output speed in bits per second, also when it is not one of the B constants.
    int slaveSpeed() const;
    // Closes the master: for the process holding the slave this looks like a
    // removed device.
    void closeMaster();

private:
    int masterFd = -1;
    int slaveFd = -1;
    QString slavePath;
};

// What a modal message box said.
struct AnsweredBox
{
    QString title;
    QString text;
    Qt::TextFormat textFormat = Qt::AutoText;
};

// Answers the next modal message boxes, one after the other, with `buttons`,
// and records what they said, while the record is held. Call before the
// action that shows them.
std::shared_ptr<QList<AnsweredBox>> answerMessageBoxes(QList<QMessageBox::StandardButton> buttons);

// Connects `socket` to a loopback `port` that may not listen yet: refused
// until it does, so tried again.
bool connectOnceListening(QTcpSocket &socket, quint16 port);

// A loopback port nothing listens on or is bound to just now, for a server
// or UDP page to take; 0 if none was found.
quint16 freePort(QAbstractSocket::SocketType type = QAbstractSocket::TcpSocket);

// Points the per-user settings store at `dir`, so tests never touch the
// user's own settings.
void useSettingsDirectory(const QTemporaryDir &dir);

#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <asm/ioctls.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0)
        qFatal("no pseudo-terminal: %s", strerror(errno));
    slavePath = QString::fromLocal8Bit(name);
    // Raw master so the line discipline of the test side changes nothing.
    termios raw {};
    tcgetattr(slaveFd, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveFd, TCSANOW, &raw);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

void PseudoTerminal::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}

void PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size() && masterFd >= 0) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else {
            pollfd p { masterFd, POLLOUT, 0 };
            ::poll(&p, 1, 10);
            QCoreApplication::processEvents();
        }
    }
}

QByteArray PseudoTerminal::read(int count, int timeoutMs)
{
    QByteArray result;
    QDeadlineTimer deadline(timeoutMs);
    char buffer[65536];
    while (result.size() < count && !deadline.hasExpired() && masterFd >= 0) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n > 0) {
            result.append(buffer, n);
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p { masterFd, POLLIN, 0 };
        ::poll(&p, 1, 5);
    }
    return result;
}

QByteArray PseudoTerminal::readAvailable(int timeoutMs)
{
    return read(INT_MAX, timeoutMs);
}

bool PseudoTerminal::slaveSettings(termios *settings) const
{
    return slaveFd >= 0 && tcgetattr(slaveFd, settings) == 0;
}

// What TCGETS2 fills; the kernel header that has it cannot be included beside <termios.h>.
struct termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

int PseudoTerminal::slaveSpeed() const
{
    termios2 line {};
    return slaveFd >= 0 && ioctl(slaveFd, TCGETS2, &line) == 0 ? int(line.c_ospeed) : -1;
}

std::shared_ptr<QList<AnsweredBox>> answerMessageBoxes(QList<QMessageBox::StandardButton> buttons)
{
    auto answered = std::make_shared<QList<AnsweredBox>>();
    auto *poller = new QTimer(qApp);
    QObject::connect(poller, &QTimer::timeout, poller, [=, last = QPointer<QMessageBox>()]() mutable {
        // Done, or nobody holds the record any more.
        if (buttons.isEmpty() || answered.use_count() == 1) {
            poller->deleteLater();
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == last || !box->isVisible())
            return;
        last = box;
        *answered << AnsweredBox { box->windowTitle(), box->text(), box->textFormat() };
        const QMessageBox::StandardButton answer = buttons.takeFirst();
        if (QAbstractButton *target = box->button(answer))
            target->click();
        else
            box->done(answer);
    });
    poller->start(10);
    return answered;
}

bool connectOnceListening(QTcpSocket &socket, quint16 port)
{
    return QTest::qWaitFor([&] {
        socket.abort();
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(1000);
    });
}

quint16 freePort(QAbstractSocket::SocketType type)
{
    if (type == QAbstractSocket::UdpSocket) {
        QUdpSocket probe;
        return probe.bind(QHostAddress::LocalHost) ? probe.localPort() : 0;
    }
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

void useSettingsDirectory(const QTemporaryDir &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

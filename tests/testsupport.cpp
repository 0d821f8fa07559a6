#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <functional>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
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

namespace {

// Polls for modal boxes and answers each new one with the next of `buttons`.
void answerBoxes(QList<QMessageBox::StandardButton> buttons, int timeoutMs,
                 std::function<void(const MessageBoxRecord &)> seen)
{
    auto *poller = new QTimer(qApp);
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    auto last = std::make_shared<QPointer<QMessageBox>>();
    poller->setInterval(10);
    QObject::connect(poller, &QTimer::timeout, poller, [=]() mutable {
        if (buttons.isEmpty() || deadline->hasExpired()) {
            poller->deleteLater();
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == *last || !box->isVisible())
            return;
        *last = box;
        seen({ true, box->windowTitle(), box->text(), box->icon(), box->textFormat(),
               box->parentWidget() != nullptr });
        const QMessageBox::StandardButton answer = buttons.takeFirst();
        if (QAbstractButton *target = box->button(answer))
            target->click();
        else
            box->done(answer);
    });
    poller->start();
}

} // namespace

std::shared_ptr<MessageBoxRecord> answerNextMessageBox(QMessageBox::StandardButton button, int timeoutMs)
{
    auto record = std::make_shared<MessageBoxRecord>();
    answerBoxes({ button }, timeoutMs, [record](const MessageBoxRecord &seen) { *record = seen; });
    return record;
}

std::shared_ptr<QList<MessageBoxRecord>> answerMessageBoxes(QList<QMessageBox::StandardButton> buttons,
                                                            int timeoutMs)
{
    auto records = std::make_shared<QList<MessageBoxRecord>>();
    answerBoxes(buttons, timeoutMs, [records](const MessageBoxRecord &seen) { *records << seen; });
    return records;
}

void useSettingsDirectory(const QTemporaryDir &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

int openFileDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

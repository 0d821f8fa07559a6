#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringView>

// One capture of a receive area: a .txt with the text as the area shows it
// and a .bin with every received byte, under one dated stem. Both are handed
// to the system with each append, so a killed program loses at most what
// the last display pass would have added.
class CaptureFile : public QObject
{
    Q_OBJECT

public:
    explicit CaptureFile(QObject *parent = nullptr);
    ~CaptureFile() override;

    // Opens two new files in `folder` (created when needed); an existing
    // file is never opened. On failure errorFile() and errorString() say why.
    bool start(const QString &folder, const QDateTime &now);
    // Writes once per display pass; a failure stops the capture and is
    // reported by failed().
    bool append(QStringView shown, QByteArrayView raw);
    // Flushes and closes both files.
    void stop();

    bool isActive() const { return text.isOpen(); }
    bool hasText() const { return textBytes > 0; }
    QString textPath() const { return text.fileName(); }
    qint64 textSize() const { return textBytes; }
    qint64 rawSize() const { return rawBytes; }
    QString errorFile() const { return failedFile; }
    QString errorString() const { return failure; }

signals:
    void failed(const QString &file, const QString &reason);

private:
    bool fail(const QFile &file);
    bool write(QFile &file, QByteArrayView bytes, qint64 *count);

    QFile text;
    QFile raw;
    qint64 textBytes = 0;
    qint64 rawBytes = 0;
    QString failedFile;
    QString failure;
};

#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>

class QTextCursor;

// A read-only receive area. Text is appended in blocks of bounded length, so
// laying out what a chunk adds never costs more than a few KiB, however long
// a line grows. A break the area adds only for that is marked on the block
// after it and left out again of the area's text and of what is copied.
class ReceiveView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveView(QWidget *parent = nullptr);

    // Longest block the area lays out; longer runs continue in a new block.
    static constexpr qsizetype MaxBlockLength = 4096;
    // User state of a block that continues the one before it.
    static constexpr int ContinuedBlock = 1;

    // Starts a new paragraph at `end` unless the area is empty.
    void startParagraph(QTextCursor &end);
    // Inserts `text` at `end`, the end of the document.
    void appendRun(QTextCursor &end, QStringView text);

    // The text from `from` to `to` (document positions; -1 for the end) with
    // the area's own breaks joined again.
    QString joinedText(int from = 0, int to = -1) const;

    // A cut at `at` that separates neither CR from LF nor a surrogate pair.
    static qsizetype safeCut(QStringView text, qsizetype at);

protected:
    QMimeData *createMimeDataFromSelection() const override;
};

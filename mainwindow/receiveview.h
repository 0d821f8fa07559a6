#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <QTextCursor>

// A read-only receive area. A paragraph is a block; the line breaks inside
// appended text become line separators, since a block per line is what
// makes a text document slow, and a block that reaches a few KiB goes on in
// the next one, so no block grows without bound. A block that only goes on
// from the one before is marked and joined to it again in the area's text
// and in what is copied, where line separators read as line breaks.
// The area keeps the newest paragraphs within its bounds; a first line says
// when older ones were removed.
class ReceiveView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveView(QWidget *parent = nullptr);

    // Longest block the area lays out; longer runs continue in a new block.
    static constexpr qsizetype MaxBlockLength = 4096;
    // User state of a block that continues the one before it.
    static constexpr int ContinuedBlock = 1;
    // User state of the first line that says older content was removed.
    static constexpr int TrimNoticeBlock = 2;

    struct Bounds
    {
        int maxParagraphs = 100'000;
        int maxCharacters = 16 * 1024 * 1024;
    };
    void setBounds(const Bounds &bounds) { this->bounds = bounds; }
    const Bounds &displayBounds() const { return bounds; }
    // Once the area is past a bound, removes the oldest paragraphs, whole,
    // until it is an eighth below; a paragraph of which less than all must
    // go loses only its oldest blocks.
    // A view scrolled away from the end keeps showing the same lines.
    void trimToBounds();

    // Appends at the end of the area, in one edit that ends with the
    // appender. Short runs are gathered and inserted at once, since a text
    // document inserts one long text far faster than many short ones.
    class Appender
    {
    public:
        explicit Appender(ReceiveView *view);
        ~Appender();
        Appender(const Appender &) = delete;
        Appender &operator=(const Appender &) = delete;

        // Starts a new paragraph unless the area is empty.
        void startParagraph();
        // Adds `text` without starting a paragraph.
        void appendRun(QStringView text);

    private:
        void insertGathered();

        ReceiveView *view;
        QTextCursor end;
        QString gathered;
        qsizetype column;  // in the last block, what is gathered included
        bool empty;
    };

    // The text from `from` to `to` (document positions; -1 for the end) with
    // the area's own breaks joined again.
    QString joinedText(int from = 0, int to = -1) const;
    // The text of `document` from `from` to `to` with the blocks marked
    // ContinuedBlock joined to the ones before: any area that cuts long lines.
    static QString joinBlocks(const QTextDocument *document, int from, int to);

    // A cut at `at` that separates neither CR from LF nor a surrogate pair.
    static qsizetype safeCut(QStringView text, qsizetype at);
    // `text` as a record holds it once appended: each line break one LF.
    static QString recordForm(QStringView text);

    // While pinned, new text does not scroll the area to its end.
    void setPinned(bool on) { pinned = on; }
    bool isPinned() const { return pinned; }

protected:
    QMimeData *createMimeDataFromSelection() const override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    int paragraphCount() const;
    void showTrimNotice(QTextCursor &cursor);

    Bounds bounds;
    int continuedBlocks = 0;
    bool pinned = false;
};

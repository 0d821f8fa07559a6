#include "mainwindow/receiveview.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// Characters that QTextCursor::insertText turns into block breaks.
bool isBlockBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0)
        || c == QChar(0xfdd1);
}

qsizetype lastBlockBreak(QStringView text)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (isBlockBreak(text[i]))
            return i;
    }
    return -1;
}

// How far back from a full block a space is still a good place to break.
constexpr qsizetype spaceReach = 64;

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A log has nothing to undo; the undo stack would hold a copy of every chunk.
    document()->setUndoRedoEnabled(false);
}

void ReceiveView::startParagraph(QTextCursor &end)
{
    if (!document()->isEmpty())
        end.insertBlock();
}

void ReceiveView::appendRun(QTextCursor &end, QStringView text)
{
    while (!text.isEmpty()) {
        qsizetype room = MaxBlockLength - end.positionInBlock();
        if (room <= 0) {
            end.insertBlock();
            end.block().setUserState(ContinuedBlock);
            room = MaxBlockLength;
        }
        qsizetype take = text.size();
        if (take > room) {
            const QStringView piece = text.left(room);
            // After a break of its own the text starts a fresh block anyway;
            // otherwise a space near the end keeps hex pairs and words whole.
            const qsizetype lineBreak = lastBlockBreak(piece);
            const qsizetype space = piece.lastIndexOf(u' ');
            if (lineBreak >= 0)
                take = lineBreak + 1;
            else if (space > 0 && space >= room - spaceReach)
                take = space + 1;
            else
                take = room;
            take = safeCut(text, take);
        }
        end.insertText(text.left(take).toString());
        text = text.mid(take);
    }
}

qsizetype ReceiveView::safeCut(QStringView text, qsizetype at)
{
    if (at <= 0 || at >= text.size())
        return at;
    const QChar before = text[at - 1];
    const QChar after = text[at];
    const bool crlf = before == u'\r' && after == u'\n';
    const bool pair = before.isHighSurrogate() && after.isLowSurrogate();
    return crlf || pair ? at + 1 : at;
}

QString ReceiveView::joinedText(int from, int to) const
{
    const QTextDocument *doc = document();
    if (to < 0)
        to = doc->characterCount() - 1;
    QString text;
    for (QTextBlock block = doc->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int start = block.position();
        if (start > from && block.userState() != ContinuedBlock)
            text += u'\n';
        const int first = qMax(from, start) - start;
        const int last = qMin(to - start, block.length() - 1);
        text += QStringView(block.text()).mid(first, last - first);
    }
    return text;
}

QMimeData *ReceiveView::createMimeDataFromSelection() const
{
    const QTextCursor selection = textCursor();
    auto *data = new QMimeData;
    data->setText(joinedText(selection.selectionStart(), selection.selectionEnd()));
    return data;
}

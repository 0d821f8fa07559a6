#include "mainwindow/receiveview.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// Characters that QTextCursor::insertText would turn into block breaks.
bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0)
        || c == QChar(0xfdd1);
}

// `text` with each line break as a line separator, so a line costs no block
// of its own. CR LF is one break.
QString withLineSeparators(QStringView text)
{
    QString lines(text.size(), Qt::Uninitialized);
    QChar *out = lines.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        *out++ = isBreak(c) ? QChar(QChar::LineSeparator) : c;
    }
    lines.truncate(out - lines.constData());
    return lines;
}

// How far back from a full block a space is still a good place to break.
constexpr qsizetype spaceReach = 64;

// Where to end a block that `text` would overflow after `room` characters:
// after its last line, or after a space near the end, so that lines, words
// and hex pairs stay whole.
qsizetype cutWithin(QStringView text, qsizetype room)
{
    const QStringView piece = text.left(room);
    const qsizetype line = piece.lastIndexOf(QChar(QChar::LineSeparator));
    if (line >= 0)
        return line + 1;
    const qsizetype space = piece.lastIndexOf(u' ');
    if (space > 0 && space >= room - spaceReach)
        return space + 1;
    return ReceiveView::safeCut(text, room);
}

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A log has nothing to undo; the undo stack would hold a copy of every chunk.
    document()->setUndoRedoEnabled(false);
}

ReceiveView::Appender::Appender(ReceiveView *view)
    : end(view->document())
{
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    column = end.positionInBlock();
    empty = view->document()->isEmpty();
}

ReceiveView::Appender::~Appender()
{
    insertGathered();
    end.endEditBlock();
}

void ReceiveView::Appender::startParagraph()
{
    if (empty)
        return;
    gathered += QChar(QChar::ParagraphSeparator);
    column = 0;
}

void ReceiveView::Appender::insertGathered()
{
    if (gathered.isEmpty())
        return;
    // Line breaks are line separators by now, so paragraph separators are
    // the only breaks that become blocks.
    end.insertText(gathered);
    gathered.clear();
}

void ReceiveView::Appender::appendRun(QStringView text)
{
    const QString lines = withLineSeparators(text);
    if (lines.isEmpty())
        return;
    empty = false;
    if (column + lines.size() <= MaxBlockLength) {
        gathered += lines;
        column += lines.size();
        return;
    }
    insertGathered();
    QStringView rest(lines);
    bool full = end.positionInBlock() >= MaxBlockLength;
    while (!rest.isEmpty()) {
        if (full) {
            end.insertBlock();
            end.block().setUserState(ContinuedBlock);
        }
        const qsizetype room = MaxBlockLength - end.positionInBlock();
        const qsizetype take = rest.size() <= room ? rest.size() : cutWithin(rest, room);
        end.insertText(rest.left(take).toString());
        rest = rest.mid(take);
        full = true;
    }
    column = end.positionInBlock();
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
        text += block.text().mid(first, last - first).replace(QChar::LineSeparator, u'\n');
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

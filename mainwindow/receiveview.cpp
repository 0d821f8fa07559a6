#include "mainwindow/receiveview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <memory>

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

const QString trimNotice = QStringLiteral("（较早的内容已移除，这里只显示最新的部分；"
                                         "要保留全部内容，请在右键菜单中选择“开始记录”）");

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A log has nothing to undo; the undo stack would hold a copy of every chunk.
    document()->setUndoRedoEnabled(false);
}

ReceiveView::Appender::Appender(ReceiveView *view)
    : view(view)
    , end(view->document())
{
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    column = end.positionInBlock();
    empty = view->document()->isEmpty();
    if (empty)
        view->continuedBlocks = 0;
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
            ++view->continuedBlocks;
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

QString ReceiveView::recordForm(QStringView text)
{
    return withLineSeparators(text).replace(QChar::LineSeparator, u'\n');
}

int ReceiveView::paragraphCount() const
{
    return document()->blockCount() - continuedBlocks;
}

void ReceiveView::trimToBounds()
{
    QTextDocument *doc = document();
    int paragraphs = paragraphCount();
    int characters = doc->characterCount();
    if (paragraphs <= bounds.maxParagraphs && characters <= bounds.maxCharacters)
        return;

    // An eighth goes at once: trimming every pass by what it added would
    // have the document compact its whole text buffer nearly as often.
    const int keepParagraphs = bounds.maxParagraphs - bounds.maxParagraphs / 8;
    const int keepCharacters = bounds.maxCharacters - bounds.maxCharacters / 8;
    QTextBlock first = doc->firstBlock();
    if (first.userState() == TrimNoticeBlock) {
        first = first.next();
        --paragraphs;
    } else {
        characters += trimNotice.size() + 1;
    }
    if (!first.isValid())
        return;
    QTextBlock cut = first;
    int removedContinued = 0;
    while (paragraphs > keepParagraphs || characters > keepCharacters) {
        QTextBlock next = cut.next();
        int length = cut.length();
        int continued = 0;
        for (; next.isValid() && next.userState() == ContinuedBlock; next = next.next(), ++continued)
            length += next.length();
        // The last paragraph, or one of which less than all must go for
        // the characters' sake, loses only its oldest blocks.
        const bool overlong = continued > 0 && characters - length < keepCharacters;
        if (!next.isValid() || (paragraphs <= keepParagraphs && overlong))
            break;
        characters -= length;
        --paragraphs;
        removedContinued += continued;
        cut = next;
    }
    for (; characters > keepCharacters && cut.next().isValid(); cut = cut.next()) {
        characters -= cut.length();
        removedContinued += cut.userState() == ContinuedBlock;
    }
    if (cut == first)
        return;

    QScrollBar *bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const QTextBlock top = firstVisibleBlock();
    const bool topRemoved = top.position() <= cut.position();
    const int linesIntoTop = bar->value() - top.firstLineNumber();

    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.setPosition(first.position());
    cursor.setPosition(cut.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (cut.userState() == ContinuedBlock) {
        cut.setUserState(-1);
        ++removedContinued;
    }
    continuedBlocks -= removedContinued;
    showTrimNotice(cursor);
    cursor.endEditBlock();

    if (atEnd)
        bar->setValue(bar->maximum());
    else
        bar->setValue(topRemoved ? 0 : top.firstLineNumber() + linesIntoTop);
}

void ReceiveView::showTrimNotice(QTextCursor &cursor)
{
    if (document()->firstBlock().userState() == TrimNoticeBlock)
        return;
    cursor.setPosition(0);
    cursor.insertBlock();
    cursor.setPosition(0);
    cursor.insertText(trimNotice);
    document()->firstBlock().setUserState(TrimNoticeBlock);
    document()->firstBlock().next().setUserState(-1);
}

void ReceiveView::contextMenuEvent(QContextMenuEvent *event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    menu->addSeparator();
    menu->addActions(actions());
    menu->exec(event->globalPos());
}

QString ReceiveView::joinBlocks(const QTextDocument *document, int from, int to)
{
    QString text;
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() <= to;
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

QString ReceiveView::joinedText(int from, int to) const
{
    if (to < 0)
        to = document()->characterCount() - 1;
    return joinBlocks(document(), from, to).replace(QChar::LineSeparator, u'\n');
}

QMimeData *ReceiveView::createMimeDataFromSelection() const
{
    const QTextCursor selection = textCursor();
    auto *data = new QMimeData;
    data->setText(joinedText(selection.selectionStart(), selection.selectionEnd()));
    return data;
}

#include "mainwindow/sendarea.h"

#include "mainwindow/receiveview.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

SendArea::SendArea(QWidget *parent) : QPlainTextEdit(parent)
{
}

namespace {

// `text` with a paragraph separator wherever a line would overflow a block
// that starts `column` characters in, and the numbers of the blocks those
// cuts begin, counted from the first.
struct CutText
{
    QString text;
    QList<int> continued;
};

CutText cutLongLines(QString text, qsizetype column)
{
    // Every break the document would make, as one kind, so blocks are counted right.
    const auto otherBreak = [](QChar c) {
        return c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0) || c == QChar(0xfdd1);
    };
    if (std::any_of(text.cbegin(), text.cend(), otherBreak)) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        std::replace_if(text.begin(), text.end(), otherBreak, QChar(u'\n'));
    }
    CutText cut;
    cut.text.reserve(text.size() + text.size() / ReceiveView::MaxBlockLength + 1);
    int block = 0;
    QStringView rest(text);
    while (!rest.isEmpty()) {
        const qsizetype lineEnd = rest.indexOf(u'\n');
        QStringView line = lineEnd < 0 ? rest : rest.left(lineEnd + 1);
        rest = rest.mid(line.size());
        while (column + line.size() > ReceiveView::MaxBlockLength + (lineEnd < 0 ? 0 : 1)) {
            const qsizetype take = ReceiveView::safeCut(line, qMax<qsizetype>(0, ReceiveView::MaxBlockLength - column));
            cut.text += line.left(take);
            cut.text += QChar(QChar::ParagraphSeparator);
            line = line.mid(take);
            cut.continued << ++block;
            column = 0;
        }
        cut.text += line;
        column = lineEnd < 0 ? column + line.size() : 0;
        block += lineEnd < 0 ? 0 : 1;
    }
    return cut;
}

} // namespace

QString SendArea::toPlainText() const
{
    return ReceiveView::joinBlocks(document(), 0, document()->characterCount() - 1);
}

void SendArea::setPlainText(const QString &text)
{
    const CutText cut = cutLongLines(text, 0);
    QPlainTextEdit::setPlainText(cut.text);
    mark(0, cut.continued);
}

void SendArea::mark(int firstBlock, const QList<int> &continued)
{
    for (int offset : continued)
        document()->findBlockByNumber(firstBlock + offset).setUserState(ReceiveView::ContinuedBlock);
}

QMimeData *SendArea::createMimeDataFromSelection() const
{
    const QTextCursor selection = textCursor();
    auto *data = new QMimeData;
    data->setText(ReceiveView::joinBlocks(document(), selection.selectionStart(), selection.selectionEnd()));
    return data;
}

void SendArea::insertFromMimeData(const QMimeData *source)
{
    if (!source->hasText())
        return;
    QTextCursor cursor = textCursor();
    // The marks are no part of the undo history: a redone long line would
    // come back with its cuts as line breaks, so it cannot be undone.
    const CutText cut = cutLongLines(source->text(), cursor.positionInBlock());
    const bool undoable = cut.continued.isEmpty();
    if (!undoable)
        document()->setUndoRedoEnabled(false);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const int firstBlock = cursor.blockNumber();
    cursor.insertText(cut.text);
    mark(firstBlock, cut.continued);
    cursor.endEditBlock();
    document()->setUndoRedoEnabled(true);
    setTextCursor(cursor);
    ensureCursorVisible();
}

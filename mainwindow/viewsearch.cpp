#include "mainwindow/viewsearch.h"

#include "mainwindow/receiveview.h"

#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace {

constexpr qsizetype windowChars = 64 * 1024;
// Windows overlap by this much, so a match that a window's end cuts is found
// in the next one; white space longer than this between hex pairs is not bridged.
constexpr qsizetype overlap = 256;
// A slice gives way after this long, well inside a display pass's target.
constexpr qint64 sliceNs = 4'000'000;

} // namespace

ViewSearch::ViewSearch(ReceiveView *view)
    : QObject(view)
    , view(view)
{
    stepTimer.setSingleShot(true);
    stepTimer.setInterval(0);
    connect(&stepTimer, &QTimer::timeout, this, &ViewSearch::step);
    connect(view->document(), &QTextDocument::contentsChange, this, &ViewSearch::contentsChange);
}

void ViewSearch::setQuery(const QString &text, bool caseSensitive)
{
    static const QRegularExpression spacedPairs(QStringLiteral("^[0-9a-fA-F]{2}(\\s+[0-9a-fA-F]{2})+$"));
    const QString needle = text.trimmed();
    QString expression;
    if (spacedPairs.match(needle).hasMatch())
        expression = needle.split(u' ', Qt::SkipEmptyParts).join(QLatin1String("\\s*"));
    else if (!text.isEmpty())
        expression = QRegularExpression::escape(text);
    pattern.setPattern(expression);
    pattern.setPatternOptions(caseSensitive ? QRegularExpression::NoPatternOption
                                            : QRegularExpression::CaseInsensitiveOption);
    restart();
}

int ViewSearch::firstEndingAfter(int position) const
{
    return int(std::partition_point(found.begin(), found.end(), [position](const Match &m) { return m.end <= position; })
               - found.begin());
}

bool ViewSearch::caughtUp() const
{
    return !stale && scannedTo >= view->document()->characterCount() - 1;
}

void ViewSearch::restart()
{
    found.clear();
    currentIndex = -1;
    scanFrom = scannedTo = 0;
    stale = false;
    stepTimer.stop();
    if (!pattern.pattern().isEmpty())
        stepTimer.start();
    emit changed();
}

// Matches after a change move with the text; those it touches go.
void ViewSearch::contentsChange(int position, int removed, int added)
{
    if (pattern.pattern().isEmpty())
        return;
    const int changeEnd = position + removed;
    const auto touched = found.begin() + firstEndingAfter(position);
    const auto after = std::partition_point(touched, found.end(), [changeEnd](const Match &m) {
        return m.start < changeEnd;
    });
    for (auto it = after; it != found.end(); ++it) {
        it->start += added - removed;
        it->end += added - removed;
    }
    const int lostFrom = int(touched - found.begin());
    const int lost = int(after - touched);
    found.erase(touched, after);
    if (currentIndex >= lostFrom + lost)
        currentIndex -= lost;
    else if (currentIndex >= lostFrom)
        currentIndex = -1;

    if (position == 0 && added == 0) {
        // The oldest text left, or all of it.
        scanFrom = qMax(0, scanFrom - removed);
        scannedTo = qMax(0, scannedTo - removed);
    } else if (position < scannedTo) {
        stale = true;
    }
    if (!stepTimer.isActive())
        stepTimer.start();
}

void ViewSearch::step()
{
    if (pattern.pattern().isEmpty())
        return;
    const int end = view->document()->characterCount() - 1;
    if (stale || scannedTo > end) {
        found.clear();
        currentIndex = -1;
        scanFrom = scannedTo = 0;
        stale = false;
    }
    QElapsedTimer clock;
    clock.start();
    while (scannedTo < end && clock.nsecsElapsed() < sliceNs)
        scanWindow();
    if (scannedTo < end)
        stepTimer.start();
    emit changed();
}

// Searches the joined text of the blocks from scanFrom on, a window at a time.
void ViewSearch::scanWindow()
{
    const int from = scanFrom;
    QString text;
    QList<qsizetype> joins;  // where a break that only bounds a block was left out
    QTextBlock block = view->document()->findBlock(from);
    int windowEnd = from;
    for (; block.isValid() && text.size() < windowChars; block = block.next()) {
        const int start = block.position();
        if (start > from) {
            if (block.userState() == ReceiveView::ContinuedBlock)
                joins << text.size();
            else
                text += u'\n';
        }
        const QString content = block.text();
        text += QStringView(content).mid(qMax(from, start) - start);
        windowEnd = start + int(content.size());
    }
    text.replace(QChar::LineSeparator, u'\n');
    const bool atEnd = !block.isValid();

    // A match's end that meets a join stays before the left-out break.
    const auto position = [&](qsizetype at, bool isEnd) {
        const auto skipped = isEnd ? std::lower_bound(joins.begin(), joins.end(), at)
                                   : std::upper_bound(joins.begin(), joins.end(), at);
        return from + int(at + (skipped - joins.begin()));
    };
    // Short of the area's end, a match that may go on in the next window is left to it.
    const qsizetype limit = atEnd ? text.size() + 1 : text.size() - overlap;
    int lastEnd = from;
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedStart() >= limit)
            break;
        found.append({ position(match.capturedStart(), false), position(match.capturedEnd(), true) });
        lastEnd = found.constLast().end;
    }
    scanFrom = qMax(position(qMax<qsizetype>(0, text.size() - overlap), false), lastEnd);
    scannedTo = windowEnd;
}

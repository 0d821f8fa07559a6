#pragma once

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QTimer>

class ReceiveView;

// Every match of a text in a receive area, found in the area's joined text
// (the breaks that only bound its blocks are not there, so a match may
// span them). The matches stay true while text arrives at the end and the
// oldest leaves at the top. The search goes in short slices, so a long area
// never holds up a display pass.
class ViewSearch : public QObject
{
    Q_OBJECT

public:
    // A match in document positions.
    struct Match
    {
        int start;
        int end;
    };

    explicit ViewSearch(ReceiveView *view);

    // An empty text matches nothing. Spaced hex pairs such as "0d 0a" also
    // match with other white space or none between the pairs, as hex display
    // shows bytes that arrived in different chunks.
    void setQuery(const QString &text, bool caseSensitive);
    const QList<Match> &matches() const { return found; }
    // The index of the current match; -1 for none, or when it left the area.
    int current() const { return currentIndex; }
    void setCurrent(int index) { currentIndex = index; }
    // The first match that ends after `position`; matches().size() for none.
    int firstEndingAfter(int position) const;
    // Whether the whole area has been searched.
    bool caughtUp() const;

signals:
    // After each slice of the search: matches may have been found or lost.
    void changed();

private:
    void contentsChange(int position, int removed, int added);
    void restart();
    void step();
    void scanWindow();

    ReceiveView *view;
    QRegularExpression pattern;
    QList<Match> found;
    int currentIndex = -1;
    int scanFrom = 0;   // where the next window starts
    int scannedTo = 0;  // how far the area has been searched
    bool stale = false; // text changed inside what was searched
    QTimer stepTimer;
};

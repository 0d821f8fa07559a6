#include "mainwindow/findbar.h"

#include "mainwindow/receiveview.h"
#include "mainwindow/viewsearch.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

namespace {

// Marks beyond this many on screen would only cost time.
constexpr qsizetype maxMarks = 500;

QBoxLayout *layoutHolding(QLayout *layout, QWidget *widget)
{
    if (!layout)
        return nullptr;
    auto *box = qobject_cast<QBoxLayout *>(layout);
    if (box && box->indexOf(widget) >= 0)
        return box;
    for (int i = 0; i < layout->count(); ++i) {
        if (QBoxLayout *inner = layoutHolding(layout->itemAt(i)->layout(), widget))
            return inner;
    }
    return nullptr;
}

QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *made = new QPushButton(text, parent);
    made->setObjectName(QLatin1String(name));
    made->setFocusPolicy(Qt::TabFocus);
    return made;
}

} // namespace

FindBar::FindBar(ReceiveView *view)
    : QWidget(view->parentWidget())
    , view(view)
    , finder(new ViewSearch(view))
    , text(new QLineEdit(this))
    , caseSensitive(new QCheckBox(QStringLiteral("区分大小写"), this))
    , count(new QLabel(this))
{
    setObjectName(QStringLiteral("FindBar"));
    text->setObjectName(QStringLiteral("FindText"));
    text->setPlaceholderText(QStringLiteral("查找"));
    text->setClearButtonEnabled(true);
    caseSensitive->setObjectName(QStringLiteral("FindCaseSensitive"));
    count->setObjectName(QStringLiteral("FindCount"));
    QPushButton *previous = button(QStringLiteral("上一个"), "FindPrevious", this);
    QPushButton *next = button(QStringLiteral("下一个"), "FindNext", this);
    QPushButton *close = button(QStringLiteral("关闭"), "FindClose", this);

    // Two rows, as the receive areas are narrow; smaller than the page's own buttons.
    setStyleSheet(QStringLiteral("QPushButton { padding: 3px 8px; font-size: 12px; } QLineEdit { padding: 2px; }"));
    auto *top = new QHBoxLayout;
    top->addWidget(text, 1);
    top->addWidget(count);
    top->addWidget(close);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(previous);
    bottom->addWidget(next);
    bottom->addWidget(caseSensitive);
    bottom->addStretch();
    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->addLayout(top);
    rows->addLayout(bottom);

    hide();
    if (QBoxLayout *holder = layoutHolding(view->parentWidget()->layout(), view))
        holder->insertWidget(holder->indexOf(view) + 1, this);

    auto *find = new QAction(QStringLiteral("查找…"), view);
    find->setObjectName(QStringLiteral("ActFind"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QAction::triggered, this, &FindBar::open);
    view->addAction(find);

    connect(text, &QLineEdit::textChanged, this, &FindBar::search);
    connect(caseSensitive, &QCheckBox::toggled, this, &FindBar::search);
    connect(text, &QLineEdit::returnPressed, this, [this] {
        if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
            findPrevious();
        else
            findNext();
    });
    connect(previous, &QPushButton::clicked, this, &FindBar::findPrevious);
    connect(next, &QPushButton::clicked, this, &FindBar::findNext);
    connect(close, &QPushButton::clicked, this, &FindBar::dismiss);
    connect(finder, &ViewSearch::changed, this, &FindBar::searchChanged);
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, &FindBar::markVisible);
    view->installEventFilter(this);
}

void FindBar::open()
{
    show();
    text->setFocus();
    text->selectAll();
    if (!text->text().isEmpty())
        search();
}

// Escape ends the search here; it is not the window's quit key then.
void FindBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Escape in the area, too, ends the search while the bar is shown.
bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view && event->type() == QEvent::KeyPress && isVisible()
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::dismiss()
{
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    finder->setQuery(QString(), false);
    view->setPinned(false);
    view->setExtraSelections({});
    if (hadFocus)
        view->setFocus();
}

void FindBar::search()
{
    anchor = firstVisiblePosition();
    choosing = true;
    view->setPinned(false);
    finder->setQuery(text->text(), caseSensitive->isChecked());
}

// The first match at or after the top of the view becomes current once
// found, or the first of all once the whole area has been searched.
void FindBar::searchChanged()
{
    if (!isVisible())
        return;
    const auto &matches = finder->matches();
    if (choosing && !matches.isEmpty()) {
        const int next = finder->firstEndingAfter(anchor);
        if (next < matches.size() && matches[next].start >= anchor)
            go(next);
        else if (finder->caughtUp())
            go(next < matches.size() ? next : 0);
    }
    if (finder->current() < 0)
        view->setPinned(false);
    showCount();
    markVisible();
}

void FindBar::findNext()
{
    const qsizetype total = finder->matches().size();
    if (total == 0)
        return;
    const int current = finder->current();
    go(current < 0 ? finder->firstEndingAfter(firstVisiblePosition()) % int(total) : int((current + 1) % total));
}

void FindBar::findPrevious()
{
    const qsizetype total = finder->matches().size();
    if (total == 0)
        return;
    const int current = finder->current();
    const int from = current < 0 ? finder->firstEndingAfter(firstVisiblePosition()) : current;
    go(int((from - 1 + total) % total));
}

void FindBar::go(int index)
{
    choosing = false;
    finder->setCurrent(index);
    const ViewSearch::Match match = finder->matches().at(index);
    QTextCursor cursor(view->document());
    cursor.setPosition(match.start);
    cursor.setPosition(match.end, QTextCursor::KeepAnchor);
    view->setTextCursor(cursor);
    if (!view->viewport()->rect().contains(view->cursorRect()))
        view->centerCursor();
    // New data must not scroll the match away.
    view->setPinned(true);
    showCount();
    markVisible();
}

void FindBar::showCount()
{
    count->setText(text->text().isEmpty()
                       ? QString()
                       : QStringLiteral("%1 / %2").arg(finder->current() + 1).arg(finder->matches().size()));
}

int FindBar::firstVisiblePosition() const
{
    return view->cursorForPosition(QPoint(0, 0)).position();
}

// Extra selections for the matches on screen only: there may be millions.
void FindBar::markVisible()
{
    if (!isVisible())
        return;
    const int top = firstVisiblePosition();
    const QRect area = view->viewport()->rect();
    const int bottom = view->cursorForPosition(area.bottomRight()).position();
    const auto &matches = finder->matches();
    QList<QTextEdit::ExtraSelection> marks;
    for (int i = finder->firstEndingAfter(top); i < matches.size() && matches[i].start <= bottom
         && marks.size() < maxMarks; ++i) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(view->document());
        mark.cursor.setPosition(matches[i].start);
        mark.cursor.setPosition(matches[i].end, QTextCursor::KeepAnchor);
        mark.format.setBackground(i == finder->current() ? QColor(255, 150, 50) : QColor(255, 235, 120));
        marks << mark;
    }
    view->setExtraSelections(marks);
}

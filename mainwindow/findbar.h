#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class ReceiveView;
class ViewSearch;

// A find bar under a receive area, opened by Ctrl+F or "查找…" in the area's
// menu. It marks every match on screen, selects the current one and keeps it
// in view while data goes on arriving. Escape or its close button hides it.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    // Placed under `view` in the view's layout, hidden.
    explicit FindBar(ReceiveView *view);

    void open();
    void findNext();
    void findPrevious();
    // Hides the bar and ends the search.
    void dismiss();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void search();
    void searchChanged();
    void go(int index);
    void showCount();
    void markVisible();
    int firstVisiblePosition() const;

    ReceiveView *view;
    ViewSearch *finder;
    QLineEdit *text;
    QCheckBox *caseSensitive;
    QLabel *count;
    // Where a new search looks for its first match: the top of the view then.
    int anchor = 0;
    bool choosing = false;
};

#pragma once

#include <QPlainTextEdit>
#include <QString>

// A send area that stays responsive with a line of many MiB: a text
// document lays out a block as a whole, so a long line is kept in blocks of
// bounded length, as in a receive area. A block that only goes on from the one before is marked,
// and the area's text joins it again, in what is sent and what is copied.
class SendArea : public QPlainTextEdit
{
    Q_OBJECT
    // Hides QPlainTextEdit's own, whose text would show the area's breaks.
    Q_PROPERTY(QString plainText READ toPlainText WRITE setPlainText USER true)

public:
    explicit SendArea(QWidget *parent = nullptr);

    QString toPlainText() const;
    void setPlainText(const QString &text);

protected:
    QMimeData *createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    // Marks the blocks that continue the one before, numbered from `firstBlock`.
    void mark(int firstBlock, const QList<int> &continued);
};

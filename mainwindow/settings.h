#pragma once

#include "mainwindow/linkstate.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

namespace Ui { class MainWindow; }
class QSettings;
class SerialPage;

// The user's choices in the per-user settings store: read once when the
// window is built, written when it goes, emptied by the reset. One ordered
// table of entries; keys are written and read in its order.
class Settings
{
public:
    // One stored value: its key, what an absent key reads as (also what the
    // reset puts back), and how the window gives and takes it.
    struct Entry
    {
        QString key;
        QVariant defaultValue;
        std::function<QVariant()> read;
        std::function<void(const QVariant &)> apply;
        bool resettable = true;  // false: the reset leaves the control as it is
    };

    // The mode is the window's own state, not a widget's.
    struct ModeAccess
    {
        std::function<Mode()> current;
        std::function<void(Mode)> select;
    };

    Settings(Ui::MainWindow *ui, SerialPage *serialPage, ModeAccess mode);

    // Appends an entry after the ones already there.
    void add(Entry entry);

    // Keys of a shape of their own, such as a list: loaded and saved after
    // the table, and written back by the reset, which must not lose them.
    struct Kept
    {
        std::function<void(QSettings &)> load;
        std::function<void(QSettings &)> save;
    };
    void keep(Kept part);

    void load() const;
    void save() const;
    // Empties the store and puts every resettable control back to its default.
    void reset() const;

private:
    std::vector<Entry> entries;
    std::vector<Kept> kept;
};

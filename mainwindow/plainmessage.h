#pragma once

class QString;
class QWidget;

// Modal boxes whose text may hold what the user typed (addresses, ports,
// paths), so it is shown literally and never taken for markup.
namespace PlainMessage {

void warning(QWidget *parent, const QString &title, const QString &text);
void information(QWidget *parent, const QString &title, const QString &text);

} // namespace PlainMessage

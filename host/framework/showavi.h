#pragma once
// The progress window shown while a blocking call runs. There is at most one: showing it again
// only changes its text, and closing it when none is open does nothing.
#include <QString>

class QWidget;

// Shows the progress window over the screen (its window is the parent; nullptr: the active
// window). kind chooses the default text: 0 "Aguarde...", 1 "Processando...", 6 "Gerando
// relatório..." (others: "Aguarde..."); a non-empty text replaces it. The window is painted before
// this returns, since the call that follows blocks the event loop.
void ActiveShowAvi(QWidget *screen, int kind, const QString &text = QString());

// Closes the progress window; harmless when it is already closed. The screen argument is accepted
// for symmetry with ActiveShowAvi.
void DeactiveShowAvi(QWidget *screen = nullptr);

namespace fis {

// Keeps the progress window open across the calls of one pass over many rows, each of which
// shows and closes it: while a hold lives, closing the window only clears its text (it reads as
// closed), and showing it again with the same text paints nothing new. The window closes when
// the last hold ends, if nothing showed it again since. Holds nest.
class ProgressHold
{
public:
    ProgressHold();
    ~ProgressHold();
    ProgressHold(const ProgressHold &) = delete;
    ProgressHold &operator=(const ProgressHold &) = delete;
};

// The open progress window, or nullptr (for tests and for the host's own checks); one closed
// inside a hold reads as closed.
QWidget *progressWindow();
// The text the open progress window shows (empty when none is open); may be read from any
// thread.
QString progressText();
// Default text of a kind.
QString progressKindText(int kind);

} // namespace fis

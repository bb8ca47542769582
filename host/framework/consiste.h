#pragma once
// Validation and conversion helpers shared by every screen.
#include "data/variant.h"
#include "widgets/maskedit.h"

#include <QDate>
#include <QString>

class QWidget;

namespace fis {
class DBGrid;
class Field;
} // namespace fis

class Consiste
{
public:
    // The edit text of an empty date under DateMask(): two blanks, "/", two blanks, "/", four
    // blanks.
    static inline const QString kEmptyDateText = fis::kEmptyDateText;

    // Shows text as an error to the clerk and abandons the whole user action silently (throws
    // fis::EAbort, which the error guard swallows). Never returns; the flag only mirrors the
    // callers' habit of asking for the abort explicitly.
    [[noreturn]] static void MensErro(const QString &text, bool abort = true);

    // True when the text is empty or holds only blanks.
    static bool EmptyString(const QString &text);

    // Normalises a code text to the width: blanks around it are dropped and a code made only of
    // digits is left-padded with zeros ("1" -> "01" for width 2). Anything else is only trimmed:
    // an empty text stays empty, a code with other characters is not padded, and a code longer
    // than the width is kept whole (cutting it would turn a wrong code into another code); the
    // lookup that follows then refuses it.
    static QString Ajusta(const QString &text, int width);

    // The registration type of a registration number, comparable with IDTPIJURFORN: "J" for a
    // CNPJ (14 digits), "F" for a CPF (11 digits), counting digits only (punctuation such as
    // "12.345.678/0001-90" is ignored). Any other number has no type: the answer is empty, which
    // matches no registered supplier.
    static QString Ajusta_Inscricao(const QString &registration);

    // Examines the answer of a remote call. A data packet (a null packet included) is returned.
    // An array answer is judged by its item 'item' (ignored for other answers). Anything else is a
    // failure: a text is the server's error message (an empty one gets a text of its own); no
    // answer at all, a number or a date is an unusable answer, never a success. With showError true
    // the failure is shown as an error and the action abandoned (see MensErro); with false it is
    // still shown, but the caller goes on with a null packet.
    static fis::DataPacket CheckResultServ(const fis::Variant &result, bool showError = true,
                                           int item = 0);
    // The failure text of an answer, empty when the answer is a usable packet.
    static QString resultError(const fis::Variant &result, int item = 0);

    // The edit mask of a date, in the host's mask notation (see widgets/maskedit.h): dd/MM/yyyy
    // with the literals kept; an untouched date reads back as kEmptyDateText.
    static QString DateMask();

    // Stores a typed date in the field (a date-time field of a set in Edit or Insert state): the
    // empty text or the empty edit text stores null, a valid text (see parseDate) its date. Any
    // other text is refused with "Data inválida: <text>" through MensErro, leaving the field as
    // it was.
    static void DateSetText(fis::Field *field, const QString &text);

    // Reads a typed date: "dd/MM/yyyy" (one or two digits for day and month, blanks around the
    // parts ignored). An empty text or the empty edit text gives the null date and *ok true; any
    // other text that is not a real calendar date gives *ok false.
    static fis::TDateTime parseDate(const QString &text, bool *ok);

    // Rounds half away from zero to the number of decimal places, working on the value's shortest
    // decimal form so that representation noise does not decide (RoundDec(1.005, 2) = 1.01).
    // places may be negative (tens, hundreds...). NaN and infinities come back unchanged.
    static double RoundDec(double value, int places);

    // Index of the grid column bound to the field (name compared without regard to case); -1 when
    // no column shows it or there is no grid.
    static int IndiceCol(const fis::DBGrid *grid, const QString &fieldName);

    // First day of the month of the date (the null date stays null).
    static fis::TDateTime PriDiaMes(fis::TDateTime date);
    static QDate PriDiaMes(const QDate &date);

    // Enables or disables every control placed directly in the container (their own children
    // follow them, as Qt does); the container itself is not touched.
    static void SetChildEnabled(QWidget *container, bool enabled);
};

// Ticking the documents of the main grid: the toggle of one row (cell click or a character typed
// in the tick column), select all or none (title click), the key gate of the grid and, in the
// entries view with the payable grouped by supplier, the side set cdsForneAux with the running
// sums of the selection.
//
// The side set and the running sums only change once the ticked or unticked row itself is stored:
// a row whose post is refused (for instance an unknown revenue code) leaves the selection as it
// was. A row that is stored but whose write-back to the server fails is stored all the same: the
// selection follows it, and the failure (already shown) then ends the action.
#include "emission/Cli_fis02900.h"
#include "emission/displayupdates.h"

#include <QApplication>

#include <exception>

using fis::Bookmark;
using fis::ClientDataSet;
using fis::DataSetState;

namespace {

const QString kIdCheck = QStringLiteral("IDCHECK");
const QString kTicked = QStringLiteral("C");
const QString kUnticked = QStringLiteral("U");
const QString kCodRece = QStringLiteral("CDRECEGUIA");
const QString kVencimento = QStringLiteral("VENCIMENTO");

QString text(const ClientDataSet *set, const char *field)
{
    return set->fieldByName(QString::fromLatin1(field))->asString();
}

double number(const ClientDataSet *set, const char *field)
{
    return set->fieldByName(QString::fromLatin1(field))->asFloat();
}

fis::TDateTime date(const ClientDataSet *set, const char *field)
{
    return set->fieldByName(QString::fromLatin1(field))->asDateTime();
}

bool hasRows(const ClientDataSet *set)
{
    return set->active() && set->recordCount() > 0;
}

bool isTickField(const QString &name)
{
    return name.compare(kIdCheck, Qt::CaseInsensitive) == 0;
}

// Stores the row being edited: always (post), or only when changed (an unchanged edit is then
// dropped). A refused post drops the edit and propagates. A row stored whose write-back failed
// gives the failure back instead, for the caller to pass on once it has followed the row.
std::exception_ptr storeRow(ClientDataSet *set, bool onlyChanged)
{
    try {
        if (onlyChanged)
            set->checkBrowseMode();
        else
            set->post();
    } catch (...) {
        if (set->state() == DataSetState::Browse)
            return std::current_exception();
        set->cancel();
        throw;
    }
    return nullptr;
}

// The invoice number that the grouped set delivers at the end of the supplier's name, after ": ".
QString invoiceOfName(const QString &name)
{
    return name.mid(name.indexOf(QLatin1Char(':')) + 2);
}

} // namespace

ClientDataSet *TfrmEmiPrevSocial::selectionSet() const
{
    if (stOperacao == QLatin1String("S"))
        return cdsAprov;
    if (stOperacao == QLatin1String("E"))
        return cdsAprovAgrup;
    return nullptr;
}

bool TfrmEmiPrevSocial::groupedPayable() const
{
    return text(cdsParamFiscal, "IDGERCONPAGGUIA") == QLatin1String("S");
}

void TfrmEmiPrevSocial::dbgPadraoCellClick(fis::GridColumn *)
{
    toggleSelection(true);
}

void TfrmEmiPrevSocial::dbgPadraoKeyPress(QChar &key)
{
    filterTypedKey(key);
    // Any character typed in the tick column toggles, whichever it is and whatever the key
    // filters did with it.
    toggleSelection(false);
}

void TfrmEmiPrevSocial::dbgPadraoKeyDown(quint16 &key, Qt::KeyboardModifiers)
{
    enum : quint16 { Backspace = 8, Tab = 9, Left = 37, Right = 39, Up = 38, Down = 40, Del = 46 };
    const bool hasGuide =
        !text(cdsAprovAgrup, "IDSTATUSGUIA").isEmpty() || !text(cdsAprov, "IDSTATUSGUIA").isEmpty();
    if (hasGuide && (key == Del || key == Backspace)) {
        key = 0;
        if (ClientDataSet *set = dbgPadrao->dataSet(); set && set->active())
            set->cancel();
        return;
    }
    switch (key) {
    case Backspace:
    case Tab:
    case Left:
    case Up:
    case Right:
    case Down:
    case Del:
        return;
    default:
        key = 0;
    }
}

void TfrmEmiPrevSocial::refuseSelection(ClientDataSet *set, const Bookmark &remembered,
                                        const QString &focusField, const QString &messageKey,
                                        bool keepUnticked)
{
    // Storing the row unticked can fail too (an unknown revenue code, a refused write-back): the
    // row then stays as it was stored, and that failure follows the refusal's message.
    std::exception_ptr storeFailure;
    if (keepUnticked) {
        set->fieldByName(kIdCheck)->setAsString(kUnticked);
        try {
            storeFailure = storeRow(set, true);
        } catch (...) {
            storeFailure = std::current_exception();
        }
    } else if (set->state() != DataSetState::Browse) {
        set->cancel();
    }
    if (cdsForneAux->state() == DataSetState::Insert || cdsForneAux->state() == DataSetState::Edit)
        cdsForneAux->cancel();
    if (set->bookmarkValid(remembered))
        set->gotoBookmark(remembered);
    if (!focusField.isEmpty() && dbgPadrao->setSelectedField(focusField))
        dbgPadrao->setFocus();
    const QString refusal = msgPadrao->Msg(messageKey);
    if (storeFailure) {
        fis::HostUi::instance()->message(fis::MessageKind::Error, refusal,
                                         QApplication::activeWindow());
        std::rethrow_exception(storeFailure);
    }
    Consiste::MensErro(refusal, true);
}

void TfrmEmiPrevSocial::takeSelectionReferences()
{
    stStatusSel = text(cdsAprovAgrup, "IDSTATUSGUIA");
    stInscForne = text(cdsAprovAgrup, "NRINSJURNF");
    dtVencGuia = date(cdsAprovAgrup, "VENCIMENTO");
    stCodReceSel = text(cdsAprovAgrup, "CDRECEGUIA");
}

void TfrmEmiPrevSocial::clearSelectionReferences()
{
    stInscForne.clear();
    dtVencGuia = fis::TDateTime();
    stStatusSel.clear();
    stCodReceSel.clear();
    vrMultaGuia = 0;
    vrOutrEntGuia = 0;
}

void TfrmEmiPrevSocial::discardSelection()
{
    vrTotalGuia = 0;
    clearSelectionReferences();
}

void TfrmEmiPrevSocial::addSideRecord()
{
    const double tax = number(cdsAprovAgrup, "VRTOTIMPONF");
    const double fine = number(cdsAprovAgrup, "VRMULTAGUIA");
    const double others = number(cdsAprovAgrup, "VROUTRENTGUIA");
    const double total = vrTotalGuia, fines = vrMultaGuia, othersSum = vrOutrEntGuia;

    if (cdsForneAux->state() != DataSetState::Insert)
        cdsForneAux->append();
    try {
        vrTotalGuia += tax + fine + others;
        vrMultaGuia += fine;
        vrOutrEntGuia += others;

        const QString registration = text(cdsAprovAgrup, "NRINSJURNF");
        const QString name = text(cdsAprovAgrup, "NMRAZSOCFORN");
        fis::Field *invoice = cdsForneAux->fieldByName(QStringLiteral("NRNOTAFISC"));
        cdsForneAux->fieldByName(QStringLiteral("NRINSJURNF"))->setAsString(registration);
        cdsForneAux->fieldByName(QStringLiteral("VRTOTIMPONF"))->setAsFloat(tax);
        cdsForneAux->fieldByName(kCodRece)->setAsString(text(cdsAprovAgrup, "CDRECEGUIA"));
        cdsForneAux->fieldByName(kVencimento)->setAsDateTime(date(cdsAprovAgrup, "VENCIMENTO"));
        cdsForneAux->fieldByName(QStringLiteral("VRMULTAGUIA"))->setAsFloat(vrMultaGuia);
        cdsForneAux->fieldByName(QStringLiteral("VROUTRENTGUIA"))->setAsFloat(vrOutrEntGuia);
        cdsForneAux->fieldByName(QStringLiteral("CDFILIAL"))
            ->setAsString(text(cdsAprovAgrup, "CDFILIAL"));
        cdsForneAux->fieldByName(QStringLiteral("NRLANCTONF"))
            ->setAsString(text(cdsAprovAgrup, "NRLANCTONF"));
        // A name without the invoice after ": " would not fit the invoice field whole.
        invoice->setAsString(invoiceOfName(name).left(invoice->size()));
        cdsForneAux->fieldByName(QStringLiteral("NMRAZSOCFORN"))
            ->setAsString(registration + QStringLiteral(" - ") + name);
        cdsForneAux->post();
    } catch (...) {
        cdsForneAux->cancel();
        vrTotalGuia = total;
        vrMultaGuia = fines;
        vrOutrEntGuia = othersSum;
        throw;
    }
    stInscForne = text(cdsForneAux, "NRINSJURNF");
    stCodReceSel = text(cdsForneAux, "CDRECEGUIA");
    dtVencGuia = date(cdsForneAux, "VENCIMENTO");
}

bool TfrmEmiPrevSocial::removeSideRecord(fis::LocateOptions options)
{
    if (!cdsForneAux->active())
        return false;
    const QString registration = text(cdsAprovAgrup, "NRINSJURNF");
    if (!cdsForneAux->locate(QStringLiteral("CDFILIAL;NRLANCTONF"),
                             {fis::Variant(text(cdsAprovAgrup, "CDFILIAL")),
                              fis::Variant(text(cdsAprovAgrup, "NRLANCTONF"))},
                             options) ||
        text(cdsForneAux, "NRINSJURNF") != registration)
        return false;

    const auto cents = [](double v) { return Consiste::RoundDec(v, 2); };
    const double fine = number(cdsAprovAgrup, "VRMULTAGUIA");
    const double others = number(cdsAprovAgrup, "VROUTRENTGUIA");
    // The difference is rounded again: the row's share of the total must bring it back to
    // exactly zero when it was the last one, whatever the binary noise of the additions.
    const double total = cents(cents(vrTotalGuia) - cents(number(cdsAprovAgrup, "VRTOTIMPONF")) -
                               cents(fine) - cents(others));
    cdsForneAux->deleteRecord();
    vrTotalGuia = total;
    // The running sums are the sums over the rows still ticked: the unticked row leaves them.
    vrMultaGuia = cents(vrMultaGuia - fine);
    vrOutrEntGuia = cents(vrOutrEntGuia - others);
    return true;
}

void TfrmEmiPrevSocial::toggleSelection(bool byClick)
{
    ClientDataSet *set = selectionSet();
    if (!set || !hasRows(set) || set->state() != DataSetState::Browse)
        return;
    const fis::Field *selected = dbgPadrao->selectedField();
    if (!selected || !isTickField(selected->fieldName()))
        return;

    const Bookmark remembered = set->bookmark();
    DisplayUpdatesOff suspended(set);
    fis::Field *check = set->fieldByName(kIdCheck);
    const auto flip = [&] {
        check->setAsString(check->asString() == kUnticked ? kTicked : kUnticked);
    };
    std::exception_ptr notWrittenBack;
    const auto postRow = [&] {
        if (std::exception_ptr failure = storeRow(set, false))
            notWrittenBack = failure;
    };
    const auto refuse = [&](const QString &field, const char *key) {
        suspended.release();
        refuseSelection(set, remembered, field, QString::fromLatin1(key), true);
    };
    fis::GridColumn *codReceColumn = dbgPadrao->findColumn(kCodRece);

    try {
        set->edit();
        if (set == cdsAprov) {
            if (Consiste::EmptyString(text(set, "CDRECEGUIA")))
                refuse(kCodRece, "cod_rece");
            flip();
            postRow();
        } else {
            flip();
            const bool grouped = groupedPayable();
            if (grouped && check->asString() == kTicked) {
                if (!cdsForneAux->active())
                    cdsForneAux->createDataSet();
                if (Consiste::EmptyString(text(set, "CDRECEGUIA")))
                    refuse(kCodRece, "cod_rece");
                if (date(set, "VENCIMENTO").isNull())
                    refuse(kVencimento, "Inf_DT");
                if (cdsForneAux->isEmpty()) {
                    if (stStatusSel.isEmpty())
                        stStatusSel = text(set, "IDSTATUSGUIA");
                    if (stInscForne.isEmpty())
                        stInscForne = text(set, "NRINSJURNF");
                    if (dtVencGuia.isNull())
                        dtVencGuia = date(set, "VENCIMENTO");
                    if (stCodReceSel.isEmpty())
                        stCodReceSel = text(set, "CDRECEGUIA");
                }
                if (stFilialSel.isEmpty())
                    stFilialSel = text(set, "CDFILIAL");
                if (stLanctoSel.isEmpty())
                    stLanctoSel = text(set, "NRLANCTONF");
                if (text(set, "IDSTATUSGUIA") != stStatusSel)
                    refuse(QString(), "Stat_Dif");
                if (text(set, "CDRECEGUIA") != stCodReceSel)
                    refuse(QString(), "Cod_Rec_Dif");
                if (date(set, "VENCIMENTO") != dtVencGuia)
                    refuse(QString(), "Dt_Ven_Dif");
                if (text(set, "NRINSJURNF") != stInscForne)
                    refuse(QString(), "Nf_Dif");
                postRow();
                addSideRecord();
                if (byClick && codReceColumn)
                    codReceColumn->setReadOnly(true);
            } else if (grouped) {
                postRow();
                if (removeSideRecord({}) && codReceColumn)
                    codReceColumn->setReadOnly(false);
                if (vrTotalGuia == 0)
                    clearSelectionReferences();
            } else {
                postRow();
            }
        }
    } catch (...) {
        // A refusal has restored everything already; any other failure leaves no pending edit.
        if (set->state() != DataSetState::Browse)
            set->cancel();
        if (cdsForneAux->state() == DataSetState::Insert ||
            cdsForneAux->state() == DataSetState::Edit)
            cdsForneAux->cancel();
        throw;
    }
    suspended.release();
    if (set->bookmarkValid(remembered))
        set->gotoBookmark(remembered);
    if (notWrittenBack)
        std::rethrow_exception(notWrittenBack);
}

void TfrmEmiPrevSocial::dbgPadraoTitleClick(fis::GridColumn *column)
{
    // Only the tick column's title touches the selection; the titles of the other columns leave
    // the ticked rows and their totals alone.
    if (!column || !isTickField(column->fieldName()))
        return;
    vrTotalGuia = 0;
    vrMultaGuia = 0;
    vrOutrEntGuia = 0;
    dtVencGuia = fis::TDateTime();
    stCodReceSel.clear();
    stInscForne.clear();

    ClientDataSet *set = selectionSet();
    if (!set || !hasRows(set))
        return;
    const Bookmark remembered = set->bookmark();
    fis::Field *check = set->fieldByName(kIdCheck);
    // Every row written back shows the progress window: it stays up for the whole pass. Each
    // revenue code is checked with the server once in the pass, not once per row.
    const fis::ProgressHold progress;
    const CodReceChecksOfPass codeChecks(this);

    // One suspension for the look and the pass: the grids are laid out again once, at the end.
    DisplayUpdatesOff suspended(set);
    bool someTicked = false;
    for (set->first(); !set->eof() && !someTicked; set->next())
        someTicked = check->asString() == kTicked;

    const auto refuse = [&](const QString &field, const char *key) {
        suspended.release();
        refuseSelection(set, remembered, field, QString::fromLatin1(key), false);
    };
    try {
        const bool grouped = set == cdsAprovAgrup && groupedPayable();
        bool firstRow = true;
        set->first();
        while (!set->eof()) {
            set->edit();
            const QString flag = check->asString();
            if (set == cdsAprov) {
                if (flag == kTicked && someTicked)
                    check->setAsString(kUnticked);
                else if (flag == kUnticked && !someTicked)
                    check->setAsString(kTicked);
                set->post();
            } else {
                if (flag == kTicked && someTicked) {
                    check->setAsString(kUnticked);
                } else if (!someTicked) {
                    if (firstRow)
                        takeSelectionReferences();
                    if (flag == kUnticked && text(set, "IDSTATUSGUIA") == stStatusSel &&
                        text(set, "NRINSJURNF") == stInscForne &&
                        date(set, "VENCIMENTO") == dtVencGuia &&
                        text(set, "CDRECEGUIA") == stCodReceSel)
                        check->setAsString(kTicked);
                }
                if (!cdsForneAux->active())
                    cdsForneAux->createDataSet();
                const bool ticked = check->asString() == kTicked;
                if (grouped && ticked) {
                    if (Consiste::EmptyString(text(set, "CDRECEGUIA")))
                        refuse(kCodRece, "cod_rece");
                    if (date(set, "VENCIMENTO").isNull())
                        refuse(kVencimento, "Inf_DT");
                }
                // The row is stored before the side set follows it; a failed write-back ends
                // the walk once it has.
                const std::exception_ptr notWrittenBack = storeRow(set, true);
                if (grouped && ticked) {
                    addSideRecord();
                } else if (grouped && removeSideRecord(fis::LocateOption::CaseInsensitive) &&
                           vrTotalGuia <= 0) {
                    clearSelectionReferences();
                    vrTotalGuia = 0;
                }
                if (notWrittenBack)
                    std::rethrow_exception(notWrittenBack);
            }
            firstRow = false;
            set->next();
        }
        set->first();
        if (cdsAprovAgrup->active() && cdsAprovAgrup->state() == DataSetState::Browse) {
            cdsAprovAgrup->edit();
            cdsAprovAgrup->post();
        }
    } catch (...) {
        // Rows already passed keep their new flags; the one in hand and its side record do not.
        for (ClientDataSet *pending : {set, cdsAprovAgrup, cdsForneAux})
            if (pending->state() == DataSetState::Edit || pending->state() == DataSetState::Insert)
                pending->cancel();
        throw;
    }
}

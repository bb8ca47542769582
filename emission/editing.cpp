// Editing the documents in the main grid: the due date, the revenue code, the fine and the value
// due to other entities. Which cells can be typed into (per column, per row state, per key), the
// typed due date, the revenue-code check and pick list, and the write-back of every posted row of
// the two document sets to the application server.
//
// A document that already has a guide cannot be typed into: the rules look at the current row of
// the set the grid shows. A row whose write-back fails keeps what the clerk gave it and is marked
// in the grid as not saved until a later post of it is written back.
#include "emission/Cli_fis02900.h"
#include "emission/displayupdates.h"

#include "filter/Cli_fis02910.h"

#include <QScopeGuard>

using fis::ClientDataSet;
using fis::DataSetState;
using fis::Field;

namespace {

const QString kVencimento = QStringLiteral("VENCIMENTO");
const QString kCodRece = QStringLiteral("CDRECEGUIA");
const QString kMulta = QStringLiteral("VRMULTAGUIA");
const QString kOutrEnt = QStringLiteral("VROUTRENTGUIA");
const QString kCodRecePadrao = QStringLiteral("CDRECEPADRAO");

bool hasRows(const ClientDataSet *set)
{
    return set && set->active() && set->recordCount() > 0;
}

bool isField(const Field *field, const QString &name)
{
    return field && field->fieldName().compare(name, Qt::CaseInsensitive) == 0;
}

QString text(const ClientDataSet &set, const QString &field)
{
    return set.fieldByName(field)->asString();
}

QString rowKey(const ClientDataSet &set)
{
    return text(set, QStringLiteral("CDFILIAL")).trimmed() + QLatin1Char('/') +
           text(set, QStringLiteral("NRLANCTONF")).trimmed();
}

bool isDigit(QChar key)
{
    return key >= QLatin1Char('0') && key <= QLatin1Char('9');
}

// Backspace and Enter pass every filter.
bool isControlKey(QChar key)
{
    return key == QChar(8) || key == QChar(13);
}

} // namespace

QString TfrmEmiPrevSocial::taxCode() const
{
    return frmFiltroEmiPrev ? frmFiltroEmiPrev->edtCdImposto->Text() : QString();
}

bool TfrmEmiPrevSocial::rowHasGuide(const ClientDataSet *set) const
{
    return hasRows(set) && !text(*set, QStringLiteral("IDSTATUSGUIA")).isEmpty();
}

// --- Which cells can be typed into ----------------------------------------------------------

void TfrmEmiPrevSocial::dbgPadraoColEnter()
{
    const DataSetState state = dtsPadrao->state();
    if (state == DataSetState::Inactive || state == DataSetState::Insert)
        return;
    // A row with a guide leaves the switch as it was; its keys are refused by the filters below.
    if (rowHasGuide(dtsPadrao->dataSet()))
        return;
    const Field *selected = dbgPadrao->selectedField();
    const bool editable = isField(selected, kVencimento) || isField(selected, kOutrEnt) ||
                          isField(selected, kCodRece) || isField(selected, kMulta);
    dbgPadrao->setOption(fis::GridOption::Editing, editable);
}

void TfrmEmiPrevSocial::filterTypedKey(QChar &key)
{
    if (rowHasGuide(cdsAprovAgrup) || rowHasGuide(cdsAprov)) {
        key = QChar();
        return;
    }
    const Field *selected = dbgPadrao->selectedField();
    if (isField(selected, kVencimento)) {
        // The separators come from the date mask.
        if (!isControlKey(key) && !isDigit(key))
            key = QChar();
    } else if (isField(selected, kCodRece)) {
        if (!isControlKey(key) && !isDigit(key) && key != QLatin1Char('&') &&
            key != QLatin1Char('\''))
            key = QChar();
    }
}

void TfrmEmiPrevSocial::applyCodReceColumnRule()
{
    fis::GridColumn *codRece = dbgPadrao->findColumn(kCodRece);
    if (!codRece)
        return;
    // A ticked row keeps its revenue code: untick it to change the code.
    const auto tickedWithCode = [](const ClientDataSet *set) {
        return hasRows(set) && text(*set, QStringLiteral("IDCHECK")) == QLatin1String("C") &&
               !text(*set, kCodRece).isEmpty();
    };
    codRece->setReadOnly(tickedWithCode(cdsAprovAgrup) || tickedWithCode(cdsAprov));
    // The pick list only while the row is being edited, never for a document with a guide.
    codRece->setButtonStyle(dtsPadrao->editing() && !rowHasGuide(dtsPadrao->dataSet())
                                ? fis::ColumnButtonStyle::Ellipsis
                                : fis::ColumnButtonStyle::Auto);
}

// --- The typed due date ------------------------------------------------------------------------

void TfrmEmiPrevSocial::cdsAprovVENCIMENTOSetText(Field &field, const QString &value)
{
    // The cleared date edit stores no date; an empty text changes nothing.
    if (value == Consiste::kEmptyDateText)
        field.clear();
    else if (!value.isEmpty())
        Consiste::DateSetText(&field, value);
}

void TfrmEmiPrevSocial::cdsAprovAgrupVENCIMENTOSetText(Field &field, const QString &value)
{
    cdsAprovVENCIMENTOSetText(field, value);
}

// --- Leaving a column, picking a code ------------------------------------------------------------

void TfrmEmiPrevSocial::dbgPadraoColExit()
{
    const Field *leaving = dbgPadrao->selectedField();
    if (isField(leaving, kCodRece))
        Vd_CodRece(false, stOperacao);
    else if (isField(leaving, kVencimento))
        Verifica_Vencimento(false);
    if (isField(leaving, kMulta) || isField(leaving, kOutrEnt)) {
        // Right after the first edit since loading the row stays in edit until posted otherwise.
        ClientDataSet *set = stOperacao == QLatin1String("S") ? cdsAprov : cdsAprovAgrup;
        if (set->changeCount() > 0 && set->state() == DataSetState::Edit)
            set->post();
    }
}

void TfrmEmiPrevSocial::dbgPadraoEditButtonClick()
{
    if (!isField(dbgPadrao->selectedField(), kCodRece))
        return;
    try {
        ActiveShowAvi(this, 0);
        const fis::Variant answer = fis::rdmEmisGuiaPrv::GetCodRecePad(*netEmisGuiaPrev, taxCode());
        cdsCodRece->setData(Consiste::CheckResultServ(answer, true, 0));
        DeactiveShowAvi(this);
        const QString first = hasRows(cdsCodRece) ? text(*cdsCodRece, kCodRecePadrao) : QString();
        if (first.isEmpty())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Cod_Inv")), true);
        if (!Pesquisar(dtsCodRece, msgPadrao->Msg(QStringLiteral("Código")), false, true, this))
            return;
        ClientDataSet *set = dtsPadrao->dataSet() == cdsAprovAgrup ? cdsAprovAgrup : cdsAprov;
        set->edit();
        set->fieldByName(kCodRece)->setAsString(text(*cdsCodRece, kCodRecePadrao));
        set->post();
    } catch (...) {
        DeactiveShowAvi(this);
        throw;
    }
}

void TfrmEmiPrevSocial::Vd_CodRece(bool obrigatorio, const QString &operacao)
{
    ClientDataSet *set = operacao == QLatin1String("E") ? cdsAprovAgrup : cdsAprov;
    try {
        Field *code = set->fieldByName(kCodRece);
        if (Consiste::EmptyString(code->asString())) {
            if (obrigatorio)
                Consiste::MensErro(msgPadrao->Msg(QStringLiteral("cod_rece")), true);
            return;
        }
        // The row goes into edit only to change its code: a row left as it was stays browsing,
        // so that a click in its tick column still ticks it.
        const auto store = [&](const QString &value) {
            if (value == code->asString())
                return;
            set->edit();
            code->setAsString(value);
        };
        store(Consiste::Ajusta(code->asString(), 4));
        const QString key = taxCode() + QLatin1Char('\n') + code->asString();
        QString known;
        if (m_passCodeChecks && m_passCodeChecks->contains(key)) {
            known = m_passCodeChecks->value(key);
        } else {
            const fis::Variant answer =
                fis::rdmEmisGuiaPrv::GetVdCodRece(*netEmisGuiaPrev, taxCode(), code->asString());
            cdsVd_CodRece->setData(Consiste::CheckResultServ(answer, true, 0));
            known = hasRows(cdsVd_CodRece) ? text(*cdsVd_CodRece, kCodRecePadrao) : QString();
            if (m_passCodeChecks)
                m_passCodeChecks->insert(key, known);
        }
        // Refused: the row keeps the adjusted code, for the clerk to correct.
        if (known.isEmpty())
            Consiste::MensErro(msgPadrao->Msg(QStringLiteral("Cod_Inv")), true);
        store(known);
    } catch (...) {
        DeactiveShowAvi(this);
        throw;
    }
}

CodReceChecksOfPass::CodReceChecksOfPass(TfrmEmiPrevSocial *screen)
    : m_screen(screen), m_outer(!screen->m_passCodeChecks)
{
    if (m_outer)
        m_screen->m_passCodeChecks.emplace();
}

CodReceChecksOfPass::~CodReceChecksOfPass()
{
    if (m_outer)
        m_screen->m_passCodeChecks.reset();
}

void TfrmEmiPrevSocial::Verifica_Vencimento(bool)
{
    ClientDataSet *set = dtsPadrao->dataSet();
    if (!set || !set->active())
        return;
    const fis::Bookmark remembered = set->bookmark();
    // Moving posts a changed edit of the current row and drops an unchanged one.
    set->first();
    {
        DisplayUpdatesOff suspended(set);
        if (stOperacao == QLatin1String("E") && cdsAprovAgrup->active()) {
            for (cdsAprovAgrup->first(); !cdsAprovAgrup->eof(); cdsAprovAgrup->next()) {
                if (text(*cdsAprovAgrup, QStringLiteral("IDCHECK")) == QLatin1String("C")) {
                    dtVencGuia = cdsAprovAgrup->fieldByName(kVencimento)->asDateTime();
                    break;
                }
            }
        }
    }
    if (set->bookmarkValid(remembered))
        set->gotoBookmark(remembered);
}

// --- Posting a row: check, then write back -------------------------------------------------------

void TfrmEmiPrevSocial::checkRowBeforePost(ClientDataSet &set)
{
    Field *due = set.fieldByName(kVencimento);
    // The stored value becomes the plain date, without time of day (a time would not even read
    // back as a date text); a plain date already is.
    if (!due->isNull()) {
        const fis::TDateTime stored = due->asDateTime();
        const fis::TDateTime plain = fis::TDateTime::fromDate(stored.toDate());
        if (plain.isNull())
            due->clear();
        else if (plain != stored)
            due->setAsDateTime(plain);
    }
    Vd_CodRece(false, stOperacao);
}

void TfrmEmiPrevSocial::cdsAprovBeforePost(ClientDataSet &set)
{
    checkRowBeforePost(set);
}

void TfrmEmiPrevSocial::cdsAprovAgrupBeforePost(ClientDataSet &set)
{
    checkRowBeforePost(set);
}

void TfrmEmiPrevSocial::writeRowBack(ClientDataSet &set)
{
    // The change log is only emptied by a new load: after the first change every post counts.
    if (set.changeCount() <= 0)
        return;
    fis::Variant answer;
    {
        ActiveShowAvi(this, 1);
        const auto hide = qScopeGuard([this] { DeactiveShowAvi(this); });
        try {
            answer = fis::rdmEmisGuiaPrv::SetDtVenc(
                *netEmisGuiaPrev, text(set, QStringLiteral("CDFILIAL")),
                text(set, QStringLiteral("NRLANCTONF")), set.fieldByName(kVencimento)->text(),
                text(set, kCodRece), set.fieldByName(kOutrEnt)->asFloat(),
                set.fieldByName(kMulta)->asFloat());
        } catch (...) {
            setRowUnsaved(set, true);
            throw;
        }
    }
    // The row stays posted: what the server refused is marked on it, and the action ends. Whoever
    // suspended the set's display updates gets them back as the failure passes through.
    if (!Consiste::resultError(answer).isEmpty())
        setRowUnsaved(set, true);
    Consiste::CheckResultServ(answer, true, 0);
    setRowUnsaved(set, false);
}

void TfrmEmiPrevSocial::cdsAprovAfterPost(ClientDataSet &set)
{
    writeRowBack(set);
}

void TfrmEmiPrevSocial::cdsAprovAgrupAfterPost(ClientDataSet &set)
{
    writeRowBack(set);
}

// --- Rows not saved ------------------------------------------------------------------------------

void TfrmEmiPrevSocial::setRowUnsaved(const ClientDataSet &set, bool unsaved)
{
    const QString key = rowKey(set);
    QSet<QString> &rows = m_unsaved[&set];
    if (unsaved == rows.contains(key))
        return;
    if (unsaved)
        rows.insert(key);
    else
        rows.remove(key);
    dbgPadrao->viewport()->update();
}

bool TfrmEmiPrevSocial::rowUnsaved(int row) const
{
    const ClientDataSet *set = dtsPadrao->dataSet();
    const auto rows = m_unsaved.constFind(set);
    if (rows == m_unsaved.constEnd() || rows->isEmpty() || !hasRows(set) || row < 0 ||
        row >= set->recordCount())
        return false;
    const auto value = [&](const char *field) {
        return set->fieldByName(QString::fromLatin1(field))->valueAt(row).toString().trimmed();
    };
    return rows->contains(value("CDFILIAL") + QLatin1Char('/') + value("NRLANCTONF"));
}

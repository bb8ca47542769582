// The query parameters of the guide reports, filled from the screen before every run of a report
// (print, preview, save as), and the preview.
//
// Every run of a document report rebuilds stFilial and stLancamento from the ticked rows, and the
// emission that follows a print sends those lists to the server. Every ticked row goes into the
// lists, however long they grow: a row left out would be a document the clerk ticked and got no
// guide for. The current row is left where it was.
#include "emission/Cli_fis02900.h"

#include <QScopeGuard>

using fis::ClientDataSet;

namespace {

const QString kTicked = QStringLiteral("C");

bool ticked(const ClientDataSet *set)
{
    return set->fieldByName(QStringLiteral("IDCHECK"))->asString() == kTicked;
}

QString text(const ClientDataSet *set, const char *field)
{
    return set->fieldByName(QString::fromLatin1(field))->asString();
}

// Sets a parameter only when the report declares it.
void setText(fis::ReportParams &params, const char *name, const QString &value)
{
    if (ExistParam(params, QString::fromLatin1(name)))
        params.setText(QString::fromLatin1(name), value);
}

void setDate(fis::ReportParams &params, const char *name, fis::TDateTime value)
{
    if (ExistParam(params, QString::fromLatin1(name)))
        params.setDate(QString::fromLatin1(name), value);
}

// The three key lists of the ticked documents of a view, in row order.
struct KeyLists
{
    QString partners = QStringLiteral("_"); // clients or suppliers
    QString branches = QStringLiteral("_");
    QString entries = QStringLiteral("_");
};

// Walks the whole set from its first row (creating it empty when closed) and lists the ticked
// rows. The caller restores the current row.
KeyLists tickedKeys(ClientDataSet *set, const char *partnerField)
{
    if (!set->active())
        set->createDataSet();
    KeyLists lists;
    for (set->first(); !set->eof(); set->next()) {
        if (!ticked(set))
            continue;
        lists.partners += text(set, partnerField) + QLatin1Char('_');
        lists.branches += text(set, "CDFILIAL") + QLatin1Char('_');
        lists.entries += text(set, "NRLANCTONF") + QLatin1Char('_');
    }
    return lists;
}

} // namespace

QString TfrmEmiPrevSocial::guidePicturePath(const QString &reportDir)
{
    const qsizetype at = reportDir.indexOf(QLatin1String("REL"), 0, Qt::CaseInsensitive);
    return (at < 0 ? QString() : reportDir.left(at)) + QStringLiteral("Rel\\guia_gps.bmp");
}

void TfrmEmiPrevSocial::rpddPadraoBeforeGetQueryParams(fis::ReportParams &Params, bool &flag)
{
    TfrmDadosGerRel::rpddPadraoBeforeGetQueryParams(Params, flag);
    if (reportIndex() == 2)
        ruralMapParams(Params);
    else
        documentParams(Params);
    setText(Params, "P_IMAGEM", guidePicturePath(Quorvin::ReportDir()));
}

void TfrmEmiPrevSocial::documentParams(fis::ReportParams &params)
{
    setText(params, "P_CDEMPRESA", medCdEmpresa->Text());
    if (stOperacao == QLatin1String("S")) {
        // Exits: the row is found again by its key, the first row with that key.
        cdsAprov->disableControls();
        const auto resume = qScopeGuard([this] { cdsAprov->enableControls(); });
        const QString keyFields = QStringLiteral("CDFILIAL;CDSERIE;NRNOTAFISC");
        QVariantList key;
        for (const QString &field : keyFields.split(QLatin1Char(';')))
            key << (cdsAprov->active() && !cdsAprov->isEmpty()
                        ? QVariant(cdsAprov->fieldByName(field)->value())
                        : QVariant());
        const KeyLists lists = tickedKeys(cdsAprov, "CDCLIENTE");
        stFilial = lists.branches;
        stLancamento = lists.entries;
        setText(params, "P_CDCLIENTE", lists.partners);
        setText(params, "P_CDFILIAL", stFilial);
        setText(params, "P_NRLANCTONF", stLancamento);
        cdsAprov->locate(keyFields, key, fis::LocateOption::CaseInsensitive);
    } else {
        // Entries: the row is found again by its bookmark.
        cdsAprovAgrup->disableControls();
        const auto resume = qScopeGuard([this] { cdsAprovAgrup->enableControls(); });
        const fis::Bookmark mark = cdsAprovAgrup->bookmark();
        const KeyLists lists = tickedKeys(cdsAprovAgrup, "CDFORNECED");
        stFilial = lists.branches;
        stLancamento = lists.entries;
        if (cdsAprovAgrup->bookmarkValid(mark))
            cdsAprovAgrup->gotoBookmark(mark);
        setText(params, "P_CDFORNECED", lists.partners);
        setText(params, "P_CDFILIAL", stFilial);
        setText(params, "P_NRLANCTONF", stLancamento);
    }
    setText(params, "P_CDIMPOSTO", RecordFilter.CdImposto);
    setDate(params, "P_DTINIEMI", RecordFilter.DtEmiIni);
    setDate(params, "P_DTFINEMI", RecordFilter.DtEmiFin);
}

void TfrmEmiPrevSocial::ruralMapParams(fis::ReportParams &params)
{
    // An empty grid keeps the list of the last run.
    if (cdsFunRural->active() && !cdsFunRural->isEmpty()) {
        cdsFunRural->disableControls();
        const auto resume = qScopeGuard([this] { cdsFunRural->enableControls(); });
        const fis::Bookmark mark = cdsFunRural->bookmark();
        stNrMapa = QStringLiteral("_");
        for (cdsFunRural->first(); !cdsFunRural->eof(); cdsFunRural->next()) {
            if (ticked(cdsFunRural))
                stNrMapa += text(cdsFunRural, "NRSEQUMAPAPU") + QLatin1Char('_');
        }
        if (cdsFunRural->bookmarkValid(mark))
            cdsFunRural->gotoBookmark(mark);
    }
    setText(params, "P_NRSEQUMAPAPU", stNrMapa);
}

void TfrmEmiPrevSocial::sbtPreviewClick(QObject *Sender)
{
    TfrmDadosGerRel::sbtPreviewClick(Sender);
    Vd_CodRece(false, stOperacao);
}

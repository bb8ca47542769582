// The lookup and check record sets of the filter dialog: host-database queries with one SQL text
// per database kind, the sets the remote calls fill, and the data links of the lookup lists.
//
// Optional parameters are compared through NVL, so a null parameter matches every row.
#include "filter/Cli_fis02910.h"

using fis::DatabaseKind;
using fis::FieldDef;

namespace {

TADOIBQuery *query(const char *name, QObject *parent)
{
    auto *q = new TADOIBQuery(QLatin1String(name), parent);
    q->setObjectName(QLatin1String(name));
    return q;
}

fis::ClientDataSet *dataSet(const char *name, QObject *parent)
{
    auto *set = new fis::ClientDataSet(QLatin1String(name), parent);
    set->setObjectName(QLatin1String(name));
    return set;
}

fis::DataLink *link(const char *name, fis::ClientDataSet *set, QObject *parent)
{
    auto *l = new fis::DataLink(QLatin1String(name), parent);
    l->setObjectName(QLatin1String(name));
    l->setDataSet(set);
    return l;
}

// The default text with ISNULL in place of NVL.
QStringList sqlServer(QStringList lines)
{
    for (QString &line : lines)
        line.replace(QStringLiteral("NVL("), QStringLiteral("ISNULL("));
    return lines;
}

// The default text with some lines replaced (1-based line numbers).
QStringList replaced(QStringList lines, std::initializer_list<std::pair<int, QString>> changes)
{
    for (const auto &[line, text] : changes)
        lines[line - 1] = text;
    return lines;
}

// Sets the default text (also the Oracle one), the SQL Server text derived from it and the
// InterBase text.
void setTexts(TADOIBQuery *q, const QStringList &defaultText, const QStringList &interBase)
{
    q->setSQL(defaultText);
    q->setSqlVariant(DatabaseKind::Oracle, defaultText);
    q->setSqlVariant(DatabaseKind::SqlServer, sqlServer(defaultText));
    q->setSqlVariant(DatabaseKind::InterBase, interBase);
}

} // namespace

void TfrmFiltroEmiPrev::createQueries()
{
    // Branches.
    qryFilial = query("qryFilial", this);
    const QStringList filial = {QStringLiteral("SELECT "),
                                QStringLiteral("   CDFILIAL, "),
                                QStringLiteral("   NMFILIAL"),
                                QStringLiteral("FROM "),
                                QStringLiteral("   FILIAL"),
                                QStringLiteral("WHERE "),
                                QStringLiteral("   (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL))"),
                                QStringLiteral("ORDER BY "),
                                QStringLiteral("   CDFILIAL")};
    setTexts(qryFilial, filial,
             replaced(filial,
                      {{5, QStringLiteral("   FILIAL, PARAM(:P_CDFILIAL) P_CDFILIAL")},
                       {7, QStringLiteral("   (CDFILIAL = NVLSTR(P_CDFILIAL.PARAM, CDFILIAL))")}}));
    qryFilial->addFields(
        {FieldDef::string(QStringLiteral("CDFILIAL"), 4)
             .setRequired(true)
             .setLabel(QStringLiteral("Código")),
         FieldDef::string(QStringLiteral("NMFILIAL"), 30).setLabel(QStringLiteral("Nome"))});

    // State registrations of the company.
    qryInscrEstad = query("qryInscrEstad", this);
    const QStringList inscrEstad = {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDINSCESTA, SGESTADO"),
        QStringLiteral("FROM"),
        QStringLiteral("   INSCRESTAD"),
        QStringLiteral("WHERE"),
        QStringLiteral("   CDEMPRESA  = :P_CDEMPRESA AND"),
        QStringLiteral("   CDINSCESTA = NVL(:P_CDINSCESTA, CDINSCESTA)"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   1")};
    setTexts(
        qryInscrEstad, inscrEstad,
        replaced(inscrEstad,
                 {{4, QStringLiteral("   INSCRESTAD, PARAM(:P_CDINSCESTA) P_CDINSCESTA")},
                  {7, QStringLiteral("   CDINSCESTA = NVLSTR(P_CDINSCESTA.PARAM, CDINSCESTA)")}}));
    qryInscrEstad->addFields(
        {FieldDef::string(QStringLiteral("CDINSCESTA"), 16)
             .setRequired(true)
             .setLabel(QStringLiteral("Código")),
         FieldDef::string(QStringLiteral("SGESTADO"), 2).setLabel(QStringLiteral("Estado"))});

    // Municipal registrations of the company.
    qryInscrMunicip = query("qryInscrMunicip", this);
    const QStringList inscrMunicip = {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDINSCMUNI"),
        QStringLiteral("FROM"),
        QStringLiteral("   INSCRMUNICIP"),
        QStringLiteral("WHERE"),
        QStringLiteral("   CDEMPRESA  = :P_CDEMPRESA AND"),
        QStringLiteral("   CDINSCMUNI = NVL(:P_CDINSCMUNI, CDINSCMUNI)"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   1")};
    setTexts(
        qryInscrMunicip, inscrMunicip,
        replaced(inscrMunicip,
                 {{4, QStringLiteral("   INSCRMUNICIP, PARAM(:P_CDINSCMUNI)  P_CDINSCMUNI")},
                  {7, QStringLiteral("   CDINSCMUNI = NVLSTR(P_CDINSCMUNI.PARAM, CDINSCMUNI)")}}));
    qryInscrMunicip->addFields({FieldDef::string(QStringLiteral("CDINSCMUNI"), 16)
                                    .setRequired(true)
                                    .setLabel(QStringLiteral("Código"))});

    // Invoice series of the company and its registrations: only per-database texts.
    qrySerieNF = query("qrySerieNF", this);
    const QStringList serieNF = {
        QStringLiteral("SELECT DISTINCT"),
        QStringLiteral("   CDSERIE, DSSERIE"),
        QStringLiteral("FROM"),
        QStringLiteral("   SERIENF"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (CDEMPRESA  = :P_CDEMPRESA)  AND"),
        QStringLiteral("   (CDINSCESTA = NVL(:P_CDINSCESTA, CDINSCESTA)) AND"),
        QStringLiteral("   (CDINSCMUNI = NVL(:P_CDINSCMUNI, CDINSCMUNI)) AND"),
        QStringLiteral("   (CDSERIE    = NVL(:P_CDSERIE, CDSERIE))"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDSERIE")};
    qrySerieNF->setSqlVariant(DatabaseKind::Oracle, serieNF);
    qrySerieNF->setSqlVariant(DatabaseKind::SqlServer, sqlServer(serieNF));
    qrySerieNF->setSqlVariant(
        DatabaseKind::InterBase,
        QStringList{QStringLiteral("SELECT DISTINCT"), QStringLiteral("   CDSERIE, DSSERIE"),
                    QStringLiteral("FROM"), QStringLiteral("   SERIENF,"),
                    QStringLiteral("   PARAM(:P_CDINSCESTA) P_CDINSCESTA,"),
                    QStringLiteral("   PARAM(:P_CDINSCMUNI) P_CDINSCMUNI,"),
                    QStringLiteral("   PARAM(:P_CDSERIE) P_CDSERIE"), QStringLiteral("WHERE"),
                    QStringLiteral("   (CDEMPRESA  = :P_CDEMPRESA)  AND"),
                    QStringLiteral("   (CDINSCESTA = NVLSTR(P_CDINSCESTA.PARAM, CDINSCESTA)) AND"),
                    QStringLiteral("   (CDINSCMUNI = NVLSTR(P_CDINSCMUNI.PARAM, CDINSCMUNI)) AND"),
                    QStringLiteral("   (CDSERIE    = NVLSTR(P_CDSERIE.PARAM, CDSERIE))"),
                    QStringLiteral("ORDER BY"), QStringLiteral("   CDSERIE")});
    qrySerieNF->addFields(
        {FieldDef::string(QStringLiteral("CDSERIE"), 5)
             .setRequired(true)
             .setLabel(QStringLiteral("Código")),
         FieldDef::string(QStringLiteral("DSSERIE"), 20).setLabel(QStringLiteral("Descrição"))});

    // Entry series.
    qrySerieEntr = query("qrySerieEntr", this);
    const QStringList serieEntr = {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDSERIEENTR, DSSERIEENTR"),
        QStringLiteral("FROM"),
        QStringLiteral("   SERIEENTR"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (CDSERIEENTR = NVL(:P_CDSERIEENTR, CDSERIEENTR))"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   CDSERIEENTR")};
    setTexts(qrySerieEntr, serieEntr,
             replaced(serieEntr,
                      {{4, QStringLiteral("   SERIEENTR, PARAM(:P_CDSERIEENTR) P_CDSERIEENTR")},
                       {6, QStringLiteral("   (CDSERIEENTR = NVLSTR(P_CDSERIEENTR.PARAM, "
                                          "CDSERIEENTR))")}}));
    qrySerieEntr->addFields({FieldDef::string(QStringLiteral("CDSERIEENTR"), 5)
                                 .setRequired(true)
                                 .setLabel(QStringLiteral("Código")),
                             FieldDef::string(QStringLiteral("DSSERIEENTR"), 20)
                                 .setLabel(QStringLiteral("Descrição"))});

    // Suppliers: the lookup list and the check; one text for every database.
    qryPesqForn = query("qryPesqForn", this);
    qryPesqForn->setSQL(
        QStringList{QStringLiteral("SELECT"), QStringLiteral("   CDFORNECED,"),
                    QStringLiteral("   NMRAZSOCFORN,"), QStringLiteral("   NRINSJURFORN,"),
                    QStringLiteral("   IDTPIJURFORN,"), QStringLiteral("   NMFANTFORN"),
                    QStringLiteral("FROM"), QStringLiteral("   FORNECEDOR"),
                    QStringLiteral("ORDER BY"), QStringLiteral("   NMRAZSOCFORN")});
    qryPesqForn->addFields(
        {FieldDef::string(QStringLiteral("CDFORNECED"), 21).setRequired(true).setVisible(false),
         FieldDef::string(QStringLiteral("NRINSJURFORN"), 20).setLabel(QStringLiteral("Inscrição")),
         FieldDef::string(QStringLiteral("NMRAZSOCFORN"), 40)
             .setLabel(QStringLiteral("Razão Social")),
         FieldDef::string(QStringLiteral("NMFANTFORN"), 40)
             .setLabel(QStringLiteral("Nome Fantasia")),
         FieldDef::string(QStringLiteral("IDTPIJURFORN"), 1)
             .setLabel(QStringLiteral("tipo de Inscrição"))});

    qryValidForn = query("qryValidForn", this);
    qryValidForn->setSQL(QStringList{QStringLiteral("SELECT "), QStringLiteral("   NMFANTFORN"),
                                     QStringLiteral("FROM "), QStringLiteral("   FORNECEDOR"),
                                     QStringLiteral("WHERE "),
                                     QStringLiteral("   IDTPIJURFORN = :P_IDTPIJURFORN AND"),
                                     QStringLiteral("   NRINSJURFORN = :P_NRINSJURFORN")});
    qryValidForn->addFields({FieldDef::string(QStringLiteral("NMFANTFORN"), 40)
                                 .setLabel(QStringLiteral("Nome Fantasia"))
                                 .setVisible(false)});

    // Sets filled by the application server.
    cdsImpostoNfe = dataSet("cdsImpostoNfe", this);
    cdsImpostoNfe->addFields(
        {FieldDef::string(QStringLiteral("CDIMPOSTONFE"), 2).setLabel(QStringLiteral("Código")),
         FieldDef::string(QStringLiteral("SGIMPOSTONFE"), 10).setLabel(QStringLiteral("Sigla")),
         FieldDef::string(QStringLiteral("IDORGARRECADNFE"), 1).setVisible(false)});
    cdsMapa = dataSet("cdsMapa", this);
    cdsMapa->addFields(
        {FieldDef::dateTime(QStringLiteral("DTINIPERIODO")).setLabel(QStringLiteral("Dt. Inicial")),
         FieldDef::dateTime(QStringLiteral("DTFIMPERIODO")).setLabel(QStringLiteral("Dt. Final"))});
    cdsParamFilial = dataSet("cdsParamFilial", this);
    cdsParamFilial->addFields({FieldDef::floating(QStringLiteral("NRTAMNUMNFUT"))});

    // Lookup lists.
    dtsFilial = link("dtsFilial", qryFilial, this);
    dtsInscrEstad = link("dtsInscrEstad", qryInscrEstad, this);
    dtsInscrMunicip = link("dtsInscrMunicip", qryInscrMunicip, this);
    dtsSerieNF = link("dtsSerieNF", qrySerieNF, this);
    dtsSerieEntr = link("dtsSerieEntr", qrySerieEntr, this);
    dtsPesqForn = link("dtsPesqForn", qryPesqForn, this);
    dtsImpostoNfe = link("dtsImpostoNfe", cdsImpostoNfe, this);
    dtsMapa = link("dtsMapa", cdsMapa, this);

    btpImposto->SetDataSource(dtsImpostoNfe);
    btpFiliEmit->SetDataSource(dtsFilial);
    btpPesqForn->SetDataSource(dtsPesqForn);
    btpInscEst->SetDataSource(dtsInscrEstad);
    btpInscMuni->SetDataSource(dtsInscrMunicip);
    btpSerie->SetDataSource(dtsSerieNF); // the direction rule switches it
    btnPesqMpIni->SetDataSource(dtsMapa);
    btnPesqMpFim->SetDataSource(dtsMapa);
}

void TfrmFiltroEmiPrev::qryInscrEstadBeforeOpen(fis::ClientDataSet &)
{
    qryInscrEstad->setParam(QStringLiteral("P_CDEMPRESA"), companyCode());
}

void TfrmFiltroEmiPrev::qryInscrMunicipBeforeOpen(fis::ClientDataSet &)
{
    qryInscrMunicip->setParam(QStringLiteral("P_CDEMPRESA"), companyCode());
}

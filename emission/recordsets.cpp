// The emission screen's record sets, host-database queries, data links and grids, with the view
// switch that runs when a document set opens and the text mapping of the operation letter.
#include "emission/Cli_fis02900.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStackedWidget>
#include <QVBoxLayout>

using fis::ClientDataSet;
using fis::DataLink;
using fis::DBGrid;
using fis::Field;
using fis::FieldDef;

namespace {

const QString kMoney = QStringLiteral("#,##0.00");

ClientDataSet *newSet(QObject *owner, const char *name, const QList<FieldDef> &defs)
{
    auto *set = new ClientDataSet(QString::fromLatin1(name), owner);
    set->setObjectName(QString::fromLatin1(name));
    set->addFields(defs);
    return set;
}

DataLink *newLink(QObject *owner, const char *name, ClientDataSet *set)
{
    auto *link = new DataLink(QString::fromLatin1(name), owner);
    link->setObjectName(QString::fromLatin1(name));
    link->setDataSet(set);
    return link;
}

// The fields of the entries view, shared by cdsAprovAgrup and its working copy cdsAprovAux.
QList<FieldDef> aprovAgrupFields(const fis::FieldGetTextHandler &getText,
                                 const fis::FieldSetTextHandler &setText)
{
    return {
        FieldDef::string("CDFORNECED", 21).setReadOnly(true).setVisible(false),
        FieldDef::string("NRINSJURNF", 20).setLabel("Inscrição").setReadOnly(true),
        FieldDef::string("NMRAZSOCFORN", 77).setLabel("Razão Social").setReadOnly(true),
        FieldDef::string("IDENTRSAIDOP", 1)
            .setReadOnly(true)
            .setVisible(false)
            .setGetText(getText)
            .setSetText(setText),
        FieldDef::string("CDFILIEMIT", 4).setReadOnly(true).setVisible(false),
        FieldDef::dateTime("DTENTRSAID").setReadOnly(true).setVisible(false),
        FieldDef::floating("SOMA").setFormat(kMoney).setVisible(false),
        FieldDef::fixed("IDCHECK", 1).setVisible(false),
        FieldDef::floating("VRTOTIMPONF").setFormat(kMoney).setReadOnly(true).setVisible(false),
        FieldDef::dateTime("VENCIMENTO").setLabel("Vencimento"),
        FieldDef::string("CDFILIAL", 4).setVisible(false),
        FieldDef::string("NRLANCTONF", 10).setVisible(false),
        FieldDef::string("NRNOTAFISC", 20).setLabel("Nº da NF").setReadOnly(true),
        FieldDef::floating("VRMULTAGUIA").setFormat(kMoney).setVisible(false),
        FieldDef::floating("VROUTRENTGUIA").setFormat(kMoney).setVisible(false),
        FieldDef::string("CDRECEGUIA", 5).setVisible(false),
        FieldDef::string("IDSTATUSGUIA", 1).setVisible(false),
    };
}

} // namespace

QString TfrmEmiPrevSocial::operacaoDoRelatorio(const QString &itemText) const
{
    // The text after "- ": two characters past the first "-"; without a "-" the text from the
    // second character on.
    const int dash = itemText.indexOf(QLatin1Char('-'));
    const QString word = itemText.mid(dash + 2);
    return word == msgPadrao->Msg(QStringLiteral("Entrada")) ? QStringLiteral("E")
                                                             : QStringLiteral("S");
}

void TfrmEmiPrevSocial::createRecordSets()
{
    // The operation letter is stored as one letter and shown and typed as a catalogue word.
    const fis::FieldGetTextHandler opGetText = [this](Field &field, QString &text, bool) {
        const QString value = field.asString();
        if (value == QLatin1String("E"))
            text = msgPadrao->Msg(QStringLiteral("Entrada"));
        else if (value == QLatin1String("S"))
            text = msgPadrao->Msg(QStringLiteral("Saida"));
        else
            text.clear();
    };
    const fis::FieldSetTextHandler opSetText = [this](Field &field, const QString &text) {
        if (text == msgPadrao->Msg(QStringLiteral("Entrada")))
            field.setAsString(QStringLiteral("E"));
        else if (text == msgPadrao->Msg(QStringLiteral("Saida")))
            field.setAsString(QStringLiteral("S"));
    };

    cdsAprov = newSet(
        this, "cdsAprov",
        {
            FieldDef::string("CDFILIAL", 4).setVisible(false),
            FieldDef::string("CDFILIRECE", 4).setReadOnly(true).setVisible(false),
            FieldDef::dateTime("DTEMISSAO").setReadOnly(true).setVisible(false),
            FieldDef::dateTime("DTENTRSAID").setReadOnly(true).setVisible(false),
            FieldDef::string("CDCLIENTE", 21).setVisible(false),
            FieldDef::string("NRINSJURNF", 20).setLabel("Inscrição").setReadOnly(true),
            FieldDef::string("NMRAZSOCCLIE", 50).setLabel("Razão Social").setReadOnly(true),
            // A supplier's name, shown for entry rows of this view: as wide as in the entries
            // sets, so that the name is not cut to its first letter.
            FieldDef::string("NMRAZSOCFORN", 77).setLabel("Razão Social").setReadOnly(true),
            FieldDef::string("NRLANCTONF", 10).setVisible(false),
            FieldDef::string("NRNOTAFISC", 20).setLabel("Nº NF").setReadOnly(true),
            FieldDef::string("CDSERIE", 5).setVisible(false),
            FieldDef::string("IDENTRSAIDOP", 1)
                .setVisible(false)
                .setGetText(opGetText)
                .setSetText(opSetText),
            FieldDef::string("CDFILIEMIT", 4).setReadOnly(true).setVisible(false),
            FieldDef::floating("VRMULTAGUIA").setFormat(kMoney).setVisible(false),
            FieldDef::floating("VROUTRENTGUIA").setFormat(kMoney).setVisible(false),
            FieldDef::string("CDRECEGUIA", 5).setVisible(false),
            FieldDef::floating("VRNOTAFISC")
                .setLabel("Valor NF:")
                .setFormat(kMoney)
                .setReadOnly(true),
            FieldDef::fixed("IDCHECK", 1).setVisible(false),
            FieldDef::dateTime("VENCIMENTO").setLabel("Vencimento").setVisible(false),
            FieldDef::floating("VRTOTIMPONF").setFormat(kMoney).setReadOnly(true).setVisible(false),
            FieldDef::string("IDSTATUSGUIA", 1).setVisible(false),
        });
    cdsAprovAgrup = newSet(this, "cdsAprovAgrup", aprovAgrupFields(opGetText, opSetText));
    cdsAprovAux = newSet(this, "cdsAprovAux", aprovAgrupFields(opGetText, opSetText));
    cdsAprov->fieldByName(QStringLiteral("VENCIMENTO"))->onSetText =
        [this](Field &field, const QString &text) { cdsAprovVENCIMENTOSetText(field, text); };
    // The emission's working copy types its due date as the entries view does.
    for (ClientDataSet *set : {cdsAprovAgrup, cdsAprovAux})
        set->fieldByName(QStringLiteral("VENCIMENTO"))->onSetText = [this](Field &field,
                                                                           const QString &text) {
            cdsAprovAgrupVENCIMENTOSetText(field, text);
        };

    cdsForneAux =
        newSet(this, "cdsForneAux",
               {
                   FieldDef::string("NRINSJURNF", 20).setLabel("Inscrição"),
                   FieldDef::string("CDFILIAL", 4),
                   FieldDef::string("NRLANCTONF", 10),
                   FieldDef::string("NMRAZSOCFORN", 100).setWidth(100).setLabel("Razão Social"),
                   FieldDef::floating("VRTOTIMPONF").setLabel("Valor Imposto").setFormat(kMoney),
                   FieldDef::string("NRNOTAFISC", 20),
                   FieldDef::floating("VRIMPOSTONF"),
                   FieldDef::string("CDRECEGUIA", 20),
                   FieldDef::floating("VROUTRENTGUIA"),
                   FieldDef::floating("VRMULTAGUIA"),
                   FieldDef::dateTime("VENCIMENTO"),
               });
    cdsFunRural = newSet(this, "cdsFunRural",
                         {
                             FieldDef::dateTime("DTINIPERIODO").setLabel("Dt. Inicial"),
                             FieldDef::dateTime("DTFIMPERIODO").setLabel("Dt. Final"),
                             FieldDef::string("NMMAPAAPUR", 30).setLabel("Nome"),
                             FieldDef::floating("VRTTCTBLCRE").setLabel("Valor").setFormat(kMoney),
                             FieldDef::string("CDINSCESTA", 16).setLabel("Insc. Estadual"),
                             FieldDef::string("IDSTATUS", 1).setLabel("Status"),
                             FieldDef::fixed("IDCHECK", 1).setVisible(false),
                             FieldDef::string("NRSEQUMAPAPU", 10).setVisible(false),
                         });
    cdsParamFiscal = newSet(this, "cdsParamFiscal", {FieldDef::string("IDGERCONPAGGUIA", 1)});
    cdsResult = newSet(this, "cdsResult",
                       {
                           FieldDef::string("CDRESULT", 3),
                           FieldDef::string("DSRESULT", 250),
                           FieldDef::string("IDTPRESULT", 2),
                       });
    cdsResult->addIndex(QStringLiteral("idxResultado"), QStringLiteral("IDTPRESULT"));
    cdsResult->setIndexName(QStringLiteral("idxResultado"));
    cdsVdBeneficiario = newSet(this, "cdsVdBeneficiario",
                               {
                                   FieldDef::string("CDIMPOSTO", 2),
                                   FieldDef::string("CDFORNECED", 21),
                                   FieldDef::string("CDTPCTPAGAR", 6),
                                   FieldDef::string("CDCLASSFINA", 6),
                               });
    cdsCodRece =
        newSet(this, "cdsCodRece",
               {
                   FieldDef::string("CDRECEPADRAO", 4).setLabel("Código"),
                   FieldDef::string("CDVARIACAO", 2).setLabel("Variação").setVisible(false),
                   FieldDef::string("DSRECEPADRAO", 1000).setLabel("Descrição"),
               });
    cdsVd_CodRece = newSet(this, "cdsVd_CodRece",
                           {
                               FieldDef::string("CDRECEPADRAO", 4),
                               FieldDef::string("CDVARIACAO", 2),
                               FieldDef::string("DSRECEPADRAO", 1000),
                           });

    cdsAprov->beforeOpen = [this](ClientDataSet &set) { cdsAprovBeforeOpen(set); };
    cdsAprov->beforeInsert = [this](ClientDataSet &set) { cdsAprovBeforeInsert(set); };
    cdsAprov->afterScroll = [this](ClientDataSet &set) { cdsAprovAgrupAfterScroll(set); };
    cdsAprov->beforePost = [this](ClientDataSet &set) { cdsAprovBeforePost(set); };
    cdsAprov->afterPost = [this](ClientDataSet &set) { cdsAprovAfterPost(set); };
    cdsAprovAgrup->beforeOpen = [this](ClientDataSet &set) { cdsAprovAgrupBeforeOpen(set); };
    cdsAprovAgrup->beforeInsert = [this](ClientDataSet &set) { cdsAprovAgrupBeforeInsert(set); };
    cdsAprovAgrup->afterScroll = [this](ClientDataSet &set) { cdsAprovAgrupAfterScroll(set); };
    cdsAprovAgrup->beforePost = [this](ClientDataSet &set) { cdsAprovAgrupBeforePost(set); };
    cdsAprovAgrup->afterPost = [this](ClientDataSet &set) { cdsAprovAgrupAfterPost(set); };
    cdsFunRural->afterScroll = [this](ClientDataSet &set) { cdsFunRuralAfterScroll(set); };

    createQueries();

    dtsPadrao = newLink(this, "dtsPadrao", cdsAprovAgrup);
    dtsPadrao->onStateChange = [this](DataLink &) { dtsPadraoStateChange(); };
    dtsFunRural = newLink(this, "dtsFunRural", cdsFunRural);
    dtsFunRural->onStateChange = [this](DataLink &) { dtsFunRuralStateChange(); };
    dtsEmpresa = newLink(this, "dtsEmpresa", qryEmpresa);
    dtsCodRece = newLink(this, "dtsCodRece", cdsCodRece);
    dtsAprov = newLink(this, "dtsAprov", cdsAprov);
    dtsAprovAgrup = newLink(this, "dtsAprovAgrup", cdsAprovAgrup);
    dtsAprovAux = newLink(this, "dtsAprovAux", cdsAprovAux);
    dtsFilial = newLink(this, "dtsFilial", nullptr);
}

void TfrmEmiPrevSocial::createQueries()
{
    const QList<FieldDef> empresa = {
        FieldDef::string("CDEMPRESA", 2).setRequired(true).setLabel("Código"),
        FieldDef::string("NMRAZSOCEMPR", 80).setLabel("Razão Social"),
        FieldDef::floating("VRPEMULEMPR").setVisible(false),
        FieldDef::floating("VRPEMOREMPR").setVisible(false),
        FieldDef::string("CDCENTCUST", 4).setVisible(false),
    };
    qryEmpresa = new TADOIBQuery(QStringLiteral("qryEmpresa"), this);
    qryEmpresa->setObjectName(QStringLiteral("qryEmpresa"));
    qryEmpresa->addFields(empresa);
    const auto empresaSql = [](const QString &from, const QString &where) {
        return QStringList{
            QStringLiteral("SELECT"),
            QStringLiteral("   CDEMPRESA,   NMRAZSOCEMPR,"),
            QStringLiteral("   VRPEMULEMPR, VRPEMOREMPR,"),
            QStringLiteral("   CDCENTCUST"),
            QStringLiteral("FROM"),
            from,
            QStringLiteral("WHERE"),
            where,
            QStringLiteral("ORDER BY"),
            QStringLiteral("   CDEMPRESA"),
        };
    };
    const QString emp = QStringLiteral("   EMPRESA");
    qryEmpresa->setSQL(
        empresaSql(emp, QStringLiteral("   (CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA))")));
    qryEmpresa->setSqlVariant(
        fis::DatabaseKind::Oracle,
        empresaSql(emp, QStringLiteral("   (CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA))")));
    qryEmpresa->setSqlVariant(
        fis::DatabaseKind::SqlServer,
        empresaSql(emp, QStringLiteral("   (CDEMPRESA = ISNULL(:P_CDEMPRESA, CDEMPRESA))")));
    qryEmpresa->setSqlVariant(
        fis::DatabaseKind::InterBase,
        empresaSql(QStringLiteral("   EMPRESA, PARAM(:P_CDEMPRESA) P_CDEMPRESA"),
                   QStringLiteral("   (CDEMPRESA = NVLSTR(P_CDEMPRESA.PARAM, CDEMPRESA))")));

    qryVdEmpresa = new TADOIBQuery(QStringLiteral("qryVdEmpresa"), this);
    qryVdEmpresa->setObjectName(QStringLiteral("qryVdEmpresa"));
    qryVdEmpresa->addFields({
        FieldDef::string("CDEMPRESA", 2).setRequired(true).setLabel("Código"),
        FieldDef::string("CDCENTCUST", 4).setVisible(false),
    });
    qryVdEmpresa->setSQL(QStringList{
        QStringLiteral("SELECT"),
        QStringLiteral("   CDEMPRESA,"),
        QStringLiteral("   CDCENTCUST"),
        QStringLiteral("FROM"),
        QStringLiteral("   EMPRESA"),
        QStringLiteral("WHERE"),
        QStringLiteral("   CDEMPRESA = :P_CDEMPRESA"),
    });
}

void TfrmEmiPrevSocial::createGrids()
{
    pgcPadrao = new QStackedWidget(pnlDados);
    pgcPadrao->setObjectName(QStringLiteral("pgcPadrao"));
    dataLayout()->addWidget(pgcPadrao);

    const auto setUp = [this](const char *name, DataLink *link) {
        auto *grid = new DBGrid(pgcPadrao);
        grid->setObjectName(QString::fromLatin1(name));
        grid->setDataLink(link);
        grid->setFrameShape(QFrame::NoFrame);
        QPalette pal = grid->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        grid->setPalette(pal);
        pgcPadrao->addWidget(grid);
        return grid;
    };
    const fis::GridOptions common =
        fis::GridOptions(fis::GridOption::Titles) | fis::GridOption::ColLines |
        fis::GridOption::RowLines | fis::GridOption::ColumnResize | fis::GridOption::Tabs |
        fis::GridOption::AlwaysShowSelection | fis::GridOption::CancelOnExit;
    QFont symbol(QStringLiteral("Monotype Sorts"));

    struct Col
    {
        const char *field;
        const char *title; // nullptr: the field's label
        int width;
        bool readOnly;
        bool visible;
    };
    dbgPadrao = setUp("dbgPadrao", dtsPadrao);
    dbgPadrao->setOptions(common);
    const Col padrao[] = {
        {"IDCHECK", "4", 21, false, true},
        {"CDFILIAL", "Filial", 0, true, false},
        {"IDENTRSAIDOP", "Operação", 0, false, true},
        {"DTEMISSAO", "Emissão", 0, true, false},
        {"NRINSJURNF", nullptr, 100, false, true},
        {"DTENTRSAID", "Dt.Entrada", 85, false, true},
        {"NMRAZSOCCLIE", "Razão Social", 0, true, false},
        {"NMRAZSOCFORN", nullptr, 315, false, true},
        {"NRNOTAFISC", nullptr, 0, false, false},
        {"CDSERIE", "Série", 0, true, false},
        {"VRNOTAFISC", "Valor", 0, true, false},
        {"SOMA", "Valor NF", 90, false, true},
        {"VRTOTIMPONF", "Vr. Imposto", 80, false, true},
        {"VRMULTAGUIA", "Vr. Multa", 0, false, true},
        {"VROUTRENTGUIA", "Vr. Outras Entidades", 105, false, true},
        {"VENCIMENTO", nullptr, 89, false, true},
        {"CDRECEGUIA", "Cód. Receita", 0, false, true},
        {"IDSTATUSGUIA", "Status", 61, false, true},
    };
    for (const Col &c : padrao) {
        fis::GridColumn *col = dbgPadrao->addColumn(QString::fromLatin1(c.field));
        if (c.title)
            col->setTitleCaption(QString::fromUtf8(c.title));
        if (c.width)
            col->setWidth(c.width);
        col->setReadOnly(c.readOnly);
        col->setVisible(c.visible);
    }
    fis::GridColumn *check = dbgPadrao->column(0);
    check->setTitleFont(symbol);
    check->setTitleAlignment(Qt::AlignCenter);
    dbgPadrao->onExit = [this] { dbgPadraoExit(); };
    dbgPadrao->onCellClick = [this](fis::GridColumn *c) { dbgPadraoCellClick(c); };
    dbgPadrao->onTitleClick = [this](fis::GridColumn *c) { dbgPadraoTitleClick(c); };
    dbgPadrao->onKeyDown = [this](quint16 &key, Qt::KeyboardModifiers shift) {
        dbgPadraoKeyDown(key, shift);
    };
    dbgPadrao->onKeyPress = [this](QChar &key) { dbgPadraoKeyPress(key); };
    dbgPadrao->onColEnter = [this] { dbgPadraoColEnter(); };
    dbgPadrao->onColExit = [this] { dbgPadraoColExit(); };
    dbgPadrao->onEditButtonClick = [this] { dbgPadraoEditButtonClick(); };
    dbgPadrao->rowMark = [this](int row) {
        return rowUnsaved(row) ? QStringLiteral("Não gravado no servidor") : QString();
    };
    dbgPadrao->onDrawColumnCell = [this](QPainter &painter, const QRect &rect, fis::GridColumn *c,
                                         const fis::GridDrawState &state) {
        dbgPadraoDrawColumnCell(painter, rect, c, state);
    };

    dbgFunRural = setUp("dbgFunRural", dtsFunRural);
    dbgFunRural->setOptions(common | fis::GridOption::RowSelect | fis::GridOption::ConfirmDelete);
    for (const char *field : {"IDCHECK", "DTINIPERIODO", "DTFIMPERIODO", "NMMAPAAPUR",
                              "VRTTCTBLCRE", "CDINSCESTA", "IDSTATUS"})
        dbgFunRural->addColumn(QString::fromLatin1(field));
    fis::GridColumn *mapCheck = dbgFunRural->column(0);
    mapCheck->setTitleCaption(QStringLiteral("4"));
    mapCheck->setTitleFont(symbol);
    mapCheck->setTitleAlignment(Qt::AlignCenter);
    mapCheck->setWidth(23);
    dbgFunRural->findColumn(QStringLiteral("VRTTCTBLCRE"))->setWidth(104);
    dbgFunRural->onDrawColumnCell = [this](QPainter &painter, const QRect &rect, fis::GridColumn *c,
                                           const fis::GridDrawState &state) {
        dbgFunRuralDrawColumnCell(painter, rect, c, state);
    };
    dbgFunRural->onCellClick = [this](fis::GridColumn *c) { dbgFunRuralCellClick(c); };
    dbgFunRural->onTitleClick = [this](fis::GridColumn *c) { dbgFunRuralTitleClick(c); };

    pgcPadrao->setCurrentWidget(dbgPadrao);
    dbgFunRural->hide();
}

void TfrmEmiPrevSocial::setColumnsVisible(const QStringList &fields, bool visible)
{
    for (const QString &name : fields) {
        const int index = Consiste::IndiceCol(dbgPadrao, name);
        if (index >= 0)
            dbgPadrao->column(index)->setVisible(visible);
    }
}

void TfrmEmiPrevSocial::cdsAprovBeforeOpen(ClientDataSet &set)
{
    m_unsaved.remove(&set); // the rows now come from the server
    dtsPadrao->setDataSet(cdsAprov);
    setColumnsVisible({QStringLiteral("NMRAZSOCFORN"), QStringLiteral("SOMA")}, false);
    setColumnsVisible({QStringLiteral("DTEMISSAO"), QStringLiteral("NMRAZSOCCLIE"),
                       QStringLiteral("NRNOTAFISC"), QStringLiteral("CDSERIE"),
                       QStringLiteral("VRNOTAFISC"), QStringLiteral("CDFILIAL"),
                       QStringLiteral("VRTOTIMPONF"), QStringLiteral("VRMULTAGUIA"),
                       QStringLiteral("VROUTRENTGUIA"), QStringLiteral("VENCIMENTO"),
                       QStringLiteral("CDRECEGUIA")},
                      true);
}

void TfrmEmiPrevSocial::cdsAprovAgrupBeforeOpen(ClientDataSet &set)
{
    m_unsaved.remove(&set); // the rows now come from the server
    dtsPadrao->setDataSet(cdsAprovAgrup);
    setColumnsVisible({QStringLiteral("NMRAZSOCFORN"), QStringLiteral("SOMA")}, true);
    setColumnsVisible({QStringLiteral("DTEMISSAO"), QStringLiteral("NMRAZSOCCLIE"),
                       QStringLiteral("NRNOTAFISC"), QStringLiteral("CDSERIE"),
                       QStringLiteral("VRNOTAFISC"), QStringLiteral("CDFILIAL")},
                      false);
    setColumnsVisible({QStringLiteral("VENCIMENTO"), QStringLiteral("VRTOTIMPONF"),
                       QStringLiteral("VRMULTAGUIA"), QStringLiteral("VROUTRENTGUIA"),
                       QStringLiteral("CDRECEGUIA"), QStringLiteral("DTENTRSAID")},
                      true);
}

// The screen never adds documents: an insert is abandoned silently.
void TfrmEmiPrevSocial::cdsAprovBeforeInsert(ClientDataSet &)
{
    throw fis::EAbort();
}

void TfrmEmiPrevSocial::cdsAprovAgrupBeforeInsert(ClientDataSet &)
{
    throw fis::EAbort();
}

void TfrmEmiPrevSocial::cdsAprovAgrupAfterScroll(ClientDataSet &)
{
    dtsPadraoStateChange();
}

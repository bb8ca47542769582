// The criteria controls of the filter dialog, their layout and tab order, and its catalogue.
#include "filter/Cli_fis02910.h"

#include "widgets/radiogroup.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Width of an edit that shows n characters.
int widthFor(const QWidget *w, int chars)
{
    return w->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('W'))) / 2 +
           w->fontMetrics().horizontalAdvance(QString(chars / 2 + 1, QLatin1Char('0'))) + 12;
}

QLabel *label(const char *name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

fis::MaskEdit *edit(const char *name, const QString &mask, int maxLength, QWidget *parent)
{
    auto *e = new fis::MaskEdit(parent);
    e->setObjectName(QLatin1String(name));
    if (!mask.isEmpty())
        e->setEditMask(mask);
    e->setMaxLength(maxLength);
    return e;
}

// A name display: read-only, never focused, greyed.
QLineEdit *nameDisplay(const char *name, QWidget *parent)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setReadOnly(true);
    e->setEnabled(false);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

TBtnPesquisa *lookup(const char *name, const QString &title, const QString &emptyError,
                     QWidget *associate, QWidget *parent)
{
    auto *b = new TBtnPesquisa(parent);
    b->setObjectName(QLatin1String(name));
    b->setTitle(title);
    b->setEmptyError(emptyError);
    b->setAssociate(associate);
    return b;
}

} // namespace

void TfrmFiltroEmiPrev::createControls()
{
    QWidget *box = grbFiltroPadrao;
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    criteriaLayout()->addLayout(grid);

    // Tax: the first focused control, highlighted as required.
    lblImposto = label("lblImposto", QStringLiteral("Imposto"), box);
    edtCdImposto = edit("edtCdImposto", QStringLiteral("99;0; "), 2, box);
    edtCdImposto->setFixedWidth(widthFor(edtCdImposto, 3));
    setHighlighted(edtCdImposto, true);
    btpImposto = lookup("btpImposto", QStringLiteral("Imposto"),
                        QStringLiteral("Não há imposto cadastrado."), edtCdImposto, box);
    edtNmImposto = nameDisplay("edtNmImposto", box);
    edtNmImposto->setMinimumWidth(200);

    lblFilial = label("lblFilial", QStringLiteral("Filial"), box);
    medCdFilial = edit("medCdFilial", QStringLiteral("9999;0; "), 4, box);
    medCdFilial->setFixedWidth(widthFor(medCdFilial, 5));
    btpFiliEmit = lookup("btpFiliEmit", QStringLiteral("Filial"),
                         QStringLiteral("Não há filial cadastrada."), medCdFilial, box);
    edtFilial = nameDisplay("edtFilial", box);

    lblFornecedor = label("lblFornecedor", QStringLiteral("Fornecedor"), box);
    medInscForne = edit("medInscForne", QStringLiteral("999999999999999999999;0; "), 21, box);
    medInscForne->setFixedWidth(widthFor(medInscForne, 21));
    btpPesqForn = lookup("btpPesqForn", QStringLiteral("Fornecedor"),
                         QStringLiteral("Não há fornecedor cadastrado"), medInscForne, box);
    edtNmForne = nameDisplay("edtNmForne", box);
    for (QWidget *w : {static_cast<QWidget *>(lblFornecedor), static_cast<QWidget *>(medInscForne),
                       static_cast<QWidget *>(btpPesqForn)})
        w->setEnabled(false);

    lblInscEsta = label("lblInscEsta", QStringLiteral("Insc. Estadual"), box);
    lblInscEsta->setProperty("Tag", 99);
    edtCdInscEsta = edit("edtCdInscEsta", QString(), 16, box);
    edtCdInscEsta->setUpperCase(true);
    edtCdInscEsta->setFixedWidth(widthFor(edtCdInscEsta, 16));
    btpInscEst =
        lookup("btpInscEst", QStringLiteral("Inscrição Estadual"),
               QStringLiteral("Não há inscrição estadual cadastrada."), edtCdInscEsta, box);

    lblInscMuni = label("lblInscMuni", QStringLiteral("Insc. Municipal"), box);
    lblInscMuni->setProperty("Tag", 99);
    edtCdInscMuni = edit("edtCdInscMuni", QString(), 16, box);
    edtCdInscMuni->setUpperCase(true);
    edtCdInscMuni->setFixedWidth(widthFor(edtCdInscMuni, 16));
    btpInscMuni =
        lookup("btpInscMuni", QStringLiteral("Inscrição Municipal"),
               QStringLiteral("Não há inscrição municipal cadastrada."), edtCdInscMuni, box);
    for (QWidget *w : {static_cast<QWidget *>(lblInscEsta), static_cast<QWidget *>(edtCdInscEsta),
                       static_cast<QWidget *>(btpInscEst), static_cast<QWidget *>(lblInscMuni),
                       static_cast<QWidget *>(edtCdInscMuni), static_cast<QWidget *>(btpInscMuni)})
        w->setEnabled(false);

    int row = 0;
    auto addRow = [&](QLabel *l, QWidget *field, QWidget *button, QWidget *display) {
        grid->addWidget(l, row, 0);
        auto *line = new QHBoxLayout;
        line->setSpacing(2);
        line->addWidget(field);
        line->addWidget(button);
        if (display) {
            line->addSpacing(4);
            line->addWidget(display, 1);
        } else {
            line->addStretch(1);
        }
        grid->addLayout(line, row, 1);
        ++row;
    };
    addRow(lblImposto, edtCdImposto, btpImposto, edtNmImposto);
    addRow(lblFilial, medCdFilial, btpFiliEmit, edtFilial);
    addRow(lblFornecedor, medInscForne, btpPesqForn, edtNmForne);
    addRow(lblInscEsta, edtCdInscEsta, btpInscEst, nullptr);
    addRow(lblInscMuni, edtCdInscMuni, btpInscMuni, nullptr);

    // Series and invoice number share one box.
    grbSerie = new QGroupBox(box);
    grbSerie->setObjectName(QStringLiteral("grbSerie"));
    auto *serie = new QHBoxLayout(grbSerie);
    lblSerie = label("lblSerie", QStringLiteral("Série"), grbSerie);
    edtCdSerie = edit("edtCdSerie", QString(), 5, grbSerie);
    edtCdSerie->setUpperCase(true);
    edtCdSerie->setFixedWidth(widthFor(edtCdSerie, 6));
    btpSerie =
        lookup("btpSerie", QStringLiteral("Série de Documentos de Saída"),
               QStringLiteral("Não há série cadastrada para a inscrição estadual informada."),
               edtCdSerie, grbSerie);
    lblNumNF = label("lblNumNF", QStringLiteral("Número da NF"), grbSerie);
    medNumNF = edit("medNumNF", QStringLiteral("99999999999999999999;0; "), 20, grbSerie);
    medNumNF->setFixedWidth(widthFor(medNumNF, 20));
    serie->addWidget(lblSerie);
    serie->addWidget(edtCdSerie);
    serie->addWidget(btpSerie);
    serie->addSpacing(16);
    serie->addWidget(lblNumNF);
    serie->addWidget(medNumNF);
    serie->addStretch();
    grid->addWidget(grbSerie, row++, 0, 1, 2);

    // Period with the map lookups, and the status beside it.
    grbPeriodo = new QGroupBox(QStringLiteral("Período"), box);
    grbPeriodo->setObjectName(QStringLiteral("grbPeriodo"));
    auto *periodo = new QGridLayout(grbPeriodo);
    auto dateEdit = [&](const char *name) {
        auto *d = new TDateEditPlus(grbPeriodo);
        d->setObjectName(QLatin1String(name));
        d->setFixedWidth(widthFor(d, 10) + 24);
        setHighlighted(d, true);
        return d;
    };
    const QString mapsTitle = QStringLiteral("Mapas Apurados");
    const QString mapsEmpty = QStringLiteral("Não há mapa apurado cadastrado.");
    lblEmiIni = label("lblEmiIni", QStringLiteral("Inicial"), grbPeriodo);
    depEmiIni = dateEdit("depEmiIni");
    btnPesqMpIni = lookup("btnPesqMpIni", mapsTitle, mapsEmpty, depEmiIni, grbPeriodo);
    lblEmiFin = label("lblEmiFin", QStringLiteral("Final"), grbPeriodo);
    depEmiFin = dateEdit("depEmiFin");
    btnPesqMpFim = lookup("btnPesqMpFim", mapsTitle, mapsEmpty, depEmiFin, grbPeriodo);
    btnPesqMpIni->setEnabled(false);
    btnPesqMpFim->setEnabled(false);
    periodo->addWidget(lblEmiIni, 0, 0);
    periodo->addWidget(depEmiIni, 0, 1);
    periodo->addWidget(btnPesqMpIni, 0, 2);
    periodo->addWidget(lblEmiFin, 1, 0);
    periodo->addWidget(depEmiFin, 1, 1);
    periodo->addWidget(btnPesqMpFim, 1, 2);
    periodo->setColumnStretch(3, 1);

    rdgStatus = new fis::RadioGroup(QStringLiteral("Status do GPS"), box);
    rdgStatus->setObjectName(QStringLiteral("rdgStatus"));
    rdgStatus->setItems(
        {QStringLiteral("Pendente"), QStringLiteral("Emitidos"), QStringLiteral("Ambos")});
    rdgStatus->setItemIndex(0);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(grbPeriodo, 1);
    bottom->addWidget(rdgStatus);
    grid->addLayout(bottom, row++, 0, 1, 2);

    // Tab order: the criteria top to bottom; name displays and lookup buttons take no focus.
    const QList<QWidget *> order = {edtCdImposto,  medCdFilial, medInscForne, edtCdInscEsta,
                                    edtCdInscMuni, edtCdSerie,  medNumNF,     depEmiIni,
                                    depEmiFin,     rdgStatus};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    setTabOrder(rdgStatus, sbtConfirma);
    edtCdImposto->setFocus(Qt::OtherFocusReason);
}

void TfrmFiltroEmiPrev::setHighlighted(QWidget *field, bool on)
{
    // Required fields show the information colour as their background; a disabled field keeps
    // the disabled look.
    QPalette pal = field->palette();
    const QPalette app = QApplication::palette(field);
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::Base,
                     app.color(group, on ? QPalette::ToolTipBase : QPalette::Base));
    pal.setColor(QPalette::Disabled, QPalette::Base, app.color(QPalette::Disabled, QPalette::Base));
    field->setPalette(pal);
}

bool TfrmFiltroEmiPrev::isHighlighted(const QWidget *field)
{
    const QPalette app = QApplication::palette(field);
    const QColor info = app.color(QPalette::Active, QPalette::ToolTipBase);
    return field->palette().color(QPalette::Active, QPalette::Base) == info &&
           info != app.color(QPalette::Active, QPalette::Base);
}

void TfrmFiltroEmiPrev::fillMessages()
{
    msgPadrao->setMessages({
        QStringLiteral("Filial_Cad|Filial não cadastrada."),
        QStringLiteral("InscEsta_Cad|Inscrição estadual não cadastrada."),
        QStringLiteral("InscEsta_Inf|Inscrição estadual deve ser informada."),
        QStringLiteral("InscMuni_Cad|Inscrição municipal não cadastrada."),
        QStringLiteral("SerieNF_Cad|Série não cadastrada."),
        QStringLiteral("DtIni_maior|Data de emissão inicial deve ser menor ou igual a data de "
                       "emissão final."),
        QStringLiteral("DtInf|Data de emissão deve ser informada."),
        QStringLiteral("Inicial|Inicial"),
        QStringLiteral("Final|Final"),
        QStringLiteral("Filial_inf|Filial deve ser informada."),
        QStringLiteral("Imp_cad|Imposto não cadastrado."),
        QStringLiteral("Imp_Inf|Imposto deve ser informado."),
        QStringLiteral("CGC_Pesq|Jurídica"),
        QStringLiteral("CPF_Pesq|Física"),
        QStringLiteral("OUTROS_Pesq|Outros"),
        QStringLiteral("JUR_Pesq|Insc. Jurídica"),
        QStringLiteral("Forn_N_Cad|Fornecedor não cadastrado."),
        QStringLiteral("Carg_Dad|Carregando dados do servidor..."),
        QStringLiteral("Dt_Ini_Inf|Data inicial deve ser informada."),
        QStringLiteral("Dt_Fin_Inf|Data final deve ser informada."),
        QStringLiteral("Dt_Ini_Men|Data inicial do período deve ser menor ou igual a data final "
                       "do período."),
        QStringLiteral("SerieNF_Inf|Série deve ser informada."),
    });
}

void TfrmFiltroEmiPrev::report(QWidget *field, const QString &key)
{
    focusField(field);
    Consiste::MensErro(msgPadrao->Msg(key), true);
}

void TfrmFiltroEmiPrev::focusField(QWidget *field)
{
    if (!field || !field->isEnabled())
        return;
    const bool was = m_restoringFocus;
    m_restoringFocus = true;
    field->setFocus(Qt::OtherFocusReason);
    m_restoringFocus = was;
}

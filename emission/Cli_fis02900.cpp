#include "emission/Cli_fis02900.h"

#include "framework/toolicons.h"
#include "package/Pkg_Fis02900.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QToolBar>
#include <QToolButton>

QPointer<TfrmEmiPrevSocial> frmEmiPrevSocial;
bool boStCriado = false;
bool boCtrl = false;
bool boFiltro = false;
QPixmap *bmPict = nullptr;
QString stFilial;
QString stLancamento;
QString stNrMapa;

namespace {
int g_initCount = 0;
} // namespace

TfrmEmiPrevSocial::TfrmEmiPrevSocial(QWidget *parent)
    : TfrmDadosGerRel(QStringLiteral("FIS02900"), QStringLiteral("FIS029"), parent)
{
    setObjectName(QStringLiteral("frmEmiPrevSocial"));
    setWindowTitle(QStringLiteral("Emissão Guia da Previdência Social"));
    // Closing the screen ends it: the next IniProc creates a fresh one.
    setAttribute(Qt::WA_DeleteOnClose);
    resize(841, 377);

    netEmisGuiaPrev = new TNetConnection(this);
    netEmisGuiaPrev->setObjectName(QStringLiteral("netEmisGuiaPrev"));
    netEmisGuiaPrev->setServerName(QString::fromLatin1(fis::rdmEmisGuiaPrv::kServerName));
    netEmisGuiaPrev->setThrowException(false);
    netEmisGuiaPrev->setBeforeConnect(
        [this](TNetConnection *sender) { netEmisGuiaPrevBeforeConnect(sender); });

    fillMessages();
    createRecordSets();
    createToolButtons();
    createReportPanel();
    createGrids();
    createSummary();
    createMenu();

    cbbReportNames->installEventFilter(this);
    connect(cbbReportNames, &QComboBox::activated, this,
            [this] { fis::guarded([this] { cbbReportNamesChange(); }); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *) { trackFocus(QApplication::focusWidget()); });
}

TfrmEmiPrevSocial::~TfrmEmiPrevSocial() = default;

void TfrmEmiPrevSocial::fillMessages()
{
    QStringList lines = msgPadrao->messages();
    lines << QStringLiteral("Empr_Cad|Empresa não cadastrada.")
          << QStringLiteral("Empr_Inf|Empresa deve ser informada.")
          << QStringLiteral("Entrada|Entrada") << QStringLiteral("Saida|Saída")
          << QStringLiteral("Carg_Dad|Carregando dados do servidor...")
          << QStringLiteral("Atu_Dad|Atualizando dados no servidor...")
          << QStringLiteral("Nf_Dif|Para gerar conta pagar agrupada por fornecedor, deve-se "
                            "selecionar notas de um mesmo fornecedor.")
          << QStringLiteral("Dt_Inv|Informe uma data válida.")
          << QStringLiteral("Inf_DT|Data de vencimento deve ser informada.")
          << QStringLiteral("Vr_Maior|O valor total das notas fiscais selecionadas deve ser "
                            "maior que dez reais(R$10,00).")
          << QStringLiteral("Dt_Dif|Deve ser informada a mesma data de vencimento para as notas "
                            "fiscais selecionadas.")
          << QStringLiteral("ERRO_CONTABILIZACAO|Conta a pagar não pode ser lançada com erros "
                            "de contabilização.")
          << QStringLiteral("Erro_Ben|Os impostos relacionados devem possuir os mesmos "
                            "beneficiários e contas a pagar.")
          << QStringLiteral("Cont_Exi|Operação Bloqueada! Existe(m) documento(s) "
                            "selecionado(s) que já foi(ram) emitido(s) e possue(m) conta a "
                            "pagar. É possível apenas exibir o relatório.")
          << QStringLiteral("Ben_Inf|Os impostos relacionados devem possuir beneficiário e "
                            "conta a pagar cadastrados.")
          << QStringLiteral("Dt_Ven_Dif|Para gerar conta pagar agrupada por fornecedor, "
                            "deve-se selecionar notas com o mesmo vencimento.")
          << QStringLiteral("Cod_Rec_Dif|Para gerar conta pagar agrupada por fornecedor, "
                            "deve-se selecionar notas com o mesmo código da Receita.")
          << QStringLiteral("Stat_Dif|Para gerar conta pagar agrupada por fornecedor, "
                            "deve-se selecionar notas com o status em aberto.")
          << QStringLiteral("Código|Código")
          << QStringLiteral("cod_rece|Código da Receita deve ser informado.")
          << QStringLiteral("Cod_Inv|Código da Receita deve ser parametrizado para o imposto no "
                            "Menu  -> Tabelas/ Código da Receita.")
          << QStringLiteral("Cont_Prev|Ocorreu um erro ao apagar a conta prevista.")
          << QStringLiteral("nf_inf|Para gerar a guia pelo menos uma nota fiscal estar "
                            "selecionada.")
          << QStringLiteral("Filtro_Inf|Informe o filtro antes de emitir as guias.")
          << QStringLiteral("Mapa_Inf|Selecione pelo menos um mapa.");
    msgPadrao->setMessages(lines);
}

void TfrmEmiPrevSocial::createToolButtons()
{
    const auto button = [this](const char *name, const QString &hint, fis::ToolIcon icon) {
        auto *b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setText(hint);
        b->setIcon(fis::toolIcon(icon));
        b->setFocusPolicy(Qt::NoFocus); // toolbar buttons never take the focus from the fields
        toolBar()->addWidget(b);
        return b;
    };
    sbtProcurar = button("sbtProcurar", QStringLiteral("Procurar"), fis::ToolIcon::Find);
    sbtVerificar = button("sbtVerificar", QStringLiteral("Atualizar"), fis::ToolIcon::Refresh);
    sbtFiltro = button("sbtFiltro", QStringLiteral("Filtrar"), fis::ToolIcon::Filter);
    sbtFiltro->setEnabled(false);
    connect(sbtProcurar, &QToolButton::clicked, this,
            [this] { fis::guarded([this] { sbtProcurarClick(); }); });
    connect(sbtVerificar, &QToolButton::clicked, this,
            [this] { fis::guarded([this] { sbtVerificarClick(); }); });
    connect(sbtFiltro, &QToolButton::clicked, this,
            [this] { fis::guarded([this] { sbtFiltroClick(); }); });

    createPictures();
}

void TfrmEmiPrevSocial::createReportPanel()
{
    lblEmpresa = new QLabel(QStringLiteral("Empresa"), panRelat);
    lblEmpresa->setObjectName(QStringLiteral("lblEmpresa"));
    QFont bold = lblEmpresa->font();
    bold.setBold(true);
    lblEmpresa->setFont(bold);

    medCdEmpresa = new fis::MaskEdit(panRelat);
    medCdEmpresa->setObjectName(QStringLiteral("medCdEmpresa"));
    medCdEmpresa->setEditMask(QStringLiteral("99;0; "));
    medCdEmpresa->setMaxLength(2);
    medCdEmpresa->setFixedWidth(
        medCdEmpresa->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 16);
    medCdEmpresa->onChange = [this] { fis::guarded([this] { medCdEmpresaChange(); }); };
    medCdEmpresa->onEnter = [this] {
        if (!m_restoringFocus)
            fis::guarded([this] { medCdEmpresaEnter(); });
    };
    medCdEmpresa->onExit = [this] {
        if (!m_restoringFocus)
            fis::guarded([this] { medCdEmpresaExit(); });
    };

    btpEmpresa = new TBtnPesquisa(panRelat);
    btpEmpresa->setObjectName(QStringLiteral("btpEmpresa"));
    btpEmpresa->setToolTip(QStringLiteral("Pesquisar"));
    btpEmpresa->setTitle(QStringLiteral("Empresa"));
    btpEmpresa->setAssociate(medCdEmpresa);
    btpEmpresa->SetDataSource(dtsEmpresa);
    btpEmpresa->setEmptyError(QStringLiteral("Não há empresa cadastrada."));
    btpEmpresa->OnBeforePesq = [this](TBtnPesquisa *sender, bool &cancel) {
        btpEmpresaBeforePesq(sender, cancel);
    };
    btpEmpresa->OnAfterPesq = [this](TBtnPesquisa *sender) { btpEmpresaAfterPesq(sender); };

    edtNmEmpresa = new QLineEdit(panRelat);
    edtNmEmpresa->setObjectName(QStringLiteral("edtNmEmpresa"));
    edtNmEmpresa->setEnabled(false);
    edtNmEmpresa->setFocusPolicy(Qt::NoFocus);
    edtNmEmpresa->setMinimumWidth(260);

    reportPanelLayout()->addWidget(lblEmpresa);
    reportPanelLayout()->addWidget(medCdEmpresa);
    reportPanelLayout()->addWidget(btpEmpresa);
    reportPanelLayout()->addWidget(edtNmEmpresa, 1);
}

void TfrmEmiPrevSocial::FormCreate()
{
    TfrmDadosGerRel::FormCreate();
    netEmisGuiaPrev->setConnected(true);
    // The first call of the screen: a server that is slow to answer shows the progress window
    // meanwhile, not a frozen screen.
    ActiveShowAvi(this, 0, msgPadrao->Msg(QStringLiteral("Carg_Dad")));
    const auto closeProgress = qScopeGuard([this] { DeactiveShowAvi(this); });
    const fis::Variant answer = fis::rdmEmisGuiaPrv::GetParamFiscal(*netEmisGuiaPrev);
    DeactiveShowAvi(this);
    const fis::DataPacket param = Consiste::CheckResultServ(answer, true, 0);
    cdsParamFiscal->setData(param);
    boCtrl = true;
    const QString mask = Consiste::DateMask();
    cdsAprovAgrup->fieldByName(QStringLiteral("VENCIMENTO"))->setEditMask(mask);
    cdsAprov->fieldByName(QStringLiteral("VENCIMENTO"))->setEditMask(mask);
    discardSelection();
}

void TfrmEmiPrevSocial::FormClose()
{
    TfrmDadosGerRel::FormClose();
    boStCriado = false;
    netEmisGuiaPrev->disconnect();
}

void TfrmEmiPrevSocial::netEmisGuiaPrevBeforeConnect(TNetConnection *sender)
{
    sender->setPort(Quorvin::WebPort());
    sender->setHost(Quorvin::WebURL());
    sender->setAuthToken(Quorvin::AuthToken());
    sender->setOperatorName(Quorvin::NomeOperador());
    sender->setTimeout(Quorvin::CallTimeout() * 1000);
}

void CriaEmiPrevSocial()
{
    fis::guarded([] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        if (!boStCriado || !frmEmiPrevSocial) {
            frmEmiPrevSocial = fis::package::createForm<TfrmEmiPrevSocial>(FisChildScreen);
            boStCriado = true;
        }
        fis::package::showMaximized(frmEmiPrevSocial);
    });
}

void IniProc()
{
    CriaEmiPrevSocial();
}

namespace fis::Cli_fis02900 {

void initialization()
{
    ++g_initCount;
}

void finalization()
{
    if (g_initCount == 0 || --g_initCount > 0)
        return;
    stFilial.clear();
    stLancamento.clear();
    stNrMapa.clear();
    // The screen's code lives in this module: it must not outlive it.
    fis::package::destroyForm(frmEmiPrevSocial);
    frmEmiPrevSocial = nullptr;
    boStCriado = false;
}

int initCount()
{
    return g_initCount;
}

} // namespace fis::Cli_fis02900

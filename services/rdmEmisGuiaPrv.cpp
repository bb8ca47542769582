#include "services/rdmEmisGuiaPrv.h"

#include "net/netconnection.h"

#include <QCoreApplication>

#include <functional>
#include <variant>
#include <vector>

namespace fis::rdmEmisGuiaPrv {

namespace {

using K = ArgKind;

// ---- declarations -------------------------------------------------------------------------

constexpr ArgDecl kGetEmisGuiaPrev[] = {
    {"stOperacao", K::Text, true},       {"cdEmpresa", K::Text, false},
    {"cdInscEsta", K::Text, false},      {"cdInscMuni", K::Text, false},
    {"cdSerie", K::Text, false},         {"nrNotaFiscal", K::Text, false},
    {"cdFilial", K::Text, false},        {"cdImposto", K::Text, false},
    {"inscForne", K::Text, false},       {"stStatus", K::Text, true},
    {"dtEmiIni", K::Date, false},        {"dtEmiFin", K::Date, false},
    {"dtProcessamento", K::Date, false}, {"stFilial", K::Text, true},
    {"stLancamento", K::Text, true},     {"idGerConPagGuia", K::Text, false},
    {"nrLanctoNf", K::Text, true},       {"cdFilialAtual", K::Text, false},
    {"vrTotalGuia", K::Float, true},     {"dtVencimento", K::Date, true},
    {"forneAux", K::Packet, false},      {"filiProc", K::Text, false},
    {"integracao", K::Packet, false},    {"nomeOperador", K::Text, false},
    {"stLanctoSel", K::Text, true},      {"stFilialSel", K::Text, true},
    {"reservado", K::Text, false},
};
static_assert(std::size(kGetEmisGuiaPrev) == kGetEmisGuiaPrevArity);

// The members of GetEmisGuiaPrevArgs in call order, beside the declarations above.
using A = GetEmisGuiaPrevArgs;
using Member = std::variant<QString A::*, double A::*, TDateTime A::*, DataPacket A::*>;
const Member kGetEmisGuiaPrevMembers[] = {
    &A::stOperacao,      &A::cdEmpresa,  &A::cdInscEsta,      &A::cdInscMuni,   &A::cdSerie,
    &A::nrNotaFiscal,    &A::cdFilial,   &A::cdImposto,       &A::inscForne,    &A::stStatus,
    &A::dtEmiIni,        &A::dtEmiFin,   &A::dtProcessamento, &A::stFilial,     &A::stLancamento,
    &A::idGerConPagGuia, &A::nrLanctoNf, &A::cdFilialAtual,   &A::vrTotalGuia,  &A::dtVencimento,
    &A::forneAux,        &A::filiProc,   &A::integracao,      &A::nomeOperador, &A::stLanctoSel,
    &A::stFilialSel,     &A::reservado,
};
static_assert(std::size(kGetEmisGuiaPrevMembers) == kGetEmisGuiaPrevArity);

constexpr ArgDecl kGetFunRural[] = {
    {"cdImposto", K::Text, false}, {"cdEmpresa", K::Text, false}, {"cdInscEsta", K::Text, false},
    {"dtEmiIni", K::Date, false},  {"dtEmiFin", K::Date, false},  {"stStatus", K::Text, true},
};
constexpr ArgDecl kGeraFunRural[] = {{"stNrMapa", K::Text, true}};
constexpr ArgDecl kGetVdContaPagar[] = {{"forneAux", K::Packet, false}};
constexpr ArgDecl kGetVdBeneficiario[] = {{"cdImposto", K::Text, true}};
constexpr ArgDecl kSetDtVenc[] = {
    {"cdFilial", K::Text, false},       {"nrLanctoNf", K::Text, false},
    {"vencimento", K::Text, false},     {"cdReceGuia", K::Text, false},
    {"vrOutrEntGuia", K::Float, false}, {"vrMultaGuia", K::Float, false},
};
constexpr ArgDecl kGetCodRecePad[] = {{"cdImposto", K::Text, false}};
constexpr ArgDecl kGetVdCodRece[] = {{"cdImposto", K::Text, false}, {"cdReceGuia", K::Text, false}};
constexpr ArgDecl kGetImpostoNfe[] = {{"cdImposto", K::Text, false}};
constexpr ArgDecl kGetParamFilial[] = {{"cdFilial", K::Text, false}};
constexpr ArgDecl kGetMapa[] = {
    {"dtEmiIni", K::Date, false},   {"cdEmpresa", K::Text, false}, {"cdImposto", K::Text, false},
    {"cdInscEsta", K::Text, false}, {"idTipo", K::Text, false},
};

const MethodDecl kMethods[] = {
    {"GetParamFiscal", {}},
    {"GetEmisGuiaPrev", kGetEmisGuiaPrev},
    {"GetFunRural", kGetFunRural},
    {"GeraFunRural", kGeraFunRural},
    {"GetVdContaPagar", kGetVdContaPagar},
    {"GetVdBeneficiario", kGetVdBeneficiario},
    {"SetDtVenc", kSetDtVenc},
    {"GetCodRecePad", kGetCodRecePad},
    {"GetVdCodRece", kGetVdCodRece},
    {"GetImpostoNfe", kGetImpostoNfe},
    {"GetParamFilial", kGetParamFilial},
    {"GetMapa", kGetMapa},
};

const MethodDecl &decl(const char *name)
{
    const MethodDecl *m = findMethod(QString::fromLatin1(name));
    Q_ASSERT(m);
    return *m;
}

QString kindText(ArgKind kind)
{
    switch (kind) {
    case K::Text:
        return QStringLiteral("texto");
    case K::Float:
        return QStringLiteral("número");
    case K::Date:
        return QStringLiteral("data");
    case K::Packet:
        return QStringLiteral("pacote de dados");
    case K::Array:
        return QStringLiteral("lista");
    case K::Any:
        break;
    }
    return QStringLiteral("valor");
}

// ---- marshalling ----------------------------------------------------------------------------

// Collects the arguments of one call in order; by-reference ones remember where their value
// goes back. Write-back is all or nothing: every returned value is checked before any variable
// changes.
class Call
{
public:
    explicit Call(const MethodDecl &method) : m_method(method) {}

    void in(const QString &v) { push(makeText(v), {}); }
    void in(double v) { push(makeFloat(v), {}); }
    void in(TDateTime v) { push(makeDate(v), {}); }
    void in(const DataPacket &v) { push(makePacket(v), {}); }

    void ref(QString &v)
    {
        push(makeText(v), [&v](const Variant &r) { v = r.isNull() ? QString() : r.toString(); });
    }
    void ref(double &v)
    {
        push(makeFloat(v), [&v](const Variant &r) { v = r.isNull() ? 0.0 : r.toDouble(); });
    }
    void ref(TDateTime &v)
    {
        push(makeDate(v),
             [&v](const Variant &r) { v = r.isNull() ? TDateTime() : r.value<TDateTime>(); });
    }

    Variant run(TNetConnection &net)
    {
        Q_ASSERT(m_values.size() == m_method.args.size());
        QList<Variant *> args;
        args.reserve(qsizetype(m_values.size()));
        for (Variant &v : m_values)
            args.append(&v);
        Variant result = net.call(QString::fromLatin1(m_method.name), args);
        if (net.lastCallFailed())
            return result;
        for (size_t i = 0; i < m_values.size(); ++i) {
            const ArgKind want = m_method.args[i].kind;
            if (m_backs[i] && !fits(m_values[i], want))
                return refused(int(i), want);
        }
        for (size_t i = 0; i < m_values.size(); ++i) {
            if (m_backs[i])
                m_backs[i](m_values[i]);
        }
        return result;
    }

private:
    void push(Variant v, std::function<void(const Variant &)> back)
    {
        m_values.push_back(std::move(v));
        m_backs.push_back(std::move(back));
    }

    static bool fits(const Variant &v, ArgKind kind)
    {
        const VariantKind k = kindOf(v);
        if (k == VariantKind::Null)
            return true;
        switch (kind) {
        case K::Text:
            return k == VariantKind::Text;
        case K::Float:
            return k == VariantKind::Float;
        case K::Date:
            return k == VariantKind::Date;
        case K::Packet:
            return k == VariantKind::Packet;
        case K::Array:
            return k == VariantKind::Array;
        case K::Any:
            return k != VariantKind::Invalid;
        }
        return false;
    }

    Variant refused(int index, ArgKind want) const
    {
        return makeText(QCoreApplication::translate(
                            "rdmEmisGuiaPrv",
                            "Resposta inválida do servidor de aplicação em %1: o argumento "
                            "%2 (%3) voltou como %4, mas deve ser %5.")
                            .arg(QString::fromLatin1(m_method.name))
                            .arg(index + 1)
                            .arg(QString::fromLatin1(m_method.args[size_t(index)].name),
                                 kindName(kindOf(m_values[size_t(index)])), kindText(want)));
    }

    const MethodDecl &m_method;
    std::vector<Variant> m_values;
    std::vector<std::function<void(const Variant &)>> m_backs;
};

} // namespace

std::span<const MethodDecl> methods()
{
    return kMethods;
}

const MethodDecl *findMethod(const QString &name)
{
    for (const MethodDecl &m : kMethods) {
        if (name == QLatin1String(m.name))
            return &m;
    }
    return nullptr;
}

Variant GetParamFiscal(TNetConnection &net)
{
    return Call(decl("GetParamFiscal")).run(net);
}

Variant GetEmisGuiaPrev(TNetConnection &net, GetEmisGuiaPrevArgs &args)
{
    Call call(decl("GetEmisGuiaPrev"));
    for (size_t i = 0; i < std::size(kGetEmisGuiaPrevMembers); ++i) {
        const bool byRef = kGetEmisGuiaPrev[i].byRef;
        std::visit(
            [&](auto member) {
                auto &value = args.*member;
                using T = std::remove_reference_t<decltype(value)>;
                if constexpr (std::is_same_v<T, DataPacket>)
                    call.in(value);
                else if (byRef)
                    call.ref(value);
                else
                    call.in(value);
            },
            kGetEmisGuiaPrevMembers[i]);
    }
    return call.run(net);
}

Variant GetFunRural(TNetConnection &net, const QString &cdImposto, const QString &cdEmpresa,
                    const QString &cdInscEsta, TDateTime dtEmiIni, TDateTime dtEmiFin,
                    QString &stStatus)
{
    Call call(decl("GetFunRural"));
    call.in(cdImposto);
    call.in(cdEmpresa);
    call.in(cdInscEsta);
    call.in(dtEmiIni);
    call.in(dtEmiFin);
    call.ref(stStatus);
    return call.run(net);
}

Variant GeraFunRural(TNetConnection &net, QString &stNrMapa)
{
    Call call(decl("GeraFunRural"));
    call.ref(stNrMapa);
    return call.run(net);
}

Variant GetVdContaPagar(TNetConnection &net, const DataPacket &forneAux)
{
    Call call(decl("GetVdContaPagar"));
    call.in(forneAux);
    return call.run(net);
}

Variant GetVdBeneficiario(TNetConnection &net, QString &cdImposto)
{
    Call call(decl("GetVdBeneficiario"));
    call.ref(cdImposto);
    return call.run(net);
}

Variant SetDtVenc(TNetConnection &net, const QString &cdFilial, const QString &nrLanctoNf,
                  const QString &vencimento, const QString &cdReceGuia, double vrOutrEntGuia,
                  double vrMultaGuia)
{
    Call call(decl("SetDtVenc"));
    call.in(cdFilial);
    call.in(nrLanctoNf);
    call.in(vencimento);
    call.in(cdReceGuia);
    call.in(vrOutrEntGuia);
    call.in(vrMultaGuia);
    return call.run(net);
}

Variant GetCodRecePad(TNetConnection &net, const QString &cdImposto)
{
    Call call(decl("GetCodRecePad"));
    call.in(cdImposto);
    return call.run(net);
}

Variant GetVdCodRece(TNetConnection &net, const QString &cdImposto, const QString &cdReceGuia)
{
    Call call(decl("GetVdCodRece"));
    call.in(cdImposto);
    call.in(cdReceGuia);
    return call.run(net);
}

Variant GetImpostoNfe(TNetConnection &net, const QString &cdImposto)
{
    Call call(decl("GetImpostoNfe"));
    call.in(cdImposto);
    return call.run(net);
}

Variant GetParamFilial(TNetConnection &net, const QString &cdFilial)
{
    Call call(decl("GetParamFilial"));
    call.in(cdFilial);
    return call.run(net);
}

Variant GetMapa(TNetConnection &net, TDateTime dtEmiIni, const QString &cdEmpresa,
                const QString &cdImposto, const QString &cdInscEsta, const QString &idTipo)
{
    Call call(decl("GetMapa"));
    call.in(dtEmiIni);
    call.in(cdEmpresa);
    call.in(cdImposto);
    call.in(cdInscEsta);
    call.in(idTipo);
    return call.run(net);
}

} // namespace fis::rdmEmisGuiaPrv

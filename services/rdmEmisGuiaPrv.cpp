#include "services/rdmEmisGuiaPrv.h"

#include "net/netconnection.h"

#include <QCoreApplication>

namespace fis::rdmEmisGuiaPrv {

namespace {

using K = ArgKind;

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

bool fits(const Variant &v, ArgKind kind)
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

Variant refused(const MethodDecl &method, int index, const Variant &value)
{
    const ArgDecl &arg = method.args[size_t(index)];
    return makeText(
        QCoreApplication::translate("rdmEmisGuiaPrv",
                                    "Resposta inválida do servidor de aplicação em %1: o argumento "
                                    "%2 (%3) voltou como %4, mas deve ser %5.")
            .arg(QString::fromLatin1(method.name))
            .arg(index + 1)
            .arg(QString::fromLatin1(arg.name), kindName(kindOf(value)), kindText(arg.kind)));
}

// Sends the arguments in call order; when the call succeeds and every written-back value has
// its declared kind, the by-reference members take them (all or nothing).
template <class Args>
Variant send(TNetConnection &net, Args &args)
{
    const MethodDecl method = declOf<Args>();
    QList<Variant> wire = toWire(args);
    QList<Variant *> pointers;
    pointers.reserve(wire.size());
    for (Variant &v : wire)
        pointers.append(&v);
    const Variant result = net.call(QString::fromLatin1(method.name), pointers);
    if (net.lastCallFailed())
        return result;
    for (int i = 0; i < int(method.args.size()); ++i) {
        if (method.args[size_t(i)].byRef && !fits(wire.at(i), method.args[size_t(i)].kind))
            return refused(method, i, wire.at(i));
    }
    readBack(wire, args);
    return result;
}

} // namespace

Variant GetParamFiscal(TNetConnection &net)
{
    GetParamFiscalArgs args;
    return send(net, args);
}

Variant GetEmisGuiaPrev(TNetConnection &net, GetEmisGuiaPrevArgs &args)
{
    return send(net, args);
}

Variant GetFunRural(TNetConnection &net, const QString &cdImposto, const QString &cdEmpresa,
                    const QString &cdInscEsta, TDateTime dtEmiIni, TDateTime dtEmiFin,
                    QString &stStatus)
{
    GetFunRuralArgs args{.cdImposto = cdImposto,
                         .cdEmpresa = cdEmpresa,
                         .cdInscEsta = cdInscEsta,
                         .dtEmiIni = dtEmiIni,
                         .dtEmiFin = dtEmiFin,
                         .stStatus = stStatus};
    const Variant result = send(net, args);
    stStatus = args.stStatus;
    return result;
}

Variant GeraFunRural(TNetConnection &net, QString &stNrMapa)
{
    GeraFunRuralArgs args{.stNrMapa = stNrMapa};
    const Variant result = send(net, args);
    stNrMapa = args.stNrMapa;
    return result;
}

Variant GetVdContaPagar(TNetConnection &net, const DataPacket &forneAux)
{
    GetVdContaPagarArgs args{.forneAux = forneAux};
    return send(net, args);
}

Variant GetVdBeneficiario(TNetConnection &net, QString &cdImposto)
{
    GetVdBeneficiarioArgs args{.cdImposto = cdImposto};
    const Variant result = send(net, args);
    cdImposto = args.cdImposto;
    return result;
}

Variant SetDtVenc(TNetConnection &net, const QString &cdFilial, const QString &nrLanctoNf,
                  const QString &vencimento, const QString &cdReceGuia, double vrOutrEntGuia,
                  double vrMultaGuia)
{
    SetDtVencArgs args{.cdFilial = cdFilial,
                       .nrLanctoNf = nrLanctoNf,
                       .vencimento = vencimento,
                       .cdReceGuia = cdReceGuia,
                       .vrOutrEntGuia = vrOutrEntGuia,
                       .vrMultaGuia = vrMultaGuia};
    return send(net, args);
}

Variant GetCodRecePad(TNetConnection &net, const QString &cdImposto)
{
    GetCodRecePadArgs args{.cdImposto = cdImposto};
    return send(net, args);
}

Variant GetVdCodRece(TNetConnection &net, const QString &cdImposto, const QString &cdReceGuia)
{
    GetVdCodReceArgs args{.cdImposto = cdImposto, .cdReceGuia = cdReceGuia};
    return send(net, args);
}

Variant GetImpostoNfe(TNetConnection &net, const QString &cdImposto)
{
    GetImpostoNfeArgs args{.cdImposto = cdImposto};
    return send(net, args);
}

Variant GetParamFilial(TNetConnection &net, const QString &cdFilial)
{
    GetParamFilialArgs args{.cdFilial = cdFilial};
    return send(net, args);
}

Variant GetMapa(TNetConnection &net, TDateTime dtEmiIni, const QString &cdEmpresa,
                const QString &cdImposto, const QString &cdInscEsta, const QString &idTipo)
{
    GetMapaArgs args{.dtEmiIni = dtEmiIni,
                     .cdEmpresa = cdEmpresa,
                     .cdImposto = cdImposto,
                     .cdInscEsta = cdInscEsta,
                     .idTipo = idTipo};
    return send(net, args);
}

} // namespace fis::rdmEmisGuiaPrv

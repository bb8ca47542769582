#include "guiaservice.h"

#include "sqlhelpers.h"

#include <cmath>

namespace fis {

using namespace service;

namespace {

bool kindAccepts(ArgKind kind, const Variant &v)
{
    const VariantKind k = kindOf(v);
    if (k == VariantKind::Invalid)
        return false;
    if (k == VariantKind::Null || kind == ArgKind::Any)
        return true;
    switch (kind) {
    case ArgKind::Text:
        return k == VariantKind::Text;
    case ArgKind::Float:
        return k == VariantKind::Float;
    case ArgKind::Date:
        return k == VariantKind::Date;
    case ArgKind::Packet:
        return k == VariantKind::Packet;
    case ArgKind::Array:
        return k == VariantKind::Array;
    case ArgKind::Any:
        break;
    }
    return true;
}

Variant emptyOf(ArgKind kind)
{
    switch (kind) {
    case ArgKind::Text:
        return QString();
    case ArgKind::Float:
        return 0.0;
    case ArgKind::Date:
        return makeDate(TDateTime());
    case ArgKind::Packet:
        return makePacket(DataPacket());
    case ArgKind::Array:
        return QVariantList();
    case ArgKind::Any:
        break;
    }
    return {};
}

} // namespace

double roundCents(double value)
{
    return std::round(value * 100.0) / 100.0;
}

GuiaService::GuiaService(QSqlDatabase db, DbKind kind) : m_db(std::move(db)), m_kind(kind) {}

QDateTime GuiaService::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

const QList<GuiaService::MethodSpec> &GuiaService::methods()
{
    using P = RpcParam;
    const P t = P::in(ArgKind::Text), tr = P::ref(ArgKind::Text), d = P::in(ArgKind::Date),
            dr = P::ref(ArgKind::Date), f = P::in(ArgKind::Float), fr = P::ref(ArgKind::Float),
            pk = P::in(ArgKind::Packet);
    static const QList<MethodSpec> list = {
        {QStringLiteral("GetParamFiscal"), {}, &GuiaService::GetParamFiscal},
        {QStringLiteral("GetEmisGuiaPrev"),
         {tr, t, t,  t, t,  t,  t,  t, t,  tr, d,  d,  d, tr,
          tr, t, tr, t, fr, dr, pk, t, pk, t,  tr, tr, t},
         &GuiaService::GetEmisGuiaPrev},
        {QStringLiteral("GetFunRural"), {t, t, t, d, d, tr}, &GuiaService::GetFunRural},
        {QStringLiteral("GeraFunRural"), {tr}, &GuiaService::GeraFunRural},
        {QStringLiteral("GetVdContaPagar"), {pk}, &GuiaService::GetVdContaPagar},
        {QStringLiteral("GetVdBeneficiario"), {tr}, &GuiaService::GetVdBeneficiario},
        {QStringLiteral("SetDtVenc"), {t, t, t, t, f, f}, &GuiaService::SetDtVenc},
        {QStringLiteral("GetCodRecePad"), {t}, &GuiaService::GetCodRecePad},
        {QStringLiteral("GetVdCodRece"), {t, t}, &GuiaService::GetVdCodRece},
        {QStringLiteral("GetImpostoNfe"), {t}, &GuiaService::GetImpostoNfe},
        {QStringLiteral("GetParamFilial"), {t}, &GuiaService::GetParamFilial},
        {QStringLiteral("GetMapa"), {d, t, t, t, t}, &GuiaService::GetMapa},
    };
    return list;
}

Variant GuiaService::call(const QString &method, QList<Variant> &args, const CallInfo &info)
{
    for (const MethodSpec &spec : methods()) {
        if (spec.name != method)
            continue;
        if (args.size() != spec.params.size())
            throw ServiceError(QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                                   .arg(method)
                                   .arg(spec.params.size())
                                   .arg(args.size()));
        for (int i = 0; i < args.size(); ++i) {
            args[i] = normalized(args[i]);
            if (!kindAccepts(spec.params[i].kind, args[i]))
                throw ServiceError(QStringLiteral("%1: argumento %2 deveria ser %3.")
                                       .arg(method)
                                       .arg(i + 1)
                                       .arg(argKindName(spec.params[i].kind)));
            if (args[i].isNull())
                args[i] = emptyOf(spec.params[i].kind);
        }
        return (this->*spec.method)(args, info);
    }
    throw ServiceError(QStringLiteral("Método desconhecido: %1.").arg(method));
}

void GuiaService::audit(const QString &operador, const QString &operation, const QString &key,
                        const QString &detail)
{
    Sql(m_db, QStringLiteral("INSERT INTO AUDITORIA (DTHORA, NMOPERADOR, DSOPERACAO, DSCHAVE, "
                             "DSDETALHE) VALUES (?, ?, ?, ?, ?)"))
        .exec({now(), operador.left(60), operation, key.left(200), detail.left(2000)});
}

} // namespace fis

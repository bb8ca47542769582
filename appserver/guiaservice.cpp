#include "guiaservice.h"

#include "sqlhelpers.h"

#include "net/rpcargs.h"

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

// The arity, kinds and values of a call, as the server framing checks them; nulls become the
// empty value of their kind.
void checkArguments(const rdmEmisGuiaPrv::MethodDecl &decl, QList<Variant> &args)
{
    const QString method = QString::fromLatin1(decl.name);
    if (args.size() != qsizetype(decl.args.size()))
        throw ServiceError(QStringLiteral("%1 espera %2 argumento(s), recebeu %3.")
                               .arg(method)
                               .arg(decl.args.size())
                               .arg(args.size()));
    for (int i = 0; i < args.size(); ++i) {
        const ArgKind kind = decl.args[size_t(i)].kind;
        args[i] = normalized(args[i]);
        if (!kindAccepts(kind, args[i]))
            throw ServiceError(QStringLiteral("%1: argumento %2 deveria ser %3.")
                                   .arg(method)
                                   .arg(i + 1)
                                   .arg(argKindName(kind)));
        QString why;
        if (!checkArgument(args[i], &why))
            throw ServiceError(
                QStringLiteral("%1: argumento %2: %3.").arg(method).arg(i + 1).arg(why));
        if (args[i].isNull())
            args[i] = emptyOf(kind);
    }
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

Variant GuiaService::call(const QString &method, QList<Variant> &args, const CallInfo &info)
{
    bool found = false;
    Variant result;
    forEachMethod([&](auto m) {
        constexpr rdmEmisGuiaPrv::MethodDecl decl = rdmEmisGuiaPrv::declOf<ArgsOf<decltype(m)>>();
        if (found || method != QLatin1String(decl.name))
            return;
        found = true;
        checkArguments(decl, args);
        result = run(m, args, info);
    });
    if (!found)
        throw ServiceError(QStringLiteral("Método desconhecido: %1.").arg(method));
    // A listing read when sent is read now, while the database is as the call left it.
    if (kindOf(result) == VariantKind::Packet && result.value<DataPacket>().source)
        result = makePacket(DataPacket(result.value<DataPacket>().encoded()));
    return result;
}

void GuiaService::audit(const QString &operador, const QString &operation, const QString &key,
                        const QString &detail)
{
    Sql(m_db, QStringLiteral("INSERT INTO AUDITORIA (DTHORA, NMOPERADOR, DSOPERACAO, DSCHAVE, "
                             "DSDETALHE) VALUES (?, ?, ?, ?, ?)"))
        .exec({now(), operador.left(60), operation, key.left(200), detail.left(2000)});
}

} // namespace fis

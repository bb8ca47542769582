#pragma once
// The business methods of the server object "Fis02900.rdmEmisGuiaPrv": invoices with the
// social-security tax withheld, their guides, the payables and postings of a guide, the rural
// contribution maps and the lookups behind the filter dialog.
//
// Every method takes the arguments struct its declaration in services/ names (already checked
// against the declared kinds) and may change the by-reference members, which go back to the
// caller. A refused request throws fis::ServiceError with a Portuguese text meant for the user;
// nothing has been written then.
//
// One concern per file: listing.cpp (the invoice listing), duedates.cpp (SetDtVenc),
// emission.cpp (guides, payables, postings), forecastpayables.cpp (GetVdContaPagar),
// ruralmaps.cpp, lookups.cpp; guiaservice.cpp dispatches by name and keeps the audit trail.
#include "database.h"
#include "listingquery.h"
#include "serviceerror.h"

#include "net/rpcserver.h"
#include "services/rdmEmisGuiaPrvDecl.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <type_traits>

namespace fis {

inline constexpr const char *kServerObject = rdmEmisGuiaPrv::kServerName;
inline constexpr double kMinimumGuideValue = 10.0;

struct CallInfo
{
    QString peer;     // client address, for the audit trail
    QString operador; // the operator the request carries (see docs/protocol.md); may be empty

    // Whom the audit trail names: the request's operator, else `fallback`, else the address.
    QString who(const QString &fallback = {}) const
    {
        if (!operador.isEmpty())
            return operador;
        return fallback.isEmpty() ? peer : fallback;
    }
};

class GuiaService
{
public:
    GuiaService(QSqlDatabase db, DbKind kind);

    // Clock of the audit trail and of emissions (tests pin it).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    Variant GetParamFiscal(const rdmEmisGuiaPrv::GetParamFiscalArgs &args, const CallInfo &info);
    Variant GetEmisGuiaPrev(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args, const CallInfo &info);
    Variant GetFunRural(rdmEmisGuiaPrv::GetFunRuralArgs &args, const CallInfo &info);
    Variant GeraFunRural(const rdmEmisGuiaPrv::GeraFunRuralArgs &args, const CallInfo &info);
    Variant GetVdContaPagar(const rdmEmisGuiaPrv::GetVdContaPagarArgs &args, const CallInfo &info);
    Variant GetVdBeneficiario(const rdmEmisGuiaPrv::GetVdBeneficiarioArgs &args,
                              const CallInfo &info);
    Variant SetDtVenc(const rdmEmisGuiaPrv::SetDtVencArgs &args, const CallInfo &info);
    Variant GetCodRecePad(const rdmEmisGuiaPrv::GetCodRecePadArgs &args, const CallInfo &info);
    Variant GetVdCodRece(const rdmEmisGuiaPrv::GetVdCodReceArgs &args, const CallInfo &info);
    Variant GetImpostoNfe(const rdmEmisGuiaPrv::GetImpostoNfeArgs &args, const CallInfo &info);
    Variant GetParamFilial(const rdmEmisGuiaPrv::GetParamFilialArgs &args, const CallInfo &info);
    Variant GetMapa(const rdmEmisGuiaPrv::GetMapaArgs &args, const CallInfo &info);

    // Calls f(&GuiaService::Method) for each of the twelve methods, in the order of the
    // interface; ArgsOf<decltype(method)> is the arguments struct of the method passed.
    template <class F>
    static void forEachMethod(F &&f)
    {
        f(&GuiaService::GetParamFiscal);
        f(&GuiaService::GetEmisGuiaPrev);
        f(&GuiaService::GetFunRural);
        f(&GuiaService::GeraFunRural);
        f(&GuiaService::GetVdContaPagar);
        f(&GuiaService::GetVdBeneficiario);
        f(&GuiaService::SetDtVenc);
        f(&GuiaService::GetCodRecePad);
        f(&GuiaService::GetVdCodRece);
        f(&GuiaService::GetImpostoNfe);
        f(&GuiaService::GetParamFilial);
        f(&GuiaService::GetMapa);
    }

    template <class Method>
    struct ArgsOfMethod;
    template <class A>
    struct ArgsOfMethod<Variant (GuiaService::*)(A &, const CallInfo &)>
    {
        using type = std::remove_const_t<A>;
    };
    template <class Method>
    using ArgsOf = typename ArgsOfMethod<Method>::type;

    // Runs one method on a wire list of its arity and kinds: the members are read from the
    // list, and the by-reference ones written back into it.
    template <class Method>
    Variant run(Method method, QList<Variant> &wire, const CallInfo &info)
    {
        ArgsOf<Method> args = rdmEmisGuiaPrv::fromWire<ArgsOf<Method>>(wire);
        const Variant result = (this->*method)(args, info);
        rdmEmisGuiaPrv::writeBack(args, wire);
        return result;
    }

    // Runs a method by name on a wire list (tests and tools): checks the arity and the kinds
    // as the server framing does; throws ServiceError for an unknown name, arity or kind. A
    // packet result comes as bytes, read before it returns.
    Variant call(const QString &method, QList<Variant> &args, const CallInfo &info = {});

private:
    // The listing criteria of GetEmisGuiaPrev, shared by the listing and by the reload that
    // follows an emission.
    using Criteria = service::ListingCriteria;

    // listing.cpp
    static Criteria listingCriteria(const rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args,
                                    const QString &op);
    DataPacket listInvoices(const Criteria &criteria);
    // emission.cpp
    Variant emitGuides(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args, const CallInfo &info,
                       bool entries);
    Variant emitWithPayables(rdmEmisGuiaPrv::GetEmisGuiaPrevArgs &args, const QString &operador,
                             const QStringList &branches, const QStringList &entries,
                             const Criteria &listing);

    // forecastpayables.cpp: the forecast payables of the invoices, removed inside the caller's
    // transaction, each with its audit row.
    void removeForecastPayables(const QList<QPair<QString, QString>> &keys,
                                const QString &operador);

    void audit(const QString &operador, const QString &operation, const QString &key,
               const QString &detail);
    QDateTime now() const;

    QSqlDatabase m_db;
    DbKind m_kind;
    std::function<QDateTime()> m_clock;
};

// Money rounded to cents.
double roundCents(double value);

} // namespace fis

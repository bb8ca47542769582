#pragma once
// The business methods of the server object "Fis02900.rdmEmisGuiaPrv": invoices with the
// social-security tax withheld, their guides, the payables and postings of a guide, the rural
// contribution maps and the lookups behind the filter dialog.
//
// Every method takes its arguments by position (already checked against the declared kinds,
// see methods()) and may overwrite the by-reference ones. A refused request throws
// fis::ServiceError with a Portuguese text meant for the user; nothing has been written then.
#include "database.h"
#include "net/rpcserver.h"
#include "serviceerror.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <functional>

namespace fis {

inline constexpr char kServerObject[] = "Fis02900.rdmEmisGuiaPrv";
inline constexpr double kMinimumGuideValue = 10.0;

struct CallInfo
{
    QString peer;     // client address, for the audit trail
    QString operador; // operator name when the call carries none of its own
};

class GuiaService
{
public:
    using Method = Variant (GuiaService::*)(QList<Variant> &args, const CallInfo &info);
    struct MethodSpec
    {
        QString name;
        QList<RpcParam> params;
        Method method;
    };
    // The twelve methods with their arity, kinds and by-reference positions.
    static const QList<MethodSpec> &methods();

    GuiaService(QSqlDatabase db, DbKind kind);

    // Clock of the audit trail and of emissions (tests pin it).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    Variant GetParamFiscal(QList<Variant> &args, const CallInfo &info);
    Variant GetEmisGuiaPrev(QList<Variant> &args, const CallInfo &info);
    Variant GetFunRural(QList<Variant> &args, const CallInfo &info);
    Variant GeraFunRural(QList<Variant> &args, const CallInfo &info);
    Variant GetVdContaPagar(QList<Variant> &args, const CallInfo &info);
    Variant GetVdBeneficiario(QList<Variant> &args, const CallInfo &info);
    Variant SetDtVenc(QList<Variant> &args, const CallInfo &info);
    Variant GetCodRecePad(QList<Variant> &args, const CallInfo &info);
    Variant GetVdCodRece(QList<Variant> &args, const CallInfo &info);
    Variant GetImpostoNfe(QList<Variant> &args, const CallInfo &info);
    Variant GetParamFilial(QList<Variant> &args, const CallInfo &info);
    Variant GetMapa(QList<Variant> &args, const CallInfo &info);

    // Runs a method by name (tests and tools); throws ServiceError for an unknown name or arity.
    Variant call(const QString &method, QList<Variant> &args, const CallInfo &info = {});

private:
    // The listing criteria of GetEmisGuiaPrev, shared by the listing and by the reload that
    // follows an emission.
    struct Criteria
    {
        QString op; // "S" exits, "E" entries
        QString company, inscEsta, inscMuni, serie, numNF, filial, imposto, inscForne, status;
        QDate start, end;
    };
    struct Invoice;
    struct Emission;

    static Criteria listingCriteria(const QList<Variant> &args, const QString &op);
    DataPacket listInvoices(const Criteria &criteria);
    Variant emitGuides(QList<Variant> &args, const CallInfo &info, bool entries);
    QList<Invoice> lockInvoices(const QStringList &branches, const QStringList &entries,
                                const QString &company, const QString &operation);
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

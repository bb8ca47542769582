#include "framework/quorvin.h"

#include <QDate>

namespace {

fis::LoginValues &values()
{
    static fis::LoginValues v;
    return v;
}

} // namespace

void Quorvin::setLogin(const fis::LoginValues &login)
{
    values() = login;
}

const fis::LoginValues &Quorvin::login()
{
    return values();
}

QString Quorvin::FiliProc()
{
    return values().filiProc;
}

fis::TDateTime Quorvin::DataProc(const QString &branch)
{
    const auto it = values().branchDates.constFind(branch.trimmed());
    if (it != values().branchDates.constEnd() && !it->isNull())
        return it->datePart();
    if (!values().dataProc.isNull())
        return values().dataProc.datePart();
    return fis::TDateTime::fromDate(QDate::currentDate());
}

QString Quorvin::NomeOperador()
{
    return values().nomeOperador;
}

QString Quorvin::ReportDir()
{
    return values().reportDir;
}

QString Quorvin::WebURL()
{
    return values().webUrl;
}

int Quorvin::WebPort()
{
    return values().webPort;
}

QString Quorvin::AuthToken()
{
    return values().authToken;
}

int Quorvin::CallTimeout()
{
    return qMax(1, values().callTimeout);
}

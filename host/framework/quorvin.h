#pragma once
// The login values of the running session: who logged in, on which branch, the processing dates,
// where the reports live and where the application server listens. The host application fills
// them once at start-up (settings file and command line) with Quorvin::setLogin(); screens only
// read them.
#include "data/variant.h"

#include <QHash>
#include <QString>

namespace fis {

struct LoginValues
{
    QString filiProc;                      // branch of the login
    TDateTime dataProc;                    // processing date of the branches not listed below
    QHash<QString, TDateTime> branchDates; // processing date per branch code
    QString nomeOperador;                  // operator name
    QString reportDir;                     // directory of the report definitions
    QString webUrl;                        // application-server host
    int webPort = 0;                       // application-server port
    QString authToken;                     // token sent with every remote call
    int callTimeout = 60;                  // seconds a remote call may take before it fails
};

} // namespace fis

class Quorvin
{
public:
    static void setLogin(const fis::LoginValues &values);
    static const fis::LoginValues &login();

    static QString FiliProc();
    // Processing date of the branch: its own date when it has one, else the login's processing
    // date, else today (a session without a processing date still works on the calendar date).
    static fis::TDateTime DataProc(const QString &branch);
    static QString NomeOperador();
    static QString ReportDir();
    static QString WebURL();
    static int WebPort();
    static QString AuthToken();
    // Seconds a connection waits for a server's answer (never less than 1).
    static int CallTimeout();
};

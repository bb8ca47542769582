// The run's set-up and notes:
//   login KEY=VALUE ...      login values (FiliProc, DataProc, DataProc@BRANCH, NomeOperador,
//                            ReportDir, Token)
//   server fake | HOST:PORT  the application server, chosen before the run starts
//   note "text"              a line in the transcript
#include "families.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include <QTextStream>

namespace fis::scenario {

namespace {

bool validAddress(const QString &address)
{
    const int colon = int(address.lastIndexOf(QLatin1Char(':')));
    if (colon <= 0)
        return false;
    bool ok = false;
    const int port = address.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port < 65536;
}

} // namespace

void parseLogin(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Login;
    static const QStringList keys{QStringLiteral("FiliProc"), QStringLiteral("DataProc"),
                                  QStringLiteral("NomeOperador"), QStringLiteral("ReportDir"),
                                  QStringLiteral("Token")};
    if (in.atEnd())
        in.fail(QStringLiteral("expected KEY=VALUE after login"));
    while (!in.atEnd()) {
        const QString key = in.word(QStringLiteral("a login key"));
        if (key == QLatin1String("WebURL") || key == QLatin1String("WebPort"))
            in.fail(QStringLiteral("%1 is the runner's own server; choose a real one with "
                                   "'server HOST:PORT'")
                        .arg(key));
        const QString base = key.section(QLatin1Char('@'), 0, 0);
        if (!keys.contains(base) ||
            (key.contains(QLatin1Char('@')) && base != QLatin1String("DataProc")))
            in.fail(QStringLiteral("unknown login key '%1' (known: %2, DataProc@BRANCH)")
                        .arg(key, keys.join(QStringLiteral(", "))));
        in.punct('=');
        const QString v = in.text(QStringLiteral("the value of ") + key);
        if (base == QLatin1String("DataProc") && !parseDateLiteral(v))
            in.fail(QStringLiteral("%1: '%2' is not a date (dd/MM/yyyy)").arg(key, v));
        st.settings.insert(key, v);
    }
}

void runLogin(Runner &r, const Statement &st)
{
    r.host().addLogin(st.settings);
}

void parseServer(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Server;
    st.text = in.text(QStringLiteral("'fake' or HOST:PORT"));
    if (st.text != QLatin1String("fake") && !validAddress(st.text))
        in.fail(QStringLiteral("'%1' is neither 'fake' nor HOST:PORT").arg(st.text));
}

void runServer(Runner &, const Statement &)
{
    // Chosen before the run starts.
}

void parseNote(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Note;
    st.text = in.string(QStringLiteral("the note"));
}

void runNote(Runner &r, const Statement &st)
{
    r.out() << "  # " << st.text << Qt::endl;
}

} // namespace fis::scenario

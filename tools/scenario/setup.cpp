// Set-up statements, answers to modal windows, and counts on the host database.
#include "runner_p.h"

namespace fis::scenario {

void Runner::executeSetup(const Statement &st)
{
    switch (st.kind) {
    case StatementKind::Login:
        for (auto it = st.settings.cbegin(); it != st.settings.cend(); ++it)
            m_login.insert(it.key(), it.value());
        applyLogin();
        return;
    case StatementKind::Server:
        return; // chosen before the run starts
    case StatementKind::Table:
        m_tables.insert(st.table->name, *st.table);
        return;
    case StatementKind::Reply: {
        FakeAppServer::Answer answer;
        answer.isError = st.reply.isError;
        answer.errorText = st.reply.errorText;
        answer.outputs = st.reply.outputs;
        if (st.reply.table)
            answer.result = makePacket(packetOf(*st.reply.table));
        else if (!st.reply.packetName.isEmpty())
            answer.result = makePacket(namedPacket(st.reply.packetName));
        else
            answer.result = st.reply.result;
        if (st.reply.once)
            m_server->queueAnswer(st.target, answer);
        else
            m_server->setDefaultAnswer(st.target, answer);
        return;
    }
    case StatementKind::Database: {
        if (!m_options.database.isEmpty()) {
            m_out << "  # " << st.file << ":" << st.line << "  " << st.source
                  << ": the database of the command line is used instead" << Qt::endl;
            return;
        }
        if (m_databaseUsed)
            failNow(QStringLiteral("database"),
                    QStringLiteral("the database file named before any inline table or SQL"),
                    QStringLiteral("the host database already written"));
        copyDatabase(resolvePath(st.text));
        return;
    }
    case StatementKind::DbTable:
    case StatementKind::DbSql: {
        m_databaseUsed = true;
        const QString connection = QStringLiteral("fis_scenario_setup");
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(m_databasePath);
            if (!db.open()) {
                error = db.lastError().text();
            } else {
                QSqlQuery q(db);
                QStringList statements;
                if (st.kind == StatementKind::DbSql) {
                    statements = splitSql(st.text);
                } else {
                    QStringList cols;
                    for (const TableColumn &c : st.table->columns)
                        cols << c.name + QLatin1Char(' ') + sqlType(c);
                    statements << QStringLiteral("CREATE TABLE %1 (%2)")
                                      .arg(st.table->name, cols.join(QStringLiteral(", ")));
                }
                db.transaction();
                for (const QString &sql : std::as_const(statements)) {
                    if (!q.exec(sql)) {
                        error = QStringLiteral("%1: %2").arg(sql, q.lastError().text());
                        break;
                    }
                }
                if (error.isEmpty() && st.kind == StatementKind::DbTable) {
                    QStringList marks;
                    for (qsizetype i = 0; i < st.table->columns.size(); ++i)
                        marks << QStringLiteral("?");
                    q.prepare(QStringLiteral("INSERT INTO %1 VALUES (%2)")
                                  .arg(st.table->name, marks.join(QStringLiteral(", "))));
                    for (const QVariantList &row : st.table->rows) {
                        for (int i = 0; i < row.size(); ++i) {
                            const Variant &v = row[i];
                            if (kindOf(v) == VariantKind::Date)
                                q.bindValue(i, v.value<TDateTime>().toDate());
                            else if (kindOf(v) == VariantKind::Null)
                                q.bindValue(i, QVariant());
                            else
                                q.bindValue(i, v);
                        }
                        if (!q.exec()) {
                            error = q.lastError().text();
                            break;
                        }
                    }
                }
                if (error.isEmpty())
                    db.commit();
                else
                    db.rollback();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        if (!error.isEmpty())
            failNow(QStringLiteral("database"), QStringLiteral("the statements to run"), error);
        return;
    }
    default:
        return;
    }
}

void Runner::executeAnswer(const Statement &st)
{
    switch (st.answerKind) {
    case AnswerKind::PickRow:
        m_ui->queuePickRow(st.number);
        return;
    case AnswerKind::PickValue:
        m_ui->queuePickValue(st.field, st.value);
        return;
    case AnswerKind::PickCancel:
        m_ui->queuePickCancel();
        return;
    case AnswerKind::FindValue:
        m_ui->queueFindValue(st.field, st.value);
        return;
    case AnswerKind::FindCancel:
        m_ui->queueFindCancel();
        return;
    case AnswerKind::IntegrationSame:
        m_ui->queueIntegrationSame();
        return;
    case AnswerKind::IntegrationCancel:
        m_ui->queueIntegrationCancel();
        return;
    case AnswerKind::IntegrationPacket:
        m_ui->queueIntegration(st.table ? packetOf(*st.table) : namedPacket(st.target));
        return;
    case AnswerKind::Confirm:
        m_ui->queueConfirmation(st.flag);
        return;
    case AnswerKind::Dialog:
        m_dialogAnswers.append({st.target, st.nested});
        return;
    }
}

qint64 Runner::countOnHostDatabase(const QString &sql)
{
    // Read-only: an expectation looks at the data, it never changes it.
    const QString connection = QStringLiteral("fis_scenario_count");
    QString error;
    qint64 count = -1;
    if (!QFileInfo::exists(m_databasePath)) {
        error = QStringLiteral("the host database is still empty (no database statement ran)");
    } else {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(m_databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            try {
                HostDatabase::installNvl(db); // as the screens' own statements have it
                QSqlQuery q(db);
                q.setForwardOnly(true);
                if (!q.exec(sql)) {
                    error = q.lastError().text();
                } else if (q.record().count() != 1) {
                    error = QStringLiteral("the query gives %1 columns, not one count")
                                .arg(q.record().count());
                } else if (!q.next()) {
                    error = QStringLiteral("the query gives no row");
                } else {
                    bool ok = false;
                    const QVariant v = q.value(0);
                    count = v.toLongLong(&ok);
                    // A count is a whole number: 2.5 is not rounded into one.
                    if (ok && v.typeId() == QMetaType::Double && v.toDouble() != double(count))
                        ok = false;
                    if (v.isNull() || !ok || count < 0)
                        error =
                            QStringLiteral("the query gives %1, not a count")
                                .arg(v.isNull() ? QStringLiteral("null") : quoted(v.toString()));
                    else if (q.next())
                        error = QStringLiteral("the query gives more than one row");
                }
            } catch (const std::exception &e) {
                error = QString::fromUtf8(e.what());
            }
            db.close();
        }
        db = QSqlDatabase();
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty())
        failNow(QStringLiteral("records"), QStringLiteral("a count from the host database"), error);
    return count;
}

} // namespace fis::scenario

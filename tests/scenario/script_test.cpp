// The scenario language: what each statement reads into, and that a bad script is refused with
// the line that is wrong.
#include "script.h"

#include "data/packet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fis;
using namespace fis::scenario;

namespace {

Statement one(const QString &text)
{
    const Script s = parseText(text);
    EXPECT_EQ(s.statements.size(), 1) << text.toStdString();
    return s.statements.value(0);
}

// The message of the error the text raises, with its line ("file:line: message").
QString errorOf(const QString &text)
{
    try {
        parseText(text, QStringLiteral("t.fis"));
    } catch (const ScriptError &e) {
        return e.describe();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(ScriptParser, SetupStatements)
{
    const Statement login =
        one(QStringLiteral("login FiliProc=\"0001\" DataProc=15/03/2026 DataProc@0002=20/03/2026 "
                           "NomeOperador=\"ANA\" Token=abc"));
    EXPECT_EQ(login.kind, StatementKind::Login);
    EXPECT_EQ(login.settings.value("FiliProc"), "0001");
    EXPECT_EQ(login.settings.value("DataProc"), "15/03/2026");
    EXPECT_EQ(login.settings.value("DataProc@0002"), "20/03/2026");
    EXPECT_EQ(login.settings.value("Token"), "abc");

    EXPECT_EQ(one("server fake").text, "fake");
    EXPECT_EQ(one("server 127.0.0.1:8211").text, "127.0.0.1:8211");
    EXPECT_EQ(one("database \"host db.sqlite\"").text, "host db.sqlite");
    EXPECT_EQ(one("note \"a remark\"").text, "a remark");

    const Statement sql =
        one("database sql\nCREATE TABLE T (A INT);\nINSERT INTO T VALUES (1);\nend");
    EXPECT_EQ(sql.kind, StatementKind::DbSql);
    EXPECT_EQ(sql.text, "CREATE TABLE T (A INT);\nINSERT INTO T VALUES (1);");
}

TEST(ScriptParser, InlineTablesConvertCellsByColumnType)
{
    const Statement st =
        one(QStringLiteral("database table EMPRESA\n"
                           "  # a comment inside the table\n"
                           "  CDEMPRESA:string(2) | NM:string | VR:float | DT:date | FX:fixed(3)\n"
                           "  01 | \"Uma | Duas\" | 1234.5 | 15/03/2026 | A\n"
                           "  02 |                | null   |            | \"\"\n"
                           "end"));
    ASSERT_EQ(st.kind, StatementKind::DbTable);
    const InlineTable &t = *st.table;
    EXPECT_EQ(t.name, "EMPRESA");
    ASSERT_EQ(t.columns.size(), 5);
    EXPECT_EQ(t.columns[0].size, 2);
    EXPECT_EQ(t.columns[1].size, 0);
    EXPECT_EQ(t.columns[2].type, ColumnType::Float);
    EXPECT_EQ(t.columns[3].type, ColumnType::Date);
    EXPECT_EQ(t.columns[4].type, ColumnType::Fixed);
    ASSERT_EQ(t.rows.size(), 2);
    EXPECT_EQ(t.rows[0][0].toString(), "01"); // a code stays text, leading zero kept
    EXPECT_EQ(t.rows[0][1].toString(), "Uma | Duas");
    EXPECT_DOUBLE_EQ(t.rows[0][2].toDouble(), 1234.5);
    EXPECT_EQ(t.rows[0][3].value<TDateTime>().toDate(), QDate(2026, 3, 15));
    EXPECT_EQ(kindOf(t.rows[1][1]), VariantKind::Null);
    EXPECT_EQ(kindOf(t.rows[1][2]), VariantKind::Null);
    EXPECT_EQ(kindOf(t.rows[1][3]), VariantKind::Null);
    EXPECT_EQ(kindOf(t.rows[1][4]), VariantKind::Text); // "" is an empty text, not null
    EXPECT_FALSE(t.rows[1][4].toString().isNull());      // (a null text is stored as NULL)
}

TEST(ScriptParser, Replies)
{
    const Statement value = one("reply GetVdContaPagar [\"\", \"ok\"]");
    EXPECT_EQ(value.target, "GetVdContaPagar");
    EXPECT_FALSE(value.reply.once);
    EXPECT_EQ(value.reply.result.toList().size(), 2);

    const Statement outs =
        one("reply GetFunRural once out 6=\"N\" out 1=date(01/02/2026 10:30) packet MAPAS");
    EXPECT_TRUE(outs.reply.once);
    EXPECT_EQ(outs.reply.outputs.value(6).toString(), "N");
    EXPECT_EQ(outs.reply.outputs.value(1).value<TDateTime>().toDateTime(),
              QDateTime(QDate(2026, 2, 1), QTime(10, 30)));
    EXPECT_EQ(outs.reply.packetName, "MAPAS");

    const Statement err = one("reply SetDtVenc error \"Falhou\"");
    EXPECT_TRUE(err.reply.isError);
    EXPECT_EQ(err.reply.errorText, "Falhou");

    const Statement table = one("reply GetParamFiscal table\nIDGERCONPAGGUIA:string(1)\nS\nend");
    ASSERT_TRUE(table.reply.table.has_value());
    EXPECT_EQ(table.reply.table->rows.size(), 1);

    EXPECT_EQ(kindOf(one("reply X null").reply.result), VariantKind::Null);
    EXPECT_DOUBLE_EQ(one("reply X -10.25").reply.result.toDouble(), -10.25);
}

TEST(ScriptParser, ModalAnswers)
{
    EXPECT_EQ(one("answer pick row 3").answerKind, AnswerKind::PickRow);
    EXPECT_EQ(one("answer pick row 3").number, 3);
    const Statement byValue = one("answer pick CDEMPRESA=\"01\"");
    EXPECT_EQ(byValue.answerKind, AnswerKind::PickValue);
    EXPECT_EQ(byValue.field, "CDEMPRESA");
    EXPECT_EQ(byValue.value.toString(), "01");
    EXPECT_EQ(one("answer pick cancel").answerKind, AnswerKind::PickCancel);
    EXPECT_EQ(one("answer find NMRAZSOCEMPR=\"metal\"").answerKind, AnswerKind::FindValue);
    EXPECT_EQ(one("answer find cancel").answerKind, AnswerKind::FindCancel);
    EXPECT_EQ(one("answer integration same").answerKind, AnswerKind::IntegrationSame);
    EXPECT_EQ(one("answer integration cancel").answerKind, AnswerKind::IntegrationCancel);
    EXPECT_EQ(one("answer integration packet CONTAB").target, "CONTAB");
    EXPECT_TRUE(one("answer integration table\nA:string\nx\nend").table.has_value());
    EXPECT_TRUE(one("answer confirm yes").flag);
    EXPECT_FALSE(one("answer confirm no").flag);

    const Statement dialog = one("answer dialog frmFiltroEmiPrev click sbtCancel");
    EXPECT_EQ(dialog.answerKind, AnswerKind::Dialog);
    EXPECT_EQ(dialog.target, "frmFiltroEmiPrev");
    ASSERT_TRUE(dialog.nested);
    EXPECT_EQ(dialog.nested->kind, StatementKind::Click);
    EXPECT_EQ(dialog.nested->target, "sbtCancel");
}

TEST(ScriptParser, Actions)
{
    EXPECT_EQ(one("call CriaFiltroEmiPrevSocial").kind, StatementKind::Call);
    const Statement type = one("type medCdEmpresa \"01\"");
    EXPECT_EQ(type.target, "medCdEmpresa");
    EXPECT_EQ(type.text, "01");
    EXPECT_TRUE(one("type \"abc\"").target.isEmpty());

    const Statement keys = one("key Down Space Ctrl+I Escape in dbgPadrao");
    ASSERT_EQ(keys.keys.size(), 4);
    EXPECT_EQ(keys.keys[0].key(), Qt::Key_Down);
    EXPECT_EQ(keys.keys[2].key(), Qt::Key_I);
    EXPECT_EQ(keys.keys[2].keyboardModifiers(), Qt::ControlModifier);
    EXPECT_EQ(keys.keys[3].key(), Qt::Key_Escape);
    EXPECT_EQ(keys.target, "dbgPadrao");
    EXPECT_EQ(one("key F5").keys[0].key(), Qt::Key_F5);

    EXPECT_EQ(one("click mnuImprimir").target, "mnuImprimir");
    EXPECT_EQ(one("menu \"Operação/Imprimir\"").text, "Operação/Imprimir");
    EXPECT_EQ(one("focus medCdEmpresa").kind, StatementKind::Focus);
    const Statement leave = one("leave medCdEmpresa to dbgPadrao");
    EXPECT_EQ(leave.target, "medCdEmpresa");
    EXPECT_EQ(leave.other, "dbgPadrao");
    EXPECT_TRUE(one("leave").target.isEmpty());

    const Statement byIndex = one("choose cbbReportNames 2");
    EXPECT_TRUE(byIndex.hasNumber);
    EXPECT_EQ(byIndex.number, 2);
    const Statement byText = one("choose rdgStatus \"Ambos\"");
    EXPECT_FALSE(byText.hasNumber);
    EXPECT_EQ(byText.text, "Ambos");

    const Statement cell = one("cell dbgPadrao 2 IDCHECK double");
    EXPECT_EQ(cell.number, 2);
    EXPECT_EQ(cell.field, "IDCHECK");
    EXPECT_TRUE(cell.flag);
    EXPECT_EQ(one("title dbgPadrao IDCHECK").field, "IDCHECK");
    EXPECT_EQ(one("close frmEmiPrevSocial").kind, StatementKind::Close);
    EXPECT_TRUE(one("close frmEmiPrevSocial").isAction());
    EXPECT_FALSE(one("expect no dialog").isAction());
}

TEST(ScriptParser, Expectations)
{
    const Statement msg = one("expect message error \"Empresa não cadastrada.\"");
    EXPECT_EQ(msg.expectKind, ExpectKind::Message);
    EXPECT_EQ(msg.other, "error");
    EXPECT_EQ(msg.text, "Empresa não cadastrada.");
    EXPECT_TRUE(one("expect message \"x\"").other.isEmpty());
    EXPECT_EQ(one("expect no message since line 12").sinceLine, 12);
    EXPECT_EQ(one("expect no message").sinceLine, 0);
    EXPECT_EQ(one("expect messages 2").number, 2);
    EXPECT_EQ(one("expect focus medCdEmpresa").expectKind, ExpectKind::Focus);
    EXPECT_EQ(one("expect sbtFiltro disabled").text, "disabled");
    EXPECT_EQ(one("expect frmEmiPrevSocial absent").expectKind, ExpectKind::State);
    EXPECT_EQ(one("expect medCdEmpresa text \"01\"").expectKind, ExpectKind::Text);
    EXPECT_EQ(one("expect depEmiIni display \"  /  /    \"").text, "  /  /    ");
    EXPECT_EQ(one("expect cbbReportNames index -1").number, -1);
    EXPECT_EQ(one("expect cbbReportNames count 3").expectKind, ExpectKind::Count);
    EXPECT_EQ(one("expect dbgPadrao row 1").expectKind, ExpectKind::Row);
    const Statement prop = one("expect sbtFiltro property toolTip \"Filtrar\"");
    EXPECT_EQ(prop.field, "toolTip");
    EXPECT_EQ(prop.expected.value.toString(), "Filtrar");
    const Statement cell = one("expect cell dbgPadrao 1 VENCIMENTO \"20/04/2026\"");
    EXPECT_EQ(cell.number, 1);
    EXPECT_EQ(cell.field, "VENCIMENTO");
    EXPECT_EQ(one("expect records cdsAprov 3").number, 3);
    const Statement field = one("expect field cdsAprov 2 VRTOTAL 11.5");
    EXPECT_DOUBLE_EQ(field.expected.value.toDouble(), 11.5);

    const Statement call =
        one("expect call[2] GetEmisGuiaPrev 1=\"S\" 13=date(15/03/2026) 21=packet(0) 23=* 19=0");
    EXPECT_EQ(call.number, 2);
    EXPECT_EQ(call.target, "GetEmisGuiaPrev");
    ASSERT_EQ(call.args.size(), 5);
    EXPECT_EQ(call.args[2].first, 21);
    EXPECT_EQ(call.args[2].second.kind, Expected::Kind::PacketRows);
    EXPECT_EQ(call.args[3].second.kind, Expected::Kind::Any);
    EXPECT_EQ(one("expect call SetDtVenc").number, 1);
    EXPECT_EQ(one("expect no call since line 4").expectKind, ExpectKind::NoCall);
    EXPECT_EQ(one("expect calls GetVdCodRece 2").number, 2);
    EXPECT_FALSE(one("expect dialog frmFiltroEmiPrev").flag);
    EXPECT_TRUE(one("expect dialog frmFiltroEmiPrev opened").flag);
    EXPECT_EQ(one("expect no dialog").expectKind, ExpectKind::NoDialog);
    EXPECT_EQ(one("expect pick \"Empresa\"").text, "Empresa");
    EXPECT_EQ(one("expect find").expectKind, ExpectKind::Find);
    EXPECT_EQ(one("expect integration").expectKind, ExpectKind::Integration);
    EXPECT_TRUE(one("expect result true").flag);
}

TEST(ScriptParser, CommentsBlankLinesAndLineNumbers)
{
    const Script s = parseText(QStringLiteral("# heading\n\ncall IniProc   # trailing\n"
                                              "type medCdEmpresa \"a # b\"\n"),
                               QStringLiteral("x.fis"));
    ASSERT_EQ(s.statements.size(), 2);
    EXPECT_EQ(s.statements[0].line, 3);
    EXPECT_EQ(s.statements[0].source, "call IniProc   # trailing");
    EXPECT_EQ(s.statements[1].text, "a # b"); // a # inside quotes is text
    EXPECT_EQ(s.statements[1].file, "x.fis");
}

TEST(ScriptParser, IncludesKeepTheirOwnFileAndLines)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto write = [&](const QString &name, const QByteArray &text) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("prelude.fis", "\nlogin FiliProc=\"0002\"\n");
    write("main.fis", "include prelude.fis\ncall IniProc\n");
    const Script s = parseFile(dir.filePath("main.fis"));
    ASSERT_EQ(s.statements.size(), 2);
    EXPECT_EQ(s.statements[0].file, "prelude.fis");
    EXPECT_EQ(s.statements[0].line, 2);
    EXPECT_EQ(s.statements[1].file, "main.fis");
    EXPECT_EQ(s.statements[1].line, 2);
    EXPECT_EQ(s.baseDir, dir.path());

    write("loop.fis", "include loop.fis\n");
    try {
        parseFile(dir.filePath("loop.fis"));
        FAIL() << "a file including itself was accepted";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.line(), 1);
        EXPECT_TRUE(e.message().contains("includes itself"));
    }
    write("missing.fis", "call IniProc\ninclude nowhere.fis\n");
    try {
        parseFile(dir.filePath("missing.fis"));
        FAIL() << "a missing include was accepted";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.line(), 2);
    }
}

TEST(ScriptParser, ErrorsNameTheLine)
{
    EXPECT_EQ(errorOf("call IniProc\n\ntipe x \"1\""), "t.fis:3: unknown statement 'tipe'");
    EXPECT_EQ(errorOf("type medCdEmpresa \"01"), "t.fis:1: quoted text not closed");
    EXPECT_EQ(errorOf("call Abre"),
              "t.fis:1: unknown entry point 'Abre' (known: IniProc, CriaEmiPrevSocial, "
              "CriaFiltroEmiPrevSocial)");
    EXPECT_EQ(errorOf("call frm."),
              "t.fis:1: unknown entry point 'frm.' (known: IniProc, CriaEmiPrevSocial, "
              "CriaFiltroEmiPrevSocial)");
    EXPECT_EQ(errorOf("call frmEmiPrevSocial.FormActivate"), "<no error>"); // a screen method
    EXPECT_EQ(errorOf("click"),
              "t.fis:1: expected the control or menu item, found the end of the line");
    EXPECT_EQ(errorOf("click a b"), "t.fis:1: unexpected 'b' at the end of the statement");
    EXPECT_TRUE(errorOf("key Ctrl+Banana").startsWith("t.fis:1: 'Ctrl+Banana' is not a key"));
    EXPECT_TRUE(errorOf("login DataProc=31/02/2026")
                    .startsWith("t.fis:1: DataProc: '31/02/2026' is not a date"));
    EXPECT_TRUE(errorOf("login WebPort=1").contains("server HOST:PORT"));
    EXPECT_TRUE(errorOf("login Senha=1").startsWith("t.fis:1: unknown login key 'Senha'"));
    EXPECT_TRUE(errorOf("server localhost").startsWith("t.fis:1: 'localhost' is neither"));
    EXPECT_TRUE(errorOf("reply X 1,5").startsWith("t.fis:1: unexpected ','"));
    EXPECT_TRUE(errorOf("reply X abc").startsWith("t.fis:1: expected a value"));
    EXPECT_TRUE(
        errorOf("expect medCdEmpresa colour \"red\"").startsWith("t.fis:1: unknown expectation"));
    EXPECT_TRUE(
        errorOf("expect no message since 3").startsWith("t.fis:1: expected 'since line N'"));
    EXPECT_TRUE(errorOf("expect call[0] X").contains("from 1"));
    EXPECT_TRUE(errorOf("answer pick").startsWith("t.fis:1: expected 'row N', 'cancel'"));
    EXPECT_TRUE(errorOf("answer dialog D expect no dialog")
                    .startsWith("t.fis:1: 'expect' is not an action"));
    EXPECT_TRUE(errorOf("note plain").contains("in double quotes"));
    EXPECT_TRUE(errorOf("type x \"\\q\"").contains("unknown escape"));
}

TEST(ScriptParser, TableErrorsNameTheirLine)
{
    EXPECT_EQ(errorOf("call IniProc\ntable T\nA:string | B:float\nx | 1\ny\nend"),
              "t.fis:5: row has 1 values, the table has 2 columns");
    EXPECT_EQ(errorOf("table T\nA:string\nx\n"),
              "t.fis:1: the table started here has no line 'end'");
    EXPECT_EQ(
        errorOf("table T\nA:text\nend"),
        "t.fis:2: column 'A:text' is not NAME:type (types: string(n), fixed(n), float, date)");
    EXPECT_EQ(errorOf("table T\nA:float\n1,5\nend"),
              "t.fis:3: column A: '1,5' is not a number (write 1234.56)");
    EXPECT_EQ(errorOf("table T\nD:date\n2026-03-15\nend"),
              "t.fis:3: column D: '2026-03-15' is not a date (dd/MM/yyyy)");
    EXPECT_EQ(errorOf("table T\nA:fixed\nend"), "t.fis:2: column 'A': fixed needs a size");
    EXPECT_EQ(errorOf("table T\nA:string | a:string\nend"), "t.fis:2: column 'a' appears twice");
    EXPECT_EQ(errorOf("table T\n# only a comment\nend"), "t.fis:1: the table has no column line");
    EXPECT_EQ(errorOf("database sql\nSELECT 1;"),
              "t.fis:1: the SQL block started here has no line 'end'");
}

TEST(ExpectedValue, ComparesByKindWithToleranceForNumbersAndDates)
{
    const Variant day = makeDate(*parseDateLiteral("15/03/2026"));
    EXPECT_TRUE(Expected::exact(day).matches(day));
    // Same day with a time of day is another value: a date argument must carry no time.
    EXPECT_FALSE(Expected::exact(day).matches(makeDate(*parseDateLiteral("15/03/2026 10:00"))));
    EXPECT_TRUE(Expected::exact(makeFloat(0.1 + 0.2)).matches(makeFloat(0.3)));
    EXPECT_FALSE(Expected::exact(makeFloat(10)).matches(makeText("10")));
    EXPECT_FALSE(Expected::exact(makeText("")).matches(Variant())); // empty text is not null
    // Integers and booleans from Qt are compared as the floats they travel as.
    EXPECT_TRUE(Expected::exact(makeFloat(1)).matches(QVariant(true)));

    QString found;
    EXPECT_FALSE(Expected::exact(makeText("S")).matches(makeText("E"), &found));
    EXPECT_EQ(found, "\"E\"");

    const DataPacket two =
        buildPacket({{"A", FieldType::String, 2}}, {{makeText("x")}, {makeText("y")}});
    EXPECT_TRUE((Expected{Expected::Kind::PacketRows, {}, 2}).matches(makePacket(two), &found));
    EXPECT_EQ(found, "packet(2 rows)");
    EXPECT_FALSE((Expected{Expected::Kind::PacketRows, {}, 1}).matches(makePacket(two)));
    EXPECT_TRUE((Expected{Expected::Kind::PacketRows, {}, 0}).matches(makePacket(DataPacket{})));
    EXPECT_FALSE((Expected{Expected::Kind::AnyPacket, {}, 0}).matches(makeText("erro")));
    EXPECT_TRUE((Expected{Expected::Kind::Any, {}, 0}).matches(Variant()));
    // A corrupt packet never matches a row count and is shown as corrupt.
    DataPacket junk;
    junk.bytes = "\x01\x02";
    EXPECT_FALSE((Expected{Expected::Kind::PacketRows, {}, 0}).matches(makePacket(junk), &found));
    EXPECT_TRUE(found.startsWith("packet(corrupt"));

    EXPECT_FALSE(parseDateLiteral("29/02/2026").has_value());
    EXPECT_TRUE(parseDateLiteral("29/02/2028").has_value());
    EXPECT_FALSE(parseDateLiteral("15/03/2026 25:00").has_value());
}

TEST(ScriptParser, WindowsLineEndingsEscapesAndNestedIncludes)
{
    const Script crlf = parseText(QStringLiteral("call IniProc\r\ntable T\r\nA:string\r\n"
                                                 "\"diz \\\"sim\\\"\"\r\nend\r\n"));
    ASSERT_EQ(crlf.statements.size(), 2);
    EXPECT_EQ(crlf.statements[0].target, "IniProc");
    EXPECT_EQ(crlf.statements[1].table->rows[0][0].toString(), "diz \"sim\"");

    // An include inside an included file is found beside that file, not beside the script.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("common"));
    auto write = [&](const QString &name, const QByteArray &text) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("common/a.fis", "include b.fis\n");
    write("common/b.fis", "note \"b\"\n");
    write("main.fis", "include common/a.fis\n");
    const Script s = parseFile(dir.filePath("main.fis"));
    ASSERT_EQ(s.statements.size(), 1);
    EXPECT_EQ(s.statements[0].file, "b.fis");
    // Including the same file twice in a row is not a cycle.
    write("twice.fis", "include common/b.fis\ninclude common/b.fis\n");
    EXPECT_EQ(parseFile(dir.filePath("twice.fis")).statements.size(), 2);
}

TEST(ScriptParser, DialogAnswersTakeAnyAction)
{
    const Statement st = one("answer dialog frmFiltroEmiPrev key Esc in edtCdImposto");
    ASSERT_TRUE(st.nested);
    EXPECT_EQ(st.nested->kind, StatementKind::Key);
    EXPECT_EQ(st.nested->target, "edtCdImposto");
    EXPECT_EQ(st.nested->line, 1);
    EXPECT_TRUE(st.nested->isAction());
    EXPECT_EQ(one("answer dialog D type edtCdImposto \"01\"").nested->text, "01");
}

TEST(ExpectedValue, ArraysCompareItemByItem)
{
    const QVariantList two{makeText(QStringLiteral("MSG")), makeFloat(2)};
    EXPECT_TRUE(Expected::exact(QVariant(two)).matches(QVariant(two)));
    EXPECT_FALSE(Expected::exact(QVariant(two)).matches(QVariant(QVariantList{makeText("MSG")})));
    QString found;
    EXPECT_FALSE(Expected::exact(QVariant(two))
                     .matches(QVariant(QVariantList{makeText("MSG"), makeText("2")}), &found));
    EXPECT_EQ(found, "[\"MSG\", \"2\"]");
}

TEST(ScriptParser, LoadTakesAnInlineTableOrANamedOneAndIsAnAction)
{
    const Script s = parseText(QStringLiteral("load cdsAprov table\n"
                                              "  IDENTRSAIDOP:string(1) | VRTOTAL:float\n"
                                              "  X                      | 10.5\n"
                                              "  \"\"                     |\n"
                                              "end\n"
                                              "load cdsAprovAgrup packet NOTAS\n"
                                              "expect records cdsAprov 2\n"));
    ASSERT_EQ(s.statements.size(), 3);
    const Statement &inline_ = s.statements[0];
    EXPECT_EQ(inline_.kind, StatementKind::Load);
    EXPECT_TRUE(inline_.isAction());
    EXPECT_EQ(inline_.target, "cdsAprov");
    ASSERT_TRUE(inline_.table.has_value());
    EXPECT_EQ(inline_.table->rows.size(), 2);
    EXPECT_EQ(inline_.table->rows[1].value(0).toString(), "");
    EXPECT_TRUE(inline_.table->rows[1].value(1).isNull());

    // The statement after the block keeps its own line.
    const Statement &named = s.statements[1];
    EXPECT_EQ(named.line, 6);
    EXPECT_EQ(named.target, "cdsAprovAgrup");
    EXPECT_EQ(named.other, "NOTAS");
    EXPECT_FALSE(named.table.has_value());

    EXPECT_TRUE(errorOf("load cdsAprov").startsWith("t.fis:1: expected 'table' or 'packet NAME'"));
    EXPECT_TRUE(errorOf("load cdsAprov rows").contains("found 'rows'"));
    EXPECT_EQ(errorOf("load cdsAprov packet"),
              "t.fis:1: expected the name of a table, found the end of the line");
    EXPECT_EQ(errorOf("load cdsAprov table\nA:string\nx\n"),
              "t.fis:1: the table started here has no line 'end'");
}

TEST(ScriptParser, HighlightedIsAStateWithItsNegation)
{
    const Statement on = one("expect edtCdImposto highlighted");
    EXPECT_EQ(on.expectKind, ExpectKind::State);
    EXPECT_EQ(on.target, "edtCdImposto");
    EXPECT_EQ(on.text, "highlighted");
    const Statement off = one("expect frmFiltroEmiPrev.medCdFilial not highlighted");
    EXPECT_EQ(off.expectKind, ExpectKind::State);
    EXPECT_EQ(off.target, "frmFiltroEmiPrev.medCdFilial");
    EXPECT_EQ(off.text, "not highlighted");

    // "not" negates only "highlighted"; the other states have their own opposites.
    EXPECT_EQ(errorOf("expect medCdFilial not visible"),
              "t.fis:1: expected 'highlighted' after 'not', found 'visible'");
    EXPECT_EQ(errorOf("expect medCdFilial not"),
              "t.fis:1: expected 'highlighted' after 'not', found the end of the line");
    EXPECT_EQ(errorOf("expect medCdFilial highlighted yes"),
              "t.fis:1: unexpected 'yes' at the end of the statement");
    EXPECT_TRUE(errorOf("expect medCdFilial colour").contains("highlighted, not highlighted"));
}

TEST(ScriptParser, RecordsComparedWithACountFromTheHostDatabase)
{
    const Statement inline_ = one("expect records cdsAprov sql \"SELECT COUNT(*) FROM NOTAFISCAL "
                                  "WHERE IDENTRSAIDOP = 'S'\"");
    EXPECT_EQ(inline_.expectKind, ExpectKind::Records);
    EXPECT_EQ(inline_.target, "cdsAprov");
    EXPECT_EQ(inline_.text, "SELECT COUNT(*) FROM NOTAFISCAL WHERE IDENTRSAIDOP = 'S'");

    // A block keeps its lines; a closing semicolon is dropped (one statement, not a script);
    // the statement after the block keeps its own line.
    const Script s = parseText(QStringLiteral("expect records cdsAprovAgrup sql\n"
                                              "  SELECT COUNT(*)\n"
                                              "    FROM NOTAFISCAL -- entries\n"
                                              "   WHERE IDENTRSAIDOP = 'E';\n"
                                              "end\n"
                                              "expect records cdsAprov 0\n"));
    ASSERT_EQ(s.statements.size(), 2);
    EXPECT_EQ(s.statements[0].text,
              "SELECT COUNT(*)\n    FROM NOTAFISCAL -- entries\n   WHERE IDENTRSAIDOP = 'E'");
    EXPECT_EQ(s.statements[0].line, 1);
    EXPECT_EQ(s.statements[1].line, 6);
    EXPECT_TRUE(s.statements[1].text.isEmpty()); // a plain number, no query
    EXPECT_EQ(s.statements[1].number, 0);

    EXPECT_EQ(errorOf("expect records cdsAprov sql \"  \""),
              "t.fis:1: the query of 'expect records ... sql' is empty");
    EXPECT_EQ(errorOf("expect records cdsAprov sql\n;\nend"),
              "t.fis:1: the query of 'expect records ... sql' is empty");
    EXPECT_EQ(errorOf("expect records cdsAprov sql\nSELECT 1\n"),
              "t.fis:1: the SQL block started here has no line 'end'");
    EXPECT_EQ(errorOf("expect records cdsAprov sql SELECT"),
              "t.fis:1: expected the query in double quotes, found 'SELECT'");
    EXPECT_EQ(errorOf("expect records cdsAprov sql \"SELECT 1\" 2"),
              "t.fis:1: unexpected '2' at the end of the statement");
    EXPECT_EQ(errorOf("expect records cdsAprov many"),
              "t.fis:1: expected a record count or 'sql' (a whole number from 0), found 'many'");
}

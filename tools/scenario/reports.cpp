// Reports: the file-name question, the print preview, and what a report run received and produced:
//   answer file "NAME.pdf" | cancel       the next file-name question (print to PDF, save as); a
//                                         relative name is written in the run's temporary folder
//   expect report PARAM VALUE             a parameter of the last run of the screen's report
//                                         (rpddPadrao), as the screen set it: a value, null
//                                         (declared and left unset), *, absent (not declared),
//                                         ending "text", keys N (a "_a_b_" list of N keys)
//   expect preview                        the print preview window is open now
//   close preview                         closes it: the action that opened it goes on
//   expect pages N                        the last output (print, PDF or preview) had N pages
//   expect page N contains "text"         page N of the last output shows the text
#include "failure.h"
#include "families.h"
#include "finder.h"
#include "host.h"
#include "reader.h"
#include "runner.h"

#include "framework/reportdesigner.h"

#include <QApplication>
#include <QPrintPreviewDialog>

namespace fis::scenario {

namespace {

QPrintPreviewDialog *openPreview()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *preview = qobject_cast<QPrintPreviewDialog *>(w); preview && preview->isVisible())
            return preview;
    return nullptr;
}

const ReportOutput &lastOutput(Runner &r, const QString &expected)
{
    const ReportOutput *output = r.recorder().lastReportOutput();
    if (!output)
        fail(QStringLiteral("pages"), expected,
             QStringLiteral("no report printed, saved or shown"));
    return *output;
}

QString describeOutput(const ReportOutput &o)
{
    return QStringLiteral("%1 page(s) of the last %2%3")
        .arg(o.pages.size())
        .arg(o.kind, o.file.isEmpty() ? QString() : QLatin1Char(' ') + o.file);
}

// The keys of a "_a_b_" list.
qsizetype keyCount(const QString &list)
{
    return list.split(QLatin1Char('_'), Qt::SkipEmptyParts).size();
}

} // namespace

void parseAnswerFile(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Answer;
    st.answerKind = AnswerKind::File;
    if (!in.accept("cancel"))
        st.text = in.string(QStringLiteral("a file name or 'cancel'"));
}

void runAnswerFile(Runner &r, const Statement &st)
{
    r.recorder().queueFileAnswer(st.text.isEmpty() ? QString() : r.host().outputPath(st.text));
}

void parseExpectReport(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Report;
    st.field = in.word(QStringLiteral("a parameter name"));
    if (in.accept("absent")) {
        st.other = QStringLiteral("absent");
    } else if (in.accept("ending")) {
        st.other = QStringLiteral("ending");
        st.text = in.string(QStringLiteral("the text the value ends with"));
    } else if (in.accept("keys")) {
        st.other = QStringLiteral("keys");
        st.number = in.integer(QStringLiteral("a number of keys"));
    } else {
        st.expected = in.expectedValue();
    }
}

void runExpectReport(Runner &, const Statement &st)
{
    auto *dialog = qobject_cast<TReportDesignerDialog *>(findObject(QStringLiteral("rpddPadrao")));
    if (!dialog)
        fail(QStringLiteral("report"), QStringLiteral("a screen with its report dialog"),
             QStringLiteral("no rpddPadrao (%1)").arg(windowNames()));
    const ReportParams &params = dialog->lastParams();
    const ReportParam *param = params.find(st.field);
    QStringList declared;
    for (const ReportParam &p : params)
        declared << p.name;
    const QString declaredText = declared.isEmpty() ? QStringLiteral("no report run yet")
                                                    : QStringLiteral("the report declares ") +
                                                          declared.join(QStringLiteral(", "));
    if (st.other == QLatin1String("absent")) {
        if (param)
            fail(st.field, QStringLiteral("not declared by the report"),
                 QStringLiteral("declared, value %1").arg(formatVariant(param->value)));
        return;
    }
    if (!param)
        fail(st.field, QStringLiteral("a parameter of the last report run"), declaredText);
    const QString text = param->value.toString();
    if (st.other == QLatin1String("ending")) {
        if (param->value.isNull() || !text.endsWith(st.text))
            fail(st.field, QStringLiteral("a value ending with %1").arg(quoted(st.text)),
                 formatVariant(param->value));
    } else if (st.other == QLatin1String("keys")) {
        if (param->value.isNull() || !text.startsWith(QLatin1Char('_')) ||
            !text.endsWith(QLatin1Char('_')) || keyCount(text) != st.number)
            fail(st.field, QStringLiteral("a list of %1 key(s)").arg(st.number),
                 param->value.isNull()
                     ? QStringLiteral("null")
                     : QStringLiteral("%1 key(s): %2").arg(keyCount(text)).arg(quoted(text)));
    } else {
        QString found;
        if (!st.expected.matches(param->value, &found))
            fail(st.field, st.expected.describe(), found);
    }
}

void parseExpectPreview(ScriptReader &, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Preview;
}

void runExpectPreview(Runner &, const Statement &)
{
    if (!openPreview())
        fail(QStringLiteral("preview"), QStringLiteral("the print preview window open"),
             QStringLiteral("not open (%1)").arg(windowNames()));
}

void parseClosePreview(ScriptReader &, Statement &st)
{
    st.kind = StatementKind::ClosePreview;
}

void runClosePreview(Runner &r, const Statement &)
{
    QPrintPreviewDialog *preview = openPreview();
    if (!preview)
        fail(QStringLiteral("close preview"), QStringLiteral("the print preview window open"),
             QStringLiteral("not open (%1)").arg(windowNames()));
    preview->reject();
    r.settle();
}

void parseExpectPages(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Pages;
    st.number = in.integer(QStringLiteral("a number of pages"));
}

void runExpectPages(Runner &r, const Statement &st)
{
    const QString expected = QStringLiteral("%1 page(s)").arg(st.number);
    const ReportOutput &output = lastOutput(r, expected);
    if (output.pages.size() != st.number)
        fail(QStringLiteral("pages"), expected, describeOutput(output));
}

void parseExpectPage(ScriptReader &in, Statement &st)
{
    st.kind = StatementKind::Expect;
    st.expectKind = ExpectKind::Page;
    st.number = in.integer(QStringLiteral("a page number"), 1);
    if (!in.accept("contains"))
        in.fail(
            QStringLiteral("expected 'contains' after the page number, found %1").arg(in.found()));
    st.text = in.string(QStringLiteral("the text the page shows"));
}

void runExpectPage(Runner &r, const Statement &st)
{
    const QString expected =
        QStringLiteral("page %1 showing %2").arg(st.number).arg(quoted(st.text));
    const ReportOutput &output = lastOutput(r, expected);
    if (st.number > output.pages.size())
        fail(QStringLiteral("page"), expected, describeOutput(output));
    const QString page = output.pages.at(st.number - 1);
    // Lines of the page are compared as one text, one blank between them.
    QString flat = page;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!page.contains(st.text) && !flat.contains(st.text))
        fail(QStringLiteral("page"), expected,
             QStringLiteral("page %1 shows:\n    %2")
                 .arg(st.number)
                 .arg(QString(page).replace(QLatin1Char('\n'), QStringLiteral("\n    "))));
}

} // namespace fis::scenario

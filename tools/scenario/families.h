#pragma once
// The functions of every statement, by family: parseX reads statement X (after the words of its
// phrase), runX runs it. The table in statements.cpp ties each phrase to its pair.
#include "script.h"

namespace fis::scenario {

class Runner;
class ScriptReader;

#define FIS_STATEMENT(Name)                                                                        \
    void parse##Name(ScriptReader &in, Statement &st);                                             \
    void run##Name(Runner &r, const Statement &st);

// setup.cpp: the run's set-up (login values, the server) and notes.
FIS_STATEMENT(Login)
FIS_STATEMENT(Server)
FIS_STATEMENT(Note)

// data.cpp: the host database, inline tables, record sets.
FIS_STATEMENT(Database)
FIS_STATEMENT(DatabaseTable)
FIS_STATEMENT(DatabaseSql)
FIS_STATEMENT(Table)
FIS_STATEMENT(Load)
FIS_STATEMENT(ExpectRecords)
FIS_STATEMENT(ExpectField)
FIS_STATEMENT(ExpectSql)

// calls.cpp: the module's entry points and the remote calls (scripted answers, what was called).
FIS_STATEMENT(Call)
FIS_STATEMENT(Reply)
FIS_STATEMENT(ExpectCall)
FIS_STATEMENT(ExpectCalls)
FIS_STATEMENT(ExpectNoCall)
FIS_STATEMENT(ExpectResult)

// messages.cpp: messages and modal windows (the answers queued for them, what was shown).
FIS_STATEMENT(AnswerPick)
FIS_STATEMENT(AnswerFind)
FIS_STATEMENT(AnswerIntegration)
FIS_STATEMENT(AnswerConfirm)
FIS_STATEMENT(AnswerDialog)
FIS_STATEMENT(ExpectMessage)
FIS_STATEMENT(ExpectMessages)
FIS_STATEMENT(ExpectNoMessage)
FIS_STATEMENT(ExpectDialog)
FIS_STATEMENT(ExpectNoDialog)
FIS_STATEMENT(ExpectPick)
FIS_STATEMENT(ExpectFind)
FIS_STATEMENT(ExpectIntegration)

// keys.cpp: typing, keys and the focus.
FIS_STATEMENT(Type)
FIS_STATEMENT(Key)
FIS_STATEMENT(Focus)
FIS_STATEMENT(Leave)
FIS_STATEMENT(ExpectFocus)

// controls.cpp: clicks, menus, choices, closing windows; what a control shows.
FIS_STATEMENT(Click)
FIS_STATEMENT(Menu)
FIS_STATEMENT(Choose)
FIS_STATEMENT(Close)
FIS_STATEMENT(Snapshot)
FIS_STATEMENT(ExpectState)
FIS_STATEMENT(ExpectText)
FIS_STATEMENT(ExpectDisplay)
FIS_STATEMENT(ExpectIndex)
FIS_STATEMENT(ExpectCount)
FIS_STATEMENT(ExpectProperty)
// Any other word after a control's name: refused, naming the words a control takes.
void parseUnknownAspect(ScriptReader &in, Statement &st);

// grids.cpp: cells, cell editors, column titles and row marks of grids.
FIS_STATEMENT(Cell)
FIS_STATEMENT(Title)
FIS_STATEMENT(Edit)
FIS_STATEMENT(ExpectCell)
FIS_STATEMENT(ExpectRow)
FIS_STATEMENT(ExpectColumn)
FIS_STATEMENT(ExpectEditor)
FIS_STATEMENT(ExpectEllipsis)
FIS_STATEMENT(ExpectMark)
void parseExpectNoEditor(ScriptReader &in, Statement &st);
void parseExpectNoEllipsis(ScriptReader &in, Statement &st);
void parseExpectNoMark(ScriptReader &in, Statement &st);

// reports.cpp: the file-name question, the print preview, what a report run received and
// produced.
FIS_STATEMENT(AnswerFile)
FIS_STATEMENT(ExpectReport)
FIS_STATEMENT(ExpectPreview)
FIS_STATEMENT(ClosePreview)
FIS_STATEMENT(ExpectPages)
FIS_STATEMENT(ExpectPage)

// capture.cpp: pictures of the screen.
FIS_STATEMENT(Screenshot)

#undef FIS_STATEMENT

} // namespace fis::scenario

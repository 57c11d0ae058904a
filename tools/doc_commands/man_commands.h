// The command lines of a manual page in troff (man macros): each SYNOPSIS
// line, ended by .br or the next .SH, with its font macros' arguments joined
// as the page shows them, and the lines between .nf and .fi in EXAMPLES.
#pragma once

#include <string>
#include <vector>

#include "doc_command.h"

namespace kvr::docs {

// The text with troff's escapes resolved: \- is '-', \e a backslash, \& and
// the font changes \fB \fI \fR \fP are dropped; any other escape stays as written.
std::string TroffText(const std::string& s);

// A request's arguments: blanks separate, a quoted argument is kept whole
// (blanks included), "" is an empty argument.
std::vector<std::string> TroffArguments(const std::string& s);

// What one SYNOPSIS line adds, in `piece`: .B and .I join their arguments
// with blanks, the alternating font macros (.BR, .RB, .IR, .RI, .BI, .IB)
// without; a text line is itself. False for any other request.
bool TroffPiece(const std::string& line, std::string& piece);

// The page's commands, each where'd as `name`:LINE (a SYNOPSIS line's first line).
std::vector<DocCommand> ManCommands(const std::string& text, const std::string& name);

}  // namespace kvr::docs

// The command lines of a Markdown text (README.md): the lines of its code
// blocks, indented by four blanks after a blank line or between ``` fences,
// that start a command. In a block, a "$ " line is a command and the lines
// after it, up to the next "$ " line, its sample output; the commands of one
// such block share a block name, since they run in one folder, in order.
// Elsewhere a line starting with a program, a script, sudo, cmake or C:\ is a
// command, which indented lines starting with '[' continue (a wrapped usage
// line).
#pragma once

#include <string>
#include <vector>

#include "doc_command.h"

namespace kvr::docs {

// A line that starts a command: a program (not the "->" of the libraries'
// dependency picture), a script, sudo, cmake or a Windows path.
bool StartsCommand(const std::string& line);

// The commands of the text, each where'd as `name`:LINE.
std::vector<DocCommand> MarkdownCommands(const std::string& text, const std::string& name);

}  // namespace kvr::docs

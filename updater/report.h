// The one way the updater reports a step: standard output first, then the update log.
#pragma once

#include <string>

// The line as standard output can take it: every character that the process locale's code
// page cannot hold (code page 1251: Cyrillic and Latin, but no CJK, for example) becomes
// '?'. Written as it is, such a character would fail the wide stream and lose the rest of
// the line with its end of line.
std::wstring consoleText(const std::wstring& line);

// Writes consoleText(line) to the wide standard output (end of line, flush), then hands the
// whole line to writeLog. Never throws for a failed write: a line the console cannot take
// is lost there, and later lines still go out.
void reportLine(const std::wstring& line);

// The one way the updater reports a step: standard output first, then the update log.
#pragma once

#include <string>

// Writes the line to the wide standard output (end of line, flush), then hands it to
// writeLog. Never throws for a failed write: a line the console cannot take is lost there,
// and later lines still go out.
void reportLine(const std::wstring& line);

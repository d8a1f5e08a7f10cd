// Seams for the tests: the last steps of a run that real media make fail.
// Not for the program itself; an empty hook restores the real effect.
#pragma once

#include <QString>
#include <functional>

// Deletes a converted bitmap: 0 when done, else the system's error number
// (-1 for a failure with no reason to tell).
using RemoveHook = std::function<int(const QString& path)>;
RemoveHook setRemoveHook(RemoveHook hook);

// Makes every JPEG durable file by file (the way used for a single file),
// never with one flush of the whole file system for a group.
void flushFileByFile(bool on);

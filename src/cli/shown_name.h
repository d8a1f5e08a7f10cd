// A file name as the terminal may show it: bare when it is plain, quoted for
// the shell otherwise, and every control character, stray byte or invisible
// formatting character written as a $'\n' / $'\351' escape, so a hostile name
// can neither forge a line nor send the terminal a command. Pasted into a
// shell, the text names the file again.
#pragma once

#include <QString>

QString shownName(const QString& name);

// Whether the terminal takes UTF-8 (else every byte above 127 is escaped).
void setUtf8Terminal(bool on);

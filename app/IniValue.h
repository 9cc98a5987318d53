#pragma once

#include <QString>

// Writes one `key=value` line into section `[section]` of an INI file and leaves every other
// line as it was, comments and hand-made [Ports] entries included. The file is replaced
// atomically. Returns false, with the reason in `error`, when the file cannot be written.
bool storeIniValue(const QString& file, const QString& section, const QString& key, const QString& value,
                   QString& error);

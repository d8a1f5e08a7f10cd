// The settings store: single named values under a key of the registry.
#pragma once

#include "registry_api.h"

#include <QString>
#include <QVariant>

// Writes a 32-bit integer as REG_DWORD, creating missing keys; the result code.
LONG WriteDWordValue(HKEY root, const QString& keyPath, const QString& valueName, qint32 data);
// Writes a text as REG_SZ, creating missing keys; the result code.
LONG WriteStringValue(HKEY root, const QString& keyPath, const QString& valueName, const QString& data);
// A REG_SZ value as text, a REG_DWORD value as a 32-bit integer, and the
// default for everything else (missing key or value, other types, failures).
QVariant ReadValue(HKEY root, const QString& keyPath, const QString& valueName, const QVariant& defaultValue);
// The text up to its first NUL character.
QString TrimAtNull(const QString& text);

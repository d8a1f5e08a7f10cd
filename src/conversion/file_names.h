// File names as the system has them (bytes) and as the program holds them
// (QString), both ways without loss: a name that is not UTF-8 text (Latin-1
// from an old archive) keeps each stray byte as a lone surrogate U+DC80..U+DCFF,
// so it can be opened, converted and deleted like any other.
#pragma once

#include <QByteArray>
#include <QString>

#include "short_path.h"

QString fileNameText(QByteArrayView bytes);
QByteArray fileNameBytes(QStringView text);

// Where `path` reaches the system: its bytes, through its folder's descriptor
// when it is longer than one call takes. Keep it while the call runs:
// ::stat(systemPath(p).c_str(), &st).
files::ShortPath systemPath(const QString& path);

// Path text alone, never asking the file system (so never losing a byte):
// the folder part ("." for a bare name, "/" for the root's files), the name
// part, and the path made absolute against the current folder.
QString folderPart(const QString& path);
QString namePart(const QString& path);
QString absolutePathOf(const QString& path);

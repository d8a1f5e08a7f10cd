// File names as the system has them (bytes) and as the program holds them
// (QString), both ways without loss: a name that is not UTF-8 text (Latin-1
// from an old archive) keeps each stray byte as a lone surrogate U+DC80..U+DCFF,
// so it can be opened, converted and deleted like any other.
#pragma once

#include <QByteArray>
#include <QString>

QString fileNameText(QByteArrayView bytes);
QByteArray fileNameBytes(QStringView text);

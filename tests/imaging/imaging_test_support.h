// Helpers shared by the imaging tests.
#pragma once

#include "bmp_writer.h"
#include "imaging.h"
#include "load_sequence.h"

#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace support {

// Writes bytes to a file in `dir` and returns its path as 8-bit text.
QByteArray writeTemp(const QTemporaryDir& dir, const QString& name, const std::vector<std::uint8_t>& bytes);

// Loads a file the way the program does (without widening 1-bit images) and
// returns every pixel's colour, top row first; the result code goes to *rc.
std::vector<fixture::Rgba> loadColours(const QByteArray& path, int* rc, int depth = 0);

// Colour of each pixel of a loaded image, through its palette when indexed.
std::vector<fixture::Rgba> coloursOf(const ImageDescriptor& image);

// Colours the reader must produce for indexed pictures: the palette entry,
// black beyond the palette.
std::vector<fixture::Rgba> paletteColours(const fixture::Picture& p, const std::vector<RGBQUAD>& palette);

// A JPEG file's size and colour components, from its header (0s if it has none).
struct Jpeg {
    int width = 0, height = 0, components = 0;
};
Jpeg jpegHeader(const QByteArray& path);

QByteArray readAll(const QByteArray& path);

// libjpeg-turbo's compression of the pixels as loaded, through its other API.
QByteArray turboJpeg(const ImageDescriptor& image, int quality = 75);

}  // namespace support

#include "imaging_test_support.h"

#include "image_rows.h"

#include <QFile>
#include <cstdlib>
#include <turbojpeg.h>

namespace support {

QByteArray writeTemp(const QTemporaryDir& dir, const QString& name, const std::vector<std::uint8_t>& bytes) {
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    if (!fixture::writeFile(path.toStdString(), bytes)) qFatal("cannot write %s", path.constData());
    return path;
}

std::vector<fixture::Rgba> coloursOf(const ImageDescriptor& image) {
    std::vector<fixture::Rgba> out;
    const auto palette = image.palette();
    const ImageRows rows = rowsOf(image);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = rows.row(y);
        for (int x = 0; x < image.width(); ++x) {
            if (image.depth() == 24) {
                out.push_back({row[3 * x + 2], row[3 * x + 1], row[3 * x], 255});
                continue;
            }
            const int bits = image.depth(), perByte = 8 / bits;
            const unsigned index = (row[x / perByte] >> (8 - bits * (1 + x % perByte))) & ((1u << bits) - 1);
            const RGBQUAD c = index < palette.size() ? palette[index] : RGBQUAD{};
            out.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, 255});
        }
    }
    return out;
}

std::vector<fixture::Rgba> loadColours(const QByteArray& path, int* rc, int depth) {
    ImageDescriptor image{};
    *rc = imaging::loadPicture(path.constData(), image, {.depth = depth, .widenOneBit = false}).code;
    return *rc ? std::vector<fixture::Rgba>{} : coloursOf(image);
}

std::vector<fixture::Rgba> paletteColours(const fixture::Picture& p, const std::vector<RGBQUAD>& palette) {
    std::vector<fixture::Rgba> out;
    for (std::uint8_t i : p.indices) {
        const RGBQUAD c = i < palette.size() ? palette[i] : RGBQUAD{};
        out.push_back({c.rgbRed, c.rgbGreen, c.rgbBlue, 255});
    }
    return out;
}

QByteArray readAll(const QByteArray& path) {
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Jpeg jpegHeader(const QByteArray& path) {
    const QByteArray bytes = readAll(path);
    Jpeg j;
    int subsamp = 0, colourspace = -1;
    tjhandle h = tjInitDecompress();
    tjDecompressHeader3(h, reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()),
                        &j.width, &j.height, &subsamp, &colourspace);
    tjDestroy(h);
    j.components = colourspace == TJCS_GRAY ? 1 : colourspace < 0 ? 0 : 3;
    return j;
}

QByteArray turboJpeg(const ImageDescriptor& image, int quality) {
    const bool gray = savesAsGray(&image);
    std::vector<std::uint8_t> pixels;
    for (const fixture::Rgba& c : coloursOf(image)) {
        pixels.push_back(c.r);
        if (!gray) pixels.insert(pixels.end(), {c.g, c.b});
    }
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, pixels.data(), image.width(), 0, image.height(), gray ? TJPF_GRAY : TJPF_RGB, &out, &size,
                gray ? TJSAMP_GRAY : TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
    tjFree(out);
    tjDestroy(h);
    return bytes;
}

}  // namespace support

#include "imaging_test_support.h"

#include <QFile>
#include <cmath>
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
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = image.row(y);
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

Jpeg decodeJpeg(const QByteArray& path) {
    const QByteArray bytes = readAll(path);
    Jpeg j;
    tjhandle h = tjInitDecompress();
    int subsamp = 0, colourspace = 0;
    if (tjDecompressHeader3(h, reinterpret_cast<const unsigned char*>(bytes.constData()),
                            static_cast<unsigned long>(bytes.size()), &j.width, &j.height, &subsamp, &colourspace) == 0) {
        j.components = colourspace == TJCS_GRAY ? 1 : 3;
        j.pixels.resize(static_cast<std::size_t>(j.width) * j.height * j.components);
        if (tjDecompress2(h, reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()),
                          j.pixels.data(), j.width, 0, j.height, j.components == 1 ? TJPF_GRAY : TJPF_RGB, 0) != 0)
            j = Jpeg{};
    }
    tjDestroy(h);
    return j;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace support

#include "image_conversion.h"

#include "file_names.h"
#include "imaging.h"
#include "load_sequence.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint64_t bufferBytes(const BITMAPINFOHEADER& header, int depth) {
    const std::uint64_t width = header.biWidth > 0 ? static_cast<std::uint64_t>(header.biWidth) : 0;
    const std::uint64_t height = header.biHeight < 0 ? 0ull - static_cast<std::int64_t>(header.biHeight)
                                                     : static_cast<std::uint64_t>(header.biHeight);
    return (width * static_cast<unsigned>(depth) + 31) / 32 * 4 * height;
}

// "3.4 GiB", "512 MiB"
QString bytesText(std::uint64_t bytes) {
    constexpr double kGiB = 1024.0 * 1024 * 1024;
    if (bytes >= (std::uint64_t{1} << 30)) return QStringLiteral("%1 GiB").arg(bytes / kGiB, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg((bytes + (1 << 20) - 1) >> 20);
}

}  // namespace

bool ImageResult::commit(bool replace, bool preserve) {
    bool stamped = !preserve;
    if (preserve && jpeg && source) {
        const qint64 ns = source->modifiedNs;
        const qint64 s = ns / 1'000'000'000 - (ns % 1'000'000'000 < 0 ? 1 : 0);  // times before 1970 too
        stamped = jpeg->setModeAndTime(source->permissions, s, static_cast<long>(ns - s * 1'000'000'000));
    }
    if (stamped && jpeg && jpeg->commit(replace)) return true;
    outcome = ImageOutcome::CannotSave;
    code = IMG_ERR_WRITE;
    osError = jpeg && preserve && !source ? ENOENT : imaging_os_error();
    jpeg.reset();  // its temporary goes now
    return false;
}

QString ImageResult::reason() const {
    if (!why.isEmpty()) return why;
    if (osError != 0) return QString::fromLocal8Bit(std::strerror(osError));
    if (code == 0) return {};
    QString text = QString::fromLatin1(imaging_strerror(code));
    text[0] = text[0].toUpper();
    return text;
}

void ImageResult::refuse(const QString& reason) {
    outcome = ImageOutcome::CannotSave;
    why = reason;
}

QString failureText(const ImageResult& result, const QString& source, const QString& target) {
    QString first;
    QString second = result.reason();
    switch (result.outcome) {
    case ImageOutcome::CannotFind: first = QStringLiteral("Cannot find file ") + source; break;
    case ImageOutcome::NoMemory:
        first = QStringLiteral("Not enough memory");
        second = source;
        if (const QString need = memoryNeed(result); !need.isEmpty()) second += QLatin1Char(' ') + need;
        break;
    case ImageOutcome::CannotLoad: first = QStringLiteral("Cannot load file ") + source; break;
    case ImageOutcome::CannotSave: first = QStringLiteral("Cannot save file ") + target; break;
    case ImageOutcome::Written: return {};
    }
    return second.isEmpty() ? first : first + QLatin1Char('\n') + second;
}

QString memoryNeed(const ImageResult& result) {
    if (!result.tooLarge.isEmpty()) return result.tooLarge;
    return result.needed > 0 ? QStringLiteral("needs ") + bytesText(result.needed) : QString();
}

ImageResult convertImage(const QString& source, const QString& target, const JpegOptions& jpeg) {
    ImageResult result;
    QElapsedTimer clock;
    clock.start();
    result.source = fileStampOf(source);
    if (sameFile(source, target)) {
        result.refuse(QStringLiteral("It would replace the bitmap itself"));
        return result;
    }
    const files::ShortPath sourceName = systemPath(source);
    auto targetName = std::make_shared<const files::ShortPath>(fileNameBytes(target).toStdString());

    const auto failed = [&result, &clock](ImageOutcome outcome, int code) {
        result.outcome = outcome;
        result.code = code;
        result.osError = imaging_os_error();
        if (outcome == ImageOutcome::NoMemory) result.needed = imaging_bytes_needed();
        result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        return result;
    };
    ImageDescriptor image{};
    const imaging::Loaded loaded = imaging::loadPicture(sourceName.c_str(), image);
    switch (loaded.failed) {
    case imaging::LoadStep::None:
        break;
    case imaging::LoadStep::Info:
        return failed(ImageOutcome::CannotFind, loaded.code);
    case imaging::LoadStep::Allocate:
        if (loaded.code == IMG_ERR_TOO_LARGE)
            result.tooLarge = loaded.header.biWidth > IMG_JPEG_MAX_SIDE ? QStringLiteral("is wider than a JPEG can be")
                                                                              : QStringLiteral("is taller than a JPEG can be");
        return failed(ImageOutcome::NoMemory, loaded.code);
    case imaging::LoadStep::Load:
        // Gone since its header was read: it cannot be found any more.
        return failed(loaded.code == IMG_ERR_OPEN && ::access(sourceName.c_str(), F_OK) != 0 ? ImageOutcome::CannotFind
                      : loaded.code == IMG_ERR_NO_MEMORY                       ? ImageOutcome::NoMemory
                                                                               : ImageOutcome::CannotLoad,
                      loaded.code);
    }
    auto pending = std::make_shared<PendingJpeg>();
    const int saved = savejpg_pending(targetName->c_str(), &image, jpeg, pending.get());
    freeimage(&image);
    if (saved != IMG_OK) return failed(ImageOutcome::CannotSave, saved);
    result.outcome = ImageOutcome::Written;
    result.targetPath = std::move(targetName);
    result.jpeg = std::move(pending);
    result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return result;
}

std::size_t conversionBytes(const QString& source, const JpegOptions& jpeg) {
    BITMAPINFOHEADER header{};
    const files::ShortPath path = systemPath(source);
    if (bmpinfo(path.c_str(), &header) != IMG_OK) return 0;
    const int depth = imaging::programDepth(header.biBitCount);
    std::uint64_t bytes = bufferBytes(header, depth);
    if (depth == 1) bytes += bufferBytes(header, 8);  // both buffers live while it is widened
    // Files whose rows are not the buffer's are read whole before decoding.
    const bool rowsAsTheyAre = header.biCompression == BI_RGB && (depth == 24 ? header.biBitCount == 24 : true);
    struct stat st {};
    if (!rowsAsTheyAre && ::stat(path.c_str(), &st) == 0) bytes += static_cast<std::uint64_t>(st.st_size);
    // An embedded progressive JPEG keeps every coefficient, an interlaced PNG
    // every pixel, while they decode (OS/2's RLE24 shares the number: counted alike).
    if (header.biCompression == BI_JPEG || header.biCompression == BI_PNG) bytes += 2 * bufferBytes(header, 32);
    // Progressive scans and Huffman tables of its own need the whole JPEG's
    // coefficients at once: two bytes a sample, three samples a pixel at most.
    if (jpeg.progressive || jpeg.optimize) bytes += bufferBytes(header, 48);
    return static_cast<std::size_t>(std::min<std::uint64_t>(bytes, SIZE_MAX / 4));
}

QString joinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool isBitmapName(const QString& path) { return path.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive); }

QString baseNameOf(const QString& entry) {
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = entry.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? entry.left(dot) : entry;
}

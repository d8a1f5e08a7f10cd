#include "convert_options.h"

#include "version_info.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>
#include <cstdio>

namespace {

constexpr int kMostJobs = 1024;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    if (stream != stdout) std::fflush(stream);  // standard output is flushed once, where its errors are told
}

// pellicor-convert, the command line alone, points at its own help.
QString commandName() {
    const QString name = QCoreApplication::applicationName();
    return name == QLatin1String("pellicor-convert") ? name : QStringLiteral("pellicor");
}

Finished usageError(const QString& message) {
    print(stderr, QStringLiteral("pellicor: %1\nTry '%2 --help' for more information.\n").arg(message, commandName()));
    return {kExitUsage};
}

// A whole number within [low, high], or nothing.
std::optional<int> numberIn(const QString& text, int low, int high) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high) return std::nullopt;
    return n;
}

QString helpText(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    // Qt's usage line names only one of the two modes.
    text.remove(0, text.indexOf(QLatin1Char('\n')) + 1);
    if (commandName() != QLatin1String("pellicor")) {  // no window to speak of
        text.remove(0, text.indexOf(QLatin1String("\nOptions:")) + 1);
        return QStringLiteral("Usage: pellicor-convert [OPTIONS] PATH...\n\n"
                              "Converts Windows bitmap files (.bmp) into JPEG files, as pellicor --convert:\n"
                              "each JPEG is written beside its bitmap under the same name and appears only\n"
                              "once it is complete.\n\n") +
               text;
    }
    return QStringLiteral("Usage: pellicor [FILE_OR_FOLDER...]\n"
                          "       pellicor --convert [OPTIONS] PATH...\n\n") +
           text;
}

}  // namespace

bool wantsCommandLine(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) break;
        if (a == QLatin1String("--convert") || a == QLatin1String("--help") || a == QLatin1String("-h") ||
            a == QLatin1String("--version") || a == QLatin1String("-v"))
            return true;
    }
    return false;
}

std::variant<ConvertOptions, Finished> parseConvertOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts Windows bitmap files (.bmp) into JPEG files.\n\n"
        "Without --convert, opens the window with the given files queued (a folder\n"
        "queues the bitmaps directly in it), or hands them to a window already open.\n"
        "With --convert, converts without a window: each JPEG is written beside its\n"
        "bitmap under the same name and appears only once it is complete."));
    const QCommandLineOption convert(QStringLiteral("convert"), QStringLiteral("Convert without a window."));
    const QCommandLineOption quality({QStringLiteral("q"), QStringLiteral("quality")},
                                     QStringLiteral("JPEG quality, 1 to 100 (default 75)."), QStringLiteral("N"));
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Chroma subsampling: 4:4:4 (sharpest), 4:2:2 or 4:2:0 (default)."),
                                    QStringLiteral("S"));
    const QCommandLineOption progressive(QStringLiteral("progressive"), QStringLiteral("Write progressive JPEGs."));
    const QCommandLineOption optimize(QStringLiteral("optimize"),
                                      QStringLiteral("Optimize the Huffman tables (smaller files, slower)."));
    const QCommandLineOption grayscale(QStringLiteral("grayscale"), QStringLiteral("Write grayscale JPEGs."));
    const QCommandLineOption deleteSources(
        QStringLiteral("delete"), QStringLiteral("Delete each *.bmp source once its JPEG is safely on disk."));
    const QCommandLineOption recursive({QStringLiteral("r"), QStringLiteral("recursive")},
                                       QStringLiteral("Descend into the folders within folders."));
    const QCommandLineOption outputDir({QStringLiteral("o"), QStringLiteral("output-dir")},
                                       QStringLiteral("Write the JPEGs under DIR, keeping each path below the "
                                                      "folder it was found in."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption jobs({QStringLiteral("j"), QStringLiteral("jobs")},
                                  QStringLiteral("Convert N files at a time (default: one per processor)."),
                                  QStringLiteral("N"));
    const QCommandLineOption skipExisting(
        QStringLiteral("skip-existing"),
        QStringLiteral("Leave a bitmap alone when its JPEG exists and is not older than it."));
    const QCommandLineOption filesFrom(QStringLiteral("files-from"),
                                       QStringLiteral("Read further paths from FILE, one a line ('-': standard input)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption nul({QStringLiteral("0"), QStringLiteral("null")},
                                 QStringLiteral("The --files-from paths end with NUL characters, not lines."));
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("With -o, files and folders keep their path below DIR."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption exclude(QStringLiteral("exclude"),
                                     QStringLiteral("Leave out files and folders whose name matches GLOB (with a '/': "
                                                    "whose path does)."),
                                     QStringLiteral("GLOB"));
    const QCommandLineOption preserve({QStringLiteral("p"), QStringLiteral("preserve")},
                                      QStringLiteral("Give each JPEG its bitmap's modification time and permissions."));
    const QCommandLineOption dryRun({QStringLiteral("n"), QStringLiteral("dry-run")},
                                    QStringLiteral("List what would be converted, skipped and deleted; change nothing."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Add a JSON line for each file to FILE ('-': standard output)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption noClobber(QStringLiteral("no-clobber"),
                                       QStringLiteral("Never replace an existing JPEG; skip its bitmap instead."));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Print nothing but errors."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    parser.addOptions({convert, quality, sample, progressive, optimize, grayscale, deleteSources, recursive, outputDir,
                       jobs, skipExisting, noClobber, preserve, filesFrom, nul, base, exclude, dryRun, log, quiet, help,
                       version});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Bitmap files and folders."),
                                 QStringLiteral("PATH..."));

    if (!parser.parse(arguments)) return usageError(parser.errorText());
    if (parser.isSet(help)) {
        print(stdout, helpText(parser));
        return Finished{};
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("pellicor %1\n").arg(version_info::Version));
        return Finished{};
    }
    if (!parser.isSet(convert)) return usageError(QStringLiteral("these options need --convert"));

    ConvertOptions options;
    if (parser.isSet(quality)) {
        const std::optional<int> q = numberIn(parser.value(quality), 1, 100);
        if (!q) return usageError(QStringLiteral("invalid quality '%1' (a whole number from 1 to 100)").arg(parser.value(quality)));
        options.jpeg.quality = *q;
    }
    if (parser.isSet(sample)) {
        const QString s = parser.value(sample);
        if (s == QLatin1String("4:4:4"))
            options.jpeg.sampling = JpegSampling::S444;
        else if (s == QLatin1String("4:2:2"))
            options.jpeg.sampling = JpegSampling::S422;
        else if (s == QLatin1String("4:2:0"))
            options.jpeg.sampling = JpegSampling::S420;
        else
            return usageError(QStringLiteral("invalid sampling '%1' (4:4:4, 4:2:2 or 4:2:0)").arg(s));
    }
    options.jpeg.progressive = parser.isSet(progressive);
    options.jpeg.optimize = parser.isSet(optimize);
    options.jpeg.grayscale = parser.isSet(grayscale);
    options.jobs = std::max(1, QThread::idealThreadCount());
    if (parser.isSet(jobs)) {
        const std::optional<int> j = numberIn(parser.value(jobs), 1, kMostJobs);
        if (!j) return usageError(QStringLiteral("invalid number of jobs '%1' (1 to %2)").arg(parser.value(jobs)).arg(kMostJobs));
        options.jobs = *j;
    }
    options.deleteSources = parser.isSet(deleteSources);
    options.recursive = parser.isSet(recursive);
    options.skipExisting = parser.isSet(skipExisting);
    options.quiet = parser.isSet(quiet);
    options.outputDir = parser.value(outputDir);
    if (parser.isSet(outputDir) && options.outputDir.isEmpty()) return usageError(QStringLiteral("empty output folder"));
    options.filesFrom = parser.value(filesFrom);
    options.nulSeparated = parser.isSet(nul);
    if (options.nulSeparated && !parser.isSet(filesFrom)) return usageError(QStringLiteral("-0 needs --files-from"));
    options.base = parser.value(base);
    if (parser.isSet(base) && options.base.isEmpty()) return usageError(QStringLiteral("empty base folder"));
    if (parser.isSet(base) && !parser.isSet(outputDir)) return usageError(QStringLiteral("--base needs -o"));
    options.excludes = parser.values(exclude);
    if (options.excludes.contains(QString())) return usageError(QStringLiteral("empty pattern to exclude"));
    options.preserve = parser.isSet(preserve);
    options.dryRun = parser.isSet(dryRun);
    options.noClobber = parser.isSet(noClobber);
    options.logFile = parser.value(log);
    if (parser.isSet(log) && options.logFile.isEmpty()) return usageError(QStringLiteral("empty log file name"));
    // A dry run writes nothing at all.
    if (options.dryRun && parser.isSet(log)) return usageError(QStringLiteral("--dry-run writes no log"));
    options.paths = parser.positionalArguments();
    if (options.paths.isEmpty() && !parser.isSet(filesFrom)) return usageError(QStringLiteral("no files or folders to convert"));
    return options;
}

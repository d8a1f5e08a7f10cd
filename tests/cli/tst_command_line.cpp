// `pellicor --convert` run as a user runs it: options and exit statuses,
// folder trees, output folders, reruns, the progress bar, and Ctrl-C.
#include "bmp_writer.h"
#include "fat_stick.h"
#include "file_names.h"
#include "shown_name.h"
#include "run_log.h"

#include <QProcess>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <fstream>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

void writeBitmap(const QString& path, int width = 16, int height = 12) {
    QDir().mkpath(QFileInfo(path).path());
    if (!fixture::writeFile(QFile::encodeName(path).toStdString(),
                            fixture::encode(fixture::Variant{}, fixture::photo(width, height, false))))
        qFatal("cannot write %s", qPrintable(path));
}

// Starts and ends like a JPEG: nothing was cut short.
bool completeJpeg(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = f.readAll();
    return bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9");
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void shownNames_data();
    void shownNames();
    void writeErrorsAreTold();
    void namesNotTextAndPathsPastPathMax_data();
    void namesNotTextAndPathsPastPathMax();
    void optionsAndExitStatuses_data();
    void optionsAndExitStatuses();
    void trees_data();
    void trees();
    void preservedTimesDecideWhatIsUpToDate_data();
    void preservedTimesDecideWhatIsUpToDate();
    void logLines_data();
    void logLines();
    void jsonStrings();
    void progressOnATerminalOnly_data();
    void progressOnATerminalOnly();
    void aListIsConvertedWhileItIsWritten();
    void ctrlCLeavesNoPartialJpegAndLosesNoSource_data();
    void ctrlCLeavesNoPartialJpegAndLosesNoSource();
    void aHeaderAskingForTooMuchFailsOnlyItsFile();
    void aNearlyFullDiskConvertsWhatOneByOneWould();
    void everyAcceptedJobCountWorks();
    void deleteRunsTellTheTruthAndCanBeFinished();
    void aStickWhoseNamesIgnoreCase();
    void aMixedTreeOnFourThreadsAsOnOne();
    void pellicorConvert_data();
    void pellicorConvert();

private:
    Run run(const QStringList& arguments, const QByteArray& input = {}, const QByteArray& platform = {},
            const QString& program = PELLICOR_PROGRAM);
    std::unique_ptr<QTemporaryDir> dir_;
};

void CommandLineTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QDir::setCurrent(dir_->path());
    // in/top.bmp  in/a/one.bmp  in/a/b/two.BMP  in/a/notes.txt  in/a/.hidden.bmp  in/link.bmp -> a
    for (const char* name : {"in/top.bmp", "in/a/one.bmp", "in/a/b/two.BMP", "in/a/.hidden.bmp"}) writeBitmap(name);
    QFile notes("in/a/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link("a", "in/link.bmp"));
}

void CommandLineTest::shownNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");  // as `ls --quoting-style=shell-escape` in a UTF-8 locale; "C:" in the C locale
    QTest::newRow("plain") << QByteArray("a/b-1.2,x%y+z:w@v_]") << "a/b-1.2,x%y+z:w@v_]";
    QTest::newRow("letters of other scripts") << QByteArray("\xC3\xA9t\xC3\xA9") << QString::fromUtf8("été");
    QTest::newRow("not first, not alone") << QByteArray("a#b~{c}") << "a#b~{c}";
    QTest::newRow("first, and DEL") << QByteArray("~a\x7F") << "'~a'$'\\177'";
    QTest::newRow("shell characters") << QByteArray("a b=c$d!") << "'a b=c$d!'";
    QTest::newRow("single quote") << QByteArray("it's a") << "\"it's a\"";
    QTest::newRow("single quote and dollar") << QByteArray("a'$b") << "'a'\\''$b'";
    QTest::newRow("line break") << QByteArray("a\nb") << "'a'$'\\n''b'";
    QTest::newRow("escape sequence") << QByteArray("a\x1B[2J") << "'a'$'\\033''[2J'";
    QTest::newRow("escape then quote") << QByteArray("\a'") << "''$'\\a'\\'''";
    QTest::newRow("Latin-1") << QByteArray("caf\xE9 \xE9t\xE9") << "'caf'$'\\351'' '$'\\351''t'$'\\351'";
    QTest::newRow("surrogate in UTF-8") << QByteArray("\xED\xB2\x80") << "''$'\\355\\262\\200'";
    QTest::newRow("right-to-left override") << QByteArray("\xE2\x80\xAEgpj.exe") << "''$'\\342\\200\\256''gpj.exe'";
    QTest::newRow("empty") << QByteArray() << "''";
    QTest::newRow("C locale") << QByteArray("\xC3\xA9") << "C:''$'\\303\\251'";
}

void CommandLineTest::shownNames() {
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    const QString text = fileNameText(name);
    QCOMPARE(fileNameBytes(text), name);  // every byte back as it was
    setUtf8Terminal(!shown.startsWith("C:"));
    QCOMPARE(shownName(text), shown.startsWith("C:") ? shown.mid(2) : shown);
    setUtf8Terminal(true);
    QProcess sh;  // the shell takes it back
    sh.start("bash", {"-c", "printf %s " + shownName(text)});
    QVERIFY(sh.waitForFinished());
    QCOMPARE(sh.readAllStandardOutput(), name);
}

void CommandLineTest::writeErrorsAreTold() {
    const QString full = QStringLiteral(": No space left on device");  // a dry run's list fails as it is flushed, unsaid why
    for (const auto& [option, why] : {std::pair{QStringLiteral("--version"), full}, {QStringLiteral("--help"), full},
                                      {QStringLiteral("--convert -n --quiet ") + PELLICOR_PROGRAM, QString()}}) {
        const Run r = run({"-c", QStringLiteral("%1 %2 > /dev/full; echo $?").arg(PELLICOR_PROGRAM, option)}, {}, {}, "sh");
        QCOMPARE(r.err + r.out, "pellicor: write error" + why + "\n1\n");
    }
}

// Makes root/<folder>/<name> one folder at a time, relative to the one before (past PATH_MAX).
void makeBitmapBelow(const QByteArray& root, const QByteArray& folder, const QByteArray& name) {
    int fd = ::open(root, O_PATH | O_DIRECTORY);
    for (const QByteArray& part : folder.split('/')) {
        ::mkdirat(fd, part, 0777);
        fd = ::openat(fd, part, O_PATH | O_DIRECTORY);  // a few descriptors left open: the test ends soon
    }
    const std::vector<std::uint8_t> bytes = fixture::encode(fixture::Variant{}, fixture::photo(8, 6, false));
    const int file = ::openat(fd, name, O_WRONLY | O_CREAT, 0644);
    QVERIFY(file >= 0 && ::write(file, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && ::close(file) == 0);
}

void CommandLineTest::namesNotTextAndPathsPastPathMax_data() {
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("name");  // the bitmap's, without .bmp
    QTest::addColumn<QStringList>("arguments");  // after --convert, run twice with --skip-existing
    QTest::addColumn<QByteArray>("files");  // what is there afterwards; @ for folder/name
    const QByteArray latin = "caf\xE9/\xC9t\xE9";
    const QByteArray deep = (QByteArray(150, 'd') + '/').repeated(30).chopped(1);  // 4,529 bytes
    for (const auto& [tree, folder, name] : {std::tuple{"Latin-1", latin, QByteArray("\xE9t\xE9")}, {"deep", deep, QByteArray("p")}}) {
        QTest::addRow("%s", tree) << folder << name << QStringList{"-r", "n"} << QByteArray("n/@.bmp\nn/@.jpg\n");
        QTest::addRow("%s, deleting", tree) << folder << name << QStringList{"-r", "--delete", "n"} << QByteArray("n/@.jpg\n");
        QTest::addRow("%s, into a folder", tree) << folder << name << QStringList{"-r", "--delete", "-o", "out", "n"}
                                                 << QByteArray("out/@.jpg\n");
        QTest::addRow("%s, rerun", tree) << folder << name << QStringList{"-r", "-o", "out", "--skip-existing", "n"}
                                         << QByteArray("n/@.bmp\nout/@.jpg\n");
    }
}

void CommandLineTest::namesNotTextAndPathsPastPathMax() {
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, name);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, files);
    QVERIFY(QDir().mkdir("n"));
    makeBitmapBelow("n", folder, name + ".bmp");
    const bool rerun = arguments.contains("--skip-existing");
    for (int i = 0; i <= int(rerun); ++i) {
        const Run r = run(QStringList{"--convert"} + arguments);
        QVERIFY2(r.err.startsWith(i == 0 ? "1 converted, 0 failed, 0 skipped" : "0 converted, 0 failed, 1 skipped"), qPrintable(r.err));
        QCOMPARE(r.status, 0);
    }
    QProcess find;  // find walks by descriptors, so sees past PATH_MAX
    find.start("sh", {"-c", "find n out -type f 2>/dev/null | LC_ALL=C sort"});
    QVERIFY(find.waitForFinished());
    QCOMPARE(find.readAllStandardOutput(), files.replace('@', folder + '/' + name));
    QProcess::execute("rm", {"-rf", "n", "out"});  // QTemporaryDir stops at PATH_MAX
}

Run CommandLineTest::run(const QStringList& arguments, const QByteArray& input, const QByteArray& platform,
                         const QString& program) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The command line needs no display at all.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    if (!platform.isEmpty()) env.insert("QT_QPA_PLATFORM", platform);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

void CommandLineTest::optionsAndExitStatuses_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("platform");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");  // what standard output and error start with
    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0 << "pellicor 3.0.0.60\n";
    QTest::newRow("help") << QStringList{"--convert", "-h"} << QByteArray() << 0 << "Usage: pellicor [FILE_OR_FOLDER...]";
    QTest::newRow("nothing to convert") << QStringList{"--convert"} << QByteArray() << 2 << "pellicor: no files or folders";
    QTest::newRow("quality 0") << QStringList{"--convert", "-q", "0", "in"} << QByteArray() << 2 << "pellicor: invalid quality '0'";
    QTest::newRow("quality 101") << QStringList{"--convert", "--quality=101", "in"} << QByteArray() << 2 << "pellicor: invalid quality '101'";
    QTest::newRow("quality text") << QStringList{"--convert", "-q", "75%", "in"} << QByteArray() << 2 << "pellicor: invalid quality '75%'";
    QTest::newRow("sampling 4:1:1") << QStringList{"--convert", "--sample", "4:1:1", "in"} << QByteArray() << 2
                                    << "pellicor: invalid sampling '4:1:1' (4:4:4, 4:2:2 or 4:2:0)";
    QTest::newRow("encoder options") << QStringList{"--convert", "--sample=4:2:2", "--progressive", "--optimize", "--grayscale", "in"}
                                     << QByteArray() << 0 << "1 converted";
    QTest::newRow("no jobs") << QStringList{"--convert", "-j", "0", "in"} << QByteArray() << 2 << "pellicor: invalid number of jobs '0'";
    QTest::newRow("unknown option") << QStringList{"--convert", "--fast", "in"} << QByteArray() << 2 << "pellicor: Unknown option 'fast'";
    QTest::newRow("list that is not there") << QStringList{"--convert", "--files-from", "nolist"} << QByteArray() << 2
                                            << "pellicor: cannot read the list of files nolist: No such file or directory\n";
    QTest::newRow("list that is a folder") << QStringList{"--convert", "--files-from", "in"} << QByteArray() << 2
                                           << "pellicor: cannot read the list of files in: Is a directory\n";
    QTest::newRow("base without output folder") << QStringList{"--convert", "--base", "in", "in"} << QByteArray() << 2
                                                << "pellicor: --base needs -o";
    QTest::newRow("file below a file") << QStringList{"--convert", "in/top.bmp/x.bmp"} << QByteArray() << 1
                                       << "pellicor: cannot access in/top.bmp/x.bmp: Not a directory\n";
    // Said as a usage error, though no display could be found.
    QTest::newRow("option for the window") << QStringList{"-r", "in"} << QByteArray() << 2 << "pellicor: unknown option '-r'";
    QTest::newRow("Qt's own option for the window") << QStringList{"-platform", "offscreen", "-zz"} << QByteArray() << 2
                                                    << "pellicor: unknown option '-zz'";
    QTest::newRow("missing file") << QStringList{"--convert", "gone.bmp", "in/top.bmp"} << QByteArray() << 1
                                  << "pellicor: cannot access gone.bmp: No such file or directory\n1 converted, 1 failed, 0 skipped in ";
    QTest::newRow("not a bitmap") << QStringList{"--convert", "--quiet", "in/a/notes.txt"} << QByteArray() << 1
                                  << "pellicor: cannot load file in/a/notes.txt: The file is not a bitmap\n";
    QTest::newRow("log not opened") << QStringList{"--convert", "--log", "no/x", "in"} << QByteArray() << 2 << "pellicor: cannot open the log no/x: No such file";
    QTest::newRow("log not written") << QStringList{"--convert", "--log", "/dev/full", "in"} << QByteArray() << 1
                                     << "pellicor: cannot write the log /dev/full: No space left on device\n1 converted";
    QTest::newRow("dry run, log") << QStringList{"--convert", "-n", "--log", "x", "in"} << QByteArray() << 2 << "pellicor: --dry-run writes no log";
    QTest::newRow("dry run") << QStringList{"--convert", "--dry-run", "gone.bmp", "in"} << QByteArray() << 1
                             << "convert in/top.bmp -> in/top.jpg\npellicor: cannot access gone.bmp: No such file or directory\n1 to convert, 1 failed, 0 skipped in ";
    QTest::newRow("everything converted") << QStringList{"--convert", "-q", "100", "-j", "3", "in"} << QByteArray() << 0
                                          << "1 converted, 0 failed, 0 skipped in ";
}

void CommandLineTest::optionsAndExitStatuses() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, platform);
    QFETCH(int, status);
    QFETCH(QString, output);
    const Run r = run(arguments, {}, platform);
    QVERIFY2((r.out + r.err).contains(output), qPrintable(r.out + r.err));
    QCOMPARE(r.status, status);
    // As asked: a progressive frame of 16 x 12 with one component sampled 2x1.
    QFile jpeg("in/top.jpg");
    QVERIFY(!arguments.contains("--progressive") || (jpeg.open(QIODevice::ReadOnly) && jpeg.readAll().contains(QByteArray("\xFF\xC2\0\x0B\x08\0\x0C\0\x10\x01\x01\x21", 12))));
}

void CommandLineTest::trees_data() {
    QTest::addColumn<QStringList>("arguments");  // after --convert
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QStringList>("deleted");
    QTest::addColumn<QString>("failures");  // and before them what standard output says
    QTest::addColumn<QStringList>("before");  // more bitmaps, percent-encoded names; "!" for a file that is none
    const QStringList all = {"in/a/b/two.jpg", "in/a/one.jpg", "in/top.jpg"};
    QTest::newRow("folder") << QStringList{"in"} << QByteArray() << QStringList{"in/top.jpg"} << QStringList() << "" << QStringList();
    // The linked folder is not walked again, hidden files are left out.
    QTest::newRow("tree") << QStringList{"-r", "in"} << QByteArray() << all << QStringList() << "" << QStringList();
    QTest::newRow("tree with delete") << QStringList{"-r", "--delete", "in"} << QByteArray() << all
                                      << QStringList{"in/a/b/two.BMP", "in/a/one.bmp", "in/top.bmp"} << "" << QStringList();
    QTest::newRow("tree into a folder") << QStringList{"-r", "-o", "out", "in", "in/a/b/two.BMP"} << QByteArray()
                                        << QStringList{"out/a/b/two.jpg", "out/a/one.jpg", "out/top.jpg", "out/two.jpg"}
                                        << QStringList() << "" << QStringList();
    QTest::newRow("tree into a folder, deleting") << QStringList{"-r", "--delete", "-o", "out/x", "in/a"} << QByteArray()
                                                  << QStringList{"out/x/b/two.jpg", "out/x/one.jpg"}
                                                  << QStringList{"in/a/b/two.BMP", "in/a/one.bmp"} << "" << QStringList();
    QTest::newRow("a folder and a file in it") << QStringList{"in", "in/top.bmp"} << QByteArray() << QStringList{"in/top.jpg"}
                                               << QStringList() << "" << QStringList();
    QTest::newRow("one JPEG reached twice") << QStringList{"in/a/one.bmp", "in/link.bmp/one.bmp"} << QByteArray()
                                            << QStringList{"in/a/one.jpg"} << QStringList()
                                            << "pellicor: cannot save file in/link.bmp/one.jpg: Another file of this run has just written it\n" << QStringList();
    QTest::newRow("output folder blocked by a file") << QStringList{"-o", "in/top.bmp", "in/a"} << QByteArray() << QStringList()
                                                     << QStringList() << "pellicor: cannot save file in/top.bmp/one.jpg: Not a directory\n" << QStringList();
    QTest::newRow("list from find") << QStringList{"-0", "--files-from", "-"} << QByteArray("in/top.bmp\0in/a/b", 17)
                                    << QStringList{"in/a/b/two.jpg", "in/top.jpg"} << QStringList() << "" << QStringList();
    // An earlier picture of the JPEG's name (here a bitmap named .jpg): a run that deletes keeps both.
    QTest::newRow("delete never replaces a file") << QStringList{"--delete", "in"} << QByteArray() << QStringList() << QStringList()
        << "pellicor: cannot save file in/top.jpg: A file of that name is there already, and a run that deletes bitmaps replaces none\n"
        << QStringList{"in/top.jpg"};
    // Only a folder argument holding no bitmaps of its own but some below gets the hint.
    QTest::newRow("bitmaps only below") << QStringList{"in/x"} << QByteArray() << QStringList() << QStringList()
        << "pellicor: in/x holds no bitmaps; its subfolders do: add -r to convert them\n" << QStringList{"in/x/y/z/p.bmp"};
    // Only the JPEG that is not there yet is written; with --delete the bitmap beside a JPEG stays as well.
    QTest::newRow("no clobber") << QStringList{"-r", "--no-clobber", "in"} << QByteArray() << QStringList{"in/a/b/two.jpg", "in/a/one.jpg"}
                                << QStringList() << "" << QStringList{"in/top.jpg"};
    QTest::newRow("no clobber, delete") << QStringList{"--no-clobber", "--delete", "in"} << QByteArray() << QStringList()
                                        << QStringList() << "" << QStringList{"in/top.jpg"};
    QTest::newRow("dry run") << QStringList{"-n", "-r", "--delete", "-o", "out", "in/a", "in/x"} << QByteArray() << QStringList() << QStringList()
        << "convert in/a/one.bmp -> out/one.jpg\ndelete in/a/one.bmp\nconvert in/a/b/two.BMP -> out/b/two.jpg\ndelete in/a/b/two.BMP\n"
           "convert 'in/x/a'$'\\n''b.bmp' -> 'out/a'$'\\n''b.jpg'\ndelete 'in/x/a'$'\\n''b.bmp'\n" << QStringList{"in/x/a%0Ab.bmp"};
    QTest::newRow("dry run, deleting beside a JPEG") << QStringList{"-n", "--delete", "in"} << QByteArray() << QStringList() << QStringList()
        << "convert in/top.bmp -> in/top.jpg (the JPEG is there already: it stays, and the bitmap too unless it holds this picture)\n"
        << QStringList{"in/top.jpg"};
    QTest::newRow("dry run, skipping") << QStringList{"-n", "--no-clobber", "--skip-existing", "in", "in/a"} << QByteArray() << QStringList()
        << QStringList() << "skip in/top.bmp (JPEG up to date)\nskip in/a/one.bmp (JPEG exists)\n" << QStringList{"in/top.jpg", "in/a/one.jpg/x.bmp"};
    const QString longest = "in/x/" + QString(251, 'n');  // with .bmp or .jpg, the longest name a folder holds
    QTest::newRow("the longest name") << QStringList{"--delete", "in/x"} << QByteArray() << QStringList{longest + ".jpg"}
                                      << QStringList{longest + ".bmp"} << "" << QStringList{longest + ".bmp"};
    QTest::newRow("a line break in a name") << QStringList{"in/x"} << QByteArray() << QStringList() << QStringList()
        << "pellicor: cannot load file 'in/x/a'$'\\n''b.bmp': The file is not a bitmap\n" << QStringList{"!in/x/a%0Ab.bmp"};
    QTest::newRow("listed files keep their folders below --base") << QStringList{"--base", "in", "-o", "out", "in/a/b/two.BMP", "--files-from", "-"}
        << QByteArray("in/a/../top.bmp\n") << QStringList{"out/a/b/two.jpg", "out/top.jpg"} << QStringList() << "" << QStringList();
    QTest::newRow("a folder keeps its path below --base") << QStringList{"-r", "--base", ".", "-o", "out", "in/a"} << QByteArray()
        << QStringList{"out/in/a/b/two.jpg", "out/in/a/one.jpg"} << QStringList() << "" << QStringList();
    // "@" is the current folder.
    QTest::newRow("a path not below --base") << QStringList{"--base", "in/a", "-o", "out", "@/in/a/one.bmp", "in/a/../ab.bmp"} << QByteArray()
        << QStringList{"out/one.jpg"} << QStringList() << "pellicor: cannot convert in/a/../ab.bmp: it is not below the base folder in/a\n" << QStringList{"in/ab.bmp"};
    QTest::newRow("two bitmaps for one JPEG") << QStringList{"-o", "out", "in/top.bmp", "in/c/top.bmp"} << QByteArray() << QStringList{"out/top.jpg"}
        << QStringList() << "pellicor: cannot convert in/c/top.bmp: another bitmap of this run goes to out/top.jpg; keep their folders with --base\n"
        << QStringList{"in/c/top.bmp"};
    QTest::newRow("excluded by path, folders only") << QStringList{"-r", "--exclude", "a/*/", "--exclude", "/c/", "--exclude", "top.bmp/", "in"}
        << QByteArray() << QStringList{"in/a/one.jpg", "in/top.jpg", "in/x/c/top.jpg"} << QStringList() << ""
        << QStringList{"in/c/top.bmp", "in/x/c/top.bmp", "in/x/a/b/z.bmp"};
    QTest::newRow("excluded by name") << QStringList{"-r", "--exclude", "b", "--exclude", "o*", "in"} << QByteArray() << QStringList{"in/top.jpg"}
        << QStringList() << "" << QStringList();
    QTest::newRow("excluded from a list") << QStringList{"--exclude", "*.BMP", "--exclude", "in/c/*", "--files-from", "-"}
        << QByteArray("in/a/b/two.BMP\nin/c/top.bmp\nin/top.bmp") << QStringList{"in/top.jpg"} << QStringList() << "" << QStringList{"in/c/top.bmp"};
}

void CommandLineTest::trees() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, created);
    QFETCH(QStringList, deleted);
    QFETCH(QString, failures);
    QFETCH(QStringList, before);
    for (const QString& name : before) {
        const QByteArray path = QByteArray::fromPercentEncoding(name.toUtf8().mid(name.startsWith('!')));
        QDir().mkpath(QFileInfo(QFile::decodeName(path)).path());
        QVERIFY(fixture::writeFile(path.toStdString(), name.startsWith('!') ? std::vector<std::uint8_t>(9, 'x')
                                                                             : fixture::encode(fixture::Variant{}, fixture::photo(4, 4, false))));
    }
    QStringList expected = filesUnder(".") + created;
    for (const QString& gone : deleted) expected.removeOne(gone);
    expected.sort();
    const Run r = run(QStringList{"--convert"} + arguments.replaceInStrings(QRegularExpression("^@"), QDir::currentPath()), input);
    QCOMPARE(r.out + r.err.section('\n', 0, -3) + (r.err.count('\n') > 1 ? "\n" : ""), failures);
    QCOMPARE(r.status, failures.contains("cannot") ? 1 : 0);
    QCOMPARE(filesUnder("."), expected);
    for (const QString& jpeg : created) QVERIFY2(completeJpeg(jpeg), qPrintable(jpeg));
    QVERIFY(!arguments.contains("-n") || !QFileInfo::exists("out"));  // not even a folder made
    for (const QString& name : before) {  // still what they were, unless deleted
        if (deleted.contains(name)) continue;
        std::ifstream kept(QByteArray::fromPercentEncoding(name.toUtf8().mid(name.startsWith('!'))).toStdString());
        QVERIFY2(kept && kept.get() == (name.startsWith('!') ? 'x' : 'B'), qPrintable(name));
    }
}

void CommandLineTest::preservedTimesDecideWhatIsUpToDate_data() {
    QTest::addColumn<QStringList>("preserve");
    QTest::addColumn<int>("shift");  // seconds the bitmap's time moves after the first run
    QTest::addColumn<bool>("converted");  // by the second, with --skip-existing
    // A bitmap put back from an older copy is out of date once its JPEG has taken the bitmap's time.
    QTest::newRow("-p, older bitmap") << QStringList{"-p"} << -60 << true;
    QTest::newRow("-p, newer bitmap") << QStringList{"-p"} << 60 << true;
    QTest::newRow("-p, the same time") << QStringList{"--preserve"} << 0 << false;
    QTest::newRow("older bitmap") << QStringList() << -60 << false;  // a JPEG from the future counts as done
    QTest::newRow("newer bitmap") << QStringList() << 60 << true;
}

void CommandLineTest::preservedTimesDecideWhatIsUpToDate() {
    QFETCH(QStringList, preserve);
    QFETCH(int, shift);
    QFETCH(bool, converted);
    // The set-user-ID bit is not taken over, the permissions are (whatever the umask).
    const timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
    QVERIFY(::chmod("in/top.bmp", 04640) == 0 && ::utimensat(AT_FDCWD, "in/top.bmp", old, 0) == 0);
    QCOMPARE(run(QStringList{"--convert", "-o", "out", "in"} + preserve).status, 0);
    struct stat jpeg {};
    QVERIFY(::stat("out/top.jpg", &jpeg) == 0);
    QCOMPARE(jpeg.st_mode & 07777, preserve.isEmpty() ? 0666 & ~umask(022) : 0640);
    const timespec first = jpeg.st_mtim, moved[2] = {{0, UTIME_OMIT}, {first.tv_sec + shift, first.tv_nsec}};
    QCOMPARE(first.tv_sec == old[1].tv_sec && first.tv_nsec == old[1].tv_nsec, !preserve.isEmpty());
    QVERIFY(::utimensat(AT_FDCWD, "in/top.bmp", moved, 0) == 0);
    const Run r = run(QStringList{"--convert", "-o", "out", "--skip-existing", "in"} + preserve);
    QVERIFY2(r.err.startsWith(converted ? "1 converted, 0 failed, 0 skipped" : "0 converted, 0 failed, 1 skipped"), qPrintable(r.err));
    QVERIFY(::stat("out/top.jpg", &jpeg) == 0);
    QCOMPARE(jpeg.st_mtim.tv_sec != first.tv_sec || jpeg.st_mtim.tv_nsec != first.tv_nsec, converted);
}

void CommandLineTest::logLines_data() {
    QTest::addColumn<QStringList>("arguments");  // after --convert --log
    QTest::addColumn<QString>("lines");  // sizes above 0 as N, times as T
    const QString line = R"({"source":"%1","jpeg":"%2","outcome":"%3","reason":"%4","bytes":%5,"time":T})" "\n";
    QTest::newRow("file") << QStringList{"run.log", "--no-clobber", "in", "in/a", "in/a/notes.txt"}
        << line.arg("in/top.bmp", "in/top.jpg", "skipped", "JPEG exists", "N") + line.arg("in/a/one.bmp", "in/a/one.jpg", "converted", "", "N") +
           line.arg("in/a/notes.txt", "in/a/notes.jpg", "failed", "The file is not a bitmap", "0");
    QTest::newRow("standard output, a strange name") << QStringList{"-", "in/x"}
        << line.arg(R"(in/x/\u0001\t\\\"\u001b[1m\n\u0085.bmp)", R"(in/x/\u0001\t\\\"\u001b[1m\n\u0085.jpg)", "converted", "", "N");
}

void CommandLineTest::logLines() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, lines);
    const QString odd = QString::fromUtf8("in/x/\x01\t\\\"\x1b[1m\n\xc2\x85.bmp");
    QVERIFY(QDir().mkpath("in/x") && QFile::copy("in/a/one.bmp", odd) && QFile::copy("in/top.bmp", "in/top.jpg"));
    const Run r = run(QStringList{"--convert", "--log"} + arguments);
    QString log = arguments[0] == "-" ? r.out : QString::fromUtf8(contentOf(arguments[0]));
    log.replace(QRegularExpression(R"("bytes":[1-9][0-9]*)"), R"("bytes":N)").replace(QRegularExpression(R"("time":[0-9]+\.[0-9]+)"), R"("time":T)");
    QCOMPARE(log, lines);
}

// A name's stray bytes as Python's surrogateescape holds them; a lone half, line separators and DEL escaped too.
void CommandLineTest::jsonStrings() {
    QCOMPARE(jsonString(fileNameText("\xff\xe9t")), QByteArray(R"("\udcff\udce9t")"));
    QCOMPARE(jsonString(QString::fromUtf8("\xf0\x9f\x93\xb7") + QChar(0xD83D) + QChar(0x2028) + "\x7f"),
             QByteArray("\"\xf0\x9f\x93\xb7\\ud83d\\u2028\\u007f\""));
}

void CommandLineTest::progressOnATerminalOnly_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<bool>("quiet");
    QTest::newRow("terminal") << true << false;
    QTest::newRow("pipe") << false << false;
    QTest::newRow("terminal, quiet") << true << true;
    QTest::newRow("pipe, quiet") << false << true;
}

void CommandLineTest::progressOnATerminalOnly() {
    QFETCH(bool, terminal);
    QFETCH(bool, quiet);
    const QStringList convert = {PELLICOR_PROGRAM, "--convert", "-r", "in", quiet ? "--quiet" : "-j2"};
    // script(1) gives the command a terminal on its standard streams.
    const Run r = terminal ? run({"-qec", convert.join(' '), "/dev/null"}, {}, {}, "script") : run(convert.mid(1));
    QCOMPARE(r.status, 0);
    const QString said = r.out + r.err;
    if (quiet) {
        QCOMPARE(said, QString());
    } else if (!terminal) {
        QVERIFY2(QRegularExpression("^3 converted, 0 failed, 0 skipped in [0-9]+\\.[0-9] s\n$").match(said).hasMatch(), qPrintable(said));
    } else {
        // Redrawn in place: files done of all, files and megabytes per second, time left; then taken away.
        const QRegularExpression bar("^(\r[0-3]/3 \\[[#-]+\\] [0-9]+\\.[0-9] files/s [0-9]+\\.[0-9] MB/s [-:0-9]+ left\x1b\\[K)+"
                                     "\r\x1b\\[K3 converted, 0 failed, 0 skipped in [0-9.]+ s\r\n$");
        QVERIFY2(bar.match(said).hasMatch(), qPrintable(said.toUtf8().toPercentEncoding(" /#[]:.,-")));
    }
}

void CommandLineTest::aListIsConvertedWhileItIsWritten() {
    // The next paths come only once the first one's JPEG is there; meanwhile the bar counts without a total.
    // The last one's JPEG is the first one's, spelled through a link: a later batch must not write it again.
    const QString list = "(echo in/a/one.bmp; for i in $(seq 200); do [ -e in/a/one.jpg ] && sleep 1 && echo in/top.bmp && "
                         "echo in/link.bmp/one.bmp && break; sleep 0.1; done)";
    const Run r = run({"-qec", list + " | " + PELLICOR_PROGRAM + " --convert --files-from -", "/dev/null"}, {}, {}, "script");
    QVERIFY2(r.out.contains("\r1 done ") && r.out.contains("2 converted, 1 failed") &&
                 r.out.contains("cannot save file in/link.bmp/one.jpg: Another file of this run has just written it"),
             qPrintable(r.out));
    QVERIFY(completeJpeg("in/top.jpg"));
}

void CommandLineTest::ctrlCLeavesNoPartialJpegAndLosesNoSource_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("kill") << SIGTERM;
    QTest::newRow("terminal closed") << SIGHUP;
}

void CommandLineTest::ctrlCLeavesNoPartialJpegAndLosesNoSource() {
    QFETCH(int, signal);
    // Large enough to stop in the middle, with files under way on both threads.
    writeBitmap("big/f00.bmp", 1600, 1200);
    for (int i = 1; i < 40; ++i) QVERIFY(QFile::copy("big/f00.bmp", QStringLiteral("big/f%1.bmp").arg(i, 2, 10, QLatin1Char('0'))));
    QProcess p;
    p.start(PELLICOR_PROGRAM, {"--convert", "--delete", "-j", "2", "big"});
    QVERIFY(p.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (QDir("big").entryList({"*.jpg"}).isEmpty() && waited.elapsed() < 20000) QThread::msleep(1);
    ::kill(static_cast<pid_t>(p.processId()), signal);
    QVERIFY(p.waitForFinished(20000));
    // Ended by the signal itself, as a shell loop around it must see to stop too.
    QCOMPARE(p.exitStatus(), QProcess::CrashExit);
    QCOMPARE(p.exitCode(), signal);
    QVERIFY(p.readAllStandardError().contains("pellicor: stopping once the files under way are done (again to stop at once)\n"));
    QStringList left = QDir("big").entryList(QDir::Files | QDir::Hidden);
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("big/f%1").arg(i, 2, 10, QLatin1Char('0'));
        const bool converted = QFile::exists(name + ".jpg");
        QVERIFY2(converted != QFile::exists(name + ".bmp"), qPrintable(name));  // one or the other, never neither
        QVERIFY(!converted || completeJpeg(name + ".jpg"));
        left.removeOne(QFileInfo(name + (converted ? ".jpg" : ".bmp")).fileName());
    }
    QCOMPARE(left, QStringList());  // no temporary file
}

void CommandLineTest::aHeaderAskingForTooMuchFailsOnlyItsFile() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizer needs more address space than this test leaves");
#endif
    // 1,080 bytes: an RLE8 picture of 65,500 x 65,500 pixels, the most a JPEG holds, its stream just "end of picture".
    QByteArray bytes("BM");
    const auto le32 = [&bytes](quint32 v) { for (int i = 0; i < 4; ++i) bytes.append(char(v >> (8 * i))); };
    le32(1080), le32(0), le32(1078), le32(40), le32(65500), le32(65500), le32(1 | 8 << 16), le32(1), le32(2), le32(0), le32(0), le32(256), le32(0);
    bytes.append(QByteArray(1024, '\0')).append("\0\1", 2);
    QFile hostile("in/wide.bmp");
    QVERIFY(hostile.open(QIODevice::WriteOnly) && hostile.write(bytes) == 1080);
    hostile.close();
    // With less address space than its buffer needs.
    const Run r = run({"-c", QStringLiteral("ulimit -v 3000000; exec %1 --convert -j 1 --delete in").arg(PELLICOR_PROGRAM)}, {}, {}, "sh");
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.startsWith("pellicor: not enough memory: in/wide.bmp needs 4.0 GiB\n1 converted, 1 failed"), qPrintable(r.err));
    QVERIFY(completeJpeg("in/top.jpg") && QFile::exists("in/wide.bmp"));
}

void CommandLineTest::aNearlyFullDiskConvertsWhatOneByOneWould() {
    QVERIFY(QDir().mkpath("small"));
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", "small"}) != 0)
        QSKIP("mounting a small file system needs root");
    const auto unmount = qScopeGuard([] { QProcess::execute("umount", {"small"}); });
    for (int i = 0; i < 12; ++i) writeBitmap(QStringLiteral("small/p%1.bmp").arg(i, 2, 10, QLatin1Char('0')), 40, 30);
    // Room for two JPEGs: those made ahead fill it, and each bitmap deleted in its turn gives room back.
    struct statvfs fs {};
    QVERIFY(::statvfs("small", &fs) == 0);
    QFile filler("small/filler");
    QVERIFY(filler.open(QIODevice::WriteOnly));
    QCOMPARE(filler.write(QByteArray(static_cast<int>((fs.f_bavail - 2) * fs.f_bsize), 'x')), qint64((fs.f_bavail - 2) * fs.f_bsize));
    filler.close();
    const Run r = run({"--convert", "--delete", "-j", "2", "small"});
    QVERIFY2(r.err.startsWith("12 converted, 0 failed"), qPrintable(r.err));
    QCOMPARE(QDir("small").entryList({"*.bmp"}), QStringList());
    QCOMPARE(QDir("small").entryList({"*.jpg"}).size(), 12);
}

void CommandLineTest::everyAcceptedJobCountWorks() {
    for (int i = 0; i < 2000; ++i) writeBitmap(QStringLiteral("many/m%1.bmp").arg(i, 4, 10, QLatin1Char('0')), 8, 8);
    // Debian's default limit of open files, and every file under way at once.
    const Run r = run({"-c", QStringLiteral("ulimit -n 1024; exec %1 --convert -j 1024 many").arg(PELLICOR_PROGRAM)}, {}, {}, "sh");
    QVERIFY2(r.err.startsWith("2000 converted, 0 failed"), qPrintable(r.err.left(300)));
    QCOMPARE(r.status, 0);
}

void CommandLineTest::deleteRunsTellTheTruthAndCanBeFinished() {
    QCOMPARE(run({"--convert", "in"}).status, 0);
    // The same bytes through a link are not this bitmap's JPEG.
    QVERIFY(QFile::rename("in/top.jpg", "in/a/kept.jpg") && QFile::link("a/kept.jpg", "in/top.jpg"));
    QVERIFY2(run({"--convert", "--delete", "in"}).err.startsWith("pellicor: cannot save file in/top.jpg: A file of that name is there already"), "");
    QVERIFY(QFile::remove("in/top.jpg") && QFile::rename("in/a/kept.jpg", "in/top.jpg"));
    // Not even root deletes an immutable file: its JPEG was written all the same.
    if (QProcess::execute("chattr", {"+i", "in/top.bmp"}) != 0) QSKIP("making a file immutable needs root");
    auto thaw = qScopeGuard([] { QProcess::execute("chattr", {"-i", "in/top.bmp"}); });
    Run r = run({"--convert", "--delete", "--log", "-", "in"});
    QVERIFY2(r.err.startsWith("pellicor: cannot delete file in/top.bmp: Operation not permitted\n1 converted, 0 failed"), qPrintable(r.err));
    QVERIFY2(r.out.contains(R"("outcome":"kept","reason":"Operation not permitted")"), qPrintable(r.out));
    QCOMPARE(r.status, 1);
    // The JPEG of the first run holds this very picture: the bitmap may go, also when skipping what is done.
    QCOMPARE(QProcess::execute("chattr", {"-i", "in/top.bmp"}), 0);
    thaw.dismiss();
    r = run({"--convert", "--delete", "--skip-existing", "in"});
    QVERIFY2(r.err.startsWith("1 converted, 0 failed, 0 skipped"), qPrintable(r.err));
    QVERIFY(!QFile::exists("in/top.bmp") && completeJpeg("in/top.jpg"));
}

// FAT through FUSE: names ignore case, every spelling has an inode number of
// its own, and there are no unnamed files, hard links or renames that never replace.
void CommandLineTest::aStickWhoseNamesIgnoreCase() {
    const support::FatStick stick;
    if (!stick.mounted()) QSKIP(qPrintable(stick.whyNot()));
    writeBitmap("cases/x.bmp", 16, 12);
    writeBitmap("cases/X.BMP", 20, 10);
    const QString out = stick.path() + "/out";
    Run r = run({"--convert", "-o", out, "cases/x.bmp", "cases/X.BMP"});
    QCOMPARE(r.err.section('\n', 0, 0), "pellicor: cannot save file " + out + "/X.jpg: Another file of this run has just written it");
    QVERIFY2(r.err.section('\n', 1).startsWith("1 converted, 1 failed"), qPrintable(r.err));
    QCOMPARE(run({"--convert", "-o", "ref", "cases/x.bmp"}).status, 0);
    QCOMPARE(contentOf(out + "/x.jpg"), contentOf("ref/x.jpg"));  // the first one's picture

    // A bitmap named like a JPEG, alone or beside one whose JPEG it would be: no JPEG replaces it.
    writeBitmap(stick.path() + "/e/P.JPG");
    writeBitmap(stick.path() + "/e/p.bmp");
    r = run({"--convert", stick.path() + "/e/P.JPG"});
    QVERIFY2(r.err.startsWith("pellicor: cannot save file " + stick.path() + "/e/P.jpg: It would replace the bitmap itself\n"), qPrintable(r.err));
    r = run({"--convert", stick.path() + "/e/p.bmp", stick.path() + "/e/P.JPG"});
    QVERIFY2(r.err.startsWith("pellicor: cannot save file " + stick.path() + "/e/p.jpg: It would replace a bitmap this run converts\n"), qPrintable(r.err));
    QCOMPARE(contentOf(stick.path() + "/e/P.JPG").left(2), QByteArray("BM"));
    QVERIFY(QDir(stick.path() + "/e").removeRecursively());

    // Converting there, deleting: every bitmap goes, no temporary file stays.
    for (const char* name : {"/a.bmp", "/b.bmp", "/c.bmp"}) writeBitmap(stick.path() + name);
    r = run({"--convert", "--delete", "-j", "2", stick.path()});
    QVERIFY2(r.err.startsWith("3 converted, 0 failed"), qPrintable(r.err));
    QCOMPARE(filesUnder(stick.path()), (QStringList{"a.jpg", "b.jpg", "c.jpg", "out/x.jpg"}));
}

// Kinds and sizes side by side, several large enough to be read on two processors
// when converted one at a time: the same JPEGs whichever way.
void CommandLineTest::aMixedTreeOnFourThreadsAsOnOne() {
    using namespace fixture;
    Variant topDown;
    topDown.topDown = true;
    const struct {
        const char* name;
        Variant v;
        int width, height;
    } kinds[] = {
        {"24/photo.bmp", Variant{}, 1600, 1000},
        {"24/small.bmp", Variant{}, 30, 20},
        {"24/a/top-down.bmp", topDown, 1700, 900},
        {"8/palette.bmp", indexedVariant(8, BI_RGB, Header::Info, colourPalette(256)), 2400, 1800},
        {"8/a/rle.bmp", indexedVariant(8, BI_RLE8, Header::Info, colourPalette(256)), 900, 700},
        {"4/rle.bmp", indexedVariant(4, BI_RLE4, Header::Info, colourPalette(16)), 333, 211},
        {"1/core.bmp", indexedVariant(1, BI_RGB, Header::Core, grayPalette(2)), 3000, 2000},
        {"16/565.bmp", maskVariant(16, BI_BITFIELDS, Header::V3, {0xF800, 0x07E0, 0x001F, 0}), 1500, 1500},
        {"32/argb.bmp", maskVariant(32, BI_BITFIELDS, Header::V5, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), 1200, 1000},
    };
    for (const auto& k : kinds) {
        Picture p = photo(k.width, k.height, k.v.bits <= 8);
        for (auto& i : p.indices) i = static_cast<std::uint8_t>(i >> (8 - k.v.bits));
        QDir().mkpath(QFileInfo(QStringLiteral("tree/") + k.name).path());
        QVERIFY(writeFile(std::string("tree/") + k.name, encode(k.v, p)));
    }
    const Run four = run({"--convert", "-r", "-j", "4", "-o", "four", "tree"});
    QVERIFY2(four.err.startsWith("9 converted, 0 failed") && four.status == 0, qPrintable(four.err));
    QCOMPARE(run({"--convert", "-r", "-j", "1", "-o", "one", "tree"}).status, 0);
    const QStringList jpegs = filesUnder(QDir("one").absolutePath());
    QCOMPARE(jpegs.size(), 9);
    QCOMPARE(filesUnder(QDir("four").absolutePath()), jpegs);
    for (const QString& jpeg : jpegs) QVERIFY2(contentOf("four/" + jpeg) == contentOf("one/" + jpeg), qPrintable(jpeg));
}

// The command line alone: --convert optional, its own help.
void CommandLineTest::pellicorConvert_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::newRow("without --convert") << QStringList{"-q", "90", "in"} << 0 << "1 converted, 0 failed";
    QTest::newRow("with --convert") << QStringList{"in", "--convert"} << 0 << "1 converted, 0 failed";
    QTest::newRow("--convert as a name") << QStringList{"--", "--convert"} << 1 << "pellicor: cannot access --convert: No such file";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: pellicor-convert [OPTIONS] PATH...\n\nConverts";
    QTest::newRow("usage error") << QStringList{"-q", "0", "in"} << 2 << "\nTry 'pellicor-convert --help' for more";
}

void CommandLineTest::pellicorConvert() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    const Run r = run(arguments, {}, {}, PELLICOR_CONVERT_PROGRAM);
    QVERIFY2((r.out + r.err).contains(output), qPrintable(r.out + r.err));
    QCOMPARE(r.status, status);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_command_line.moc"

// Pixel memory under AddressSanitizer (built only there): a byte written past
// a picture's size, inside a larger recycled buffer or past a mapping's end,
// or into a buffer given back, ends the process with a report.
#include "fast_paths.h"
#include "imaging.h"
#include "pixel_memory.h"
#include "testing_hooks.h"

#include <QtTest>
#include <sys/wait.h>
#include <unistd.h>

class GuardedMemoryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(imaging_force_fast_paths("")); }  // recycling on, whatever the environment says
    void strayWrites_data();
    void strayWrites();
};

void GuardedMemoryTest::strayWrites_data() {
    QTest::addColumn<int>("kept");  // a buffer of this size is given back first (0: none)
    QTest::addColumn<int>("size");  // then one of this size is taken
    QTest::addColumn<int>("offset");  // and this byte of it written
    QTest::addColumn<bool>("givenBack");  // after it, too, was given back
    QTest::addColumn<bool>("caught");
    constexpr int MiB = 1 << 20;
    QTest::newRow("last byte of a recycled buffer") << MiB << MiB - 100 << MiB - 101 << false << false;
    QTest::newRow("past a recycled buffer's size") << MiB << MiB - 100 << MiB - 100 << false << true;
    QTest::newRow("past a new mapping's end") << 0 << MiB << MiB << false << true;
    QTest::newRow("into a buffer given back") << 0 << MiB << 0 << true << true;
}

void GuardedMemoryTest::strayWrites() {
    QFETCH(int, kept);
    QFETCH(int, size);
    QFETCH(int, offset);
    QFETCH(bool, givenBack);
    QFETCH(bool, caught);
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe[1], 2);
        imaging_release_spare_memory();
        if (kept > 0) imaging::pixelMemory(static_cast<std::size_t>(kept));
        const auto recycled = imaging::pathUses(imaging::PathUse::RecycledBuffer);
        auto memory = imaging::pixelMemory(static_cast<std::size_t>(size));
        if ((kept > 0) != !memory.fresh || (kept > 0) != (recycled == imaging::pathUses(imaging::PathUse::RecycledBuffer) - 1))
            ::_exit(3);  // not the buffer this row is about
        volatile std::uint8_t* bytes = memory.bytes.get();
        if (givenBack) memory.bytes.reset();
        bytes[offset] = 1;
        ::_exit(0);
    }
    ::close(pipe[1]);
    QByteArray said;
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
    ::close(pipe[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == (caught ? 1 : 0), said.constData());
    QCOMPARE(said.contains("AddressSanitizer: use-after-poison"), caught);
}

QTEST_GUILESS_MAIN(GuardedMemoryTest)
#include "tst_guarded_memory.moc"

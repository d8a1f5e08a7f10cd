// For the ThreadSanitizer build only. Qt is not built with the sanitizer, so
// it cannot see the hand-offs inside QThreadPool, QFuture and QtConcurrent
// (locks in Qt's own code): every task queued and every result passed from a
// worker to its waiter would look like a data race. Loaded ahead of Qt, these
// few functions tell it of each hand-off (release where one end publishes,
// acquire where the other takes over, on the state both ends share) and then
// do what Qt's own do. Nothing is hidden from it.
#define QFUTURE_TEST  // makes QFutureInterfaceBase::d, the shared state, visible
#include <QFutureInterface>
#include <QThreadPool>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename Fn>
Fn qtOwn(const char* name) {
    void* fn = ::dlvsym(RTLD_NEXT, name, "Qt_6");
    if (fn == nullptr) fn = ::dlsym(RTLD_NEXT, name);
    if (fn == nullptr) __builtin_trap();
    return reinterpret_cast<Fn>(fn);
}

// A task queued on any thread pool; Qt takes the pool's lock to queue it
// and again to run it (one key stands for every pool).
char queued;

// Reading d is the bridge's business, not the program's.
__attribute__((no_sanitize_thread)) void* shared(const QFutureInterfaceBase* f) { return f->d; }
void publish(const QFutureInterfaceBase* f) { __tsan_release(shared(f)); }
void takeOver(const QFutureInterfaceBase* f) { __tsan_acquire(shared(f)); }

using Future = QFutureInterfaceBase;
using ConstFuture = const QFutureInterfaceBase;

}  // namespace

// Each stands in for the Qt function of that (mangled) name.
#define STANDS_IN(ret, name, mangled, ...)                                       \
    extern "C" ret name(__VA_ARGS__) __asm__(mangled);                           \
    static auto qt_##name() {                                                    \
        static const auto fn = qtOwn<ret (*)(__VA_ARGS__)>(mangled);             \
        return fn;                                                               \
    }                                                                            \
    extern "C" ret name(__VA_ARGS__)

// The task as built, to the thread that runs it.
STANDS_IN(void, reportStarted, "_ZN20QFutureInterfaceBase13reportStartedEv", Future* f) {
    publish(f);
    qt_reportStarted()(f);
}

STANDS_IN(void, reportResultsReady, "_ZN20QFutureInterfaceBase18reportResultsReadyEii", Future* f, int begin, int end) {
    publish(f);
    qt_reportResultsReady()(f, begin, end);
}

// The last of several workers of a map tidies up after the others.
STANDS_IN(void, reportFinished, "_ZN20QFutureInterfaceBase14reportFinishedEv", Future* f) {
    publish(f);
    qt_reportFinished()(f);
    takeOver(f);
}

STANDS_IN(void, waitForFinished, "_ZN20QFutureInterfaceBase15waitForFinishedEv", Future* f) {
    qt_waitForFinished()(f);
    takeOver(f);
}

STANDS_IN(void, waitForResult, "_ZN20QFutureInterfaceBase13waitForResultEi", Future* f, int index) {
    qt_waitForResult()(f, index);
    takeOver(f);
}

STANDS_IN(bool, isFinished, "_ZNK20QFutureInterfaceBase10isFinishedEv", ConstFuture* f) {
    const bool finished = qt_isFinished()(f);
    if (finished) takeOver(f);
    return finished;
}

// A worker's first call, and a map's between its blocks.
STANDS_IN(bool, isCanceled, "_ZNK20QFutureInterfaceBase10isCanceledEv", ConstFuture* f) {
    publish(f);
    takeOver(f);
    __tsan_acquire(&queued);
    return qt_isCanceled()(f);
}

STANDS_IN(void, start, "_ZN11QThreadPool5startEP9QRunnablei", QThreadPool* pool, QRunnable* task, int priority) {
    __tsan_release(&queued);
    qt_start()(pool, task, priority);
}

// QtConcurrent's map starting its further threads.
STANDS_IN(bool, tryStart, "_ZN11QThreadPool8tryStartEP9QRunnable", QThreadPool* pool, QRunnable* task) {
    __tsan_release(&queued);
    return qt_tryStart()(pool, task);
}

// Whoever lets go of a result last frees it.
STANDS_IN(bool, derefT, "_ZNK20QFutureInterfaceBase6derefTEv", ConstFuture* f) {
    publish(f);
    const bool held = qt_derefT()(f);
    takeOver(f);
    return held;
}

// Help from a second processor, for one large image at a time (reading into
// new memory). A helper thread is asked only while processors are free:
// when the program converts several files at once, each conversion runs
// alone. The calling thread never waits for a helper that has not started:
// work nobody has begun, it does itself.
#pragma once

#include <functional>

namespace imaging {

// Counts the calls that may ask for help, while they run.
class BusyConversion {
public:
    BusyConversion();
    ~BusyConversion();
    BusyConversion(const BusyConversion&) = delete;
    BusyConversion& operator=(const BusyConversion&) = delete;
};

// Whether a processor is free to help the running conversion.
bool processorFree();

// Runs work(0) ... work(pieces - 1), on this thread and, if a processor is
// free, on a helper; returns once every piece is done. work must be safe to
// run on two threads at once for different pieces.
void shareWork(int pieces, const std::function<void(int)>& work);

}  // namespace imaging

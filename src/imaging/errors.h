// Why the last call failed, kept per thread for imaging_os_error and
// imaging_bytes_needed.
#pragma once

#include <cstdint>

namespace imaging {

// Keeps the system's reason (an errno value) for the failure about to be
// returned; 0 clears it at the start of a call.
void noteOsError(int error);

// Keeps what the picture just refused for memory would have needed; 0 clears it.
void noteBytesNeeded(std::uint64_t bytes);

}  // namespace imaging

// Arbitrary bytes as the settings file. parse() must never crash, throw or
// hang, and a hive it reads must come back unchanged from a save and a read.
#include "hive_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Hive hive;
    if (!registry_file::parse(std::string(reinterpret_cast<const char*>(data), size), hive)) return 0;
    Hive again;
    if (!registry_file::parse(registry_file::format(hive), again) || !(again == hive)) std::abort();
    return 0;
}

// The instruction levels this build runs on this machine, for tests held to
// each one through PELLICOR_FAST_PATHS (which quietly caps a level the
// processor lacks, so that a test asking for it would pass without running it).
//   imaging_level                prints the levels, "plain avx2"
//   imaging_level run PROGRAM... runs PROGRAM, unless PELLICOR_FAST_PATHS asks
//                                for a level above them: then says so and exits 0
#include "fast_paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    using imaging::Level;
    const Level machine = imaging::machineLevel();
    if (argc == 1) {
        for (Level l : {Level::Plain, Level::Avx2, Level::Avx512})
            if (l <= machine) std::printf("%s%s", l == Level::Plain ? "" : " ", imaging::levelName(l));
        std::printf("\n");
        return 0;
    }
    if (argc < 3 || std::strcmp(argv[1], "run") != 0) {
        std::fprintf(stderr, "usage: imaging_level [run PROGRAM [ARGUMENT...]]\n");
        return 2;
    }
    std::string unknown;
    const Level wanted = imaging::parseFastPaths(std::getenv("PELLICOR_FAST_PATHS"), {machine}, Level::Avx512, &unknown).level;
    if (!unknown.empty()) {
        std::fprintf(stderr, "imaging_level: PELLICOR_FAST_PATHS holds %s\n", unknown.c_str());
        return 2;
    }
    if (wanted > machine) {
        std::printf("imaging_level: skipped, %s does not run here (this build on this processor stops at %s)\n",
                    imaging::levelName(wanted), imaging::levelName(machine));
        return 0;
    }
    ::execvp(argv[2], argv + 2);
    std::fprintf(stderr, "imaging_level: cannot run %s: %s\n", argv[2], std::strerror(errno));
    return 127;
}

// Writes a folder tree of photo-like 24-bit bitmaps for the command-line
// benchmarks and CI:
//   make_tree DIR COUNT WIDTH HEIGHT [FOLDERS]
// spreads COUNT bitmaps of WIDTH x HEIGHT over FOLDERS subfolders (default 4),
// half of them one level deeper, each picture different.
#include "bmp_writer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_tree DIR COUNT WIDTH HEIGHT [FOLDERS]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int count = std::atoi(argv[2]);
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    const int folders = argc > 5 ? std::max(1, std::atoi(argv[5])) : 4;
    for (int i = 0; i < count; ++i) {
        const int f = i % folders;
        std::filesystem::path folder = root / ("set" + std::to_string(f));
        if (f % 2 == 1) folder /= "more";
        std::filesystem::create_directories(folder);
        char name[32];
        std::snprintf(name, sizeof name, "img%05d.bmp", i);
        const auto picture = fixture::photo(width, height, false, static_cast<unsigned>(i + 1));
        if (!fixture::writeFile((folder / name).string(), fixture::encode(fixture::Variant{}, picture))) {
            std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
            return 1;
        }
    }
    std::printf("%d bitmaps of %dx%d written under %s\n", count, width, height, root.c_str());
    return 0;
}

// Writes the files of a start-up measurement. Usage: MakeStartupFiles DIRECTORY SERVERS BOOKMARKS PORT
#include "StartupFiles.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s DIRECTORY SERVERS BOOKMARKS PORT\n", argv[0]);
        return 2;
    }
    if (!WriteStartupFiles(argv[1], std::atoi(argv[2]), std::atoi(argv[3]),
                           static_cast<unsigned>(std::atoi(argv[4])))) {
        std::perror("MakeStartupFiles");
        return 1;
    }
    return 0;
}

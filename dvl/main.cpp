// dvl: the command-line companion of the dearchiver.
#include "dvl/commands.h"

#include <cstdio>
#include <cstring>

namespace {

void PrintUsage() {
    std::fputs(
        "usage: dvl i ARCHIVE...                   identify archives\n"
        "       dvl x [-o DIR] [--spec MASK] [--flat] [--keep-broken] [--codepage CP] "
        "[--no-limit]\n"
        "             [--overwrite=always|never|rename] [--password PW]... ARCHIVE...\n"
        "                                          extract\n"
        "       dvl t [--spec MASK] [--codepage CP] [--no-limit] [--password PW]... ARCHIVE...\n"
        "                                          test without writing\n"
        "       dvl l [--spec MASK] [--blank-dirs] [--codepage CP] [--tsv|--json] ARCHIVE\n"
        "                                          list the entries\n",
        stderr);
}

} // namespace

int main(int argc, char** argv) {
    using namespace dvl::cli;
    if (argc < 2) {
        PrintUsage();
        return kExitUsage;
    }
    RememberStartFolder();
    std::vector<std::string> args(argv + 2, argv + argc);
    if (std::strcmp(argv[1], "i") == 0) return IdentifyCommand(args);
    if (std::strcmp(argv[1], "x") == 0) return ExtractCommand(args, false);
    if (std::strcmp(argv[1], "t") == 0) return ExtractCommand(args, true);
    if (std::strcmp(argv[1], "l") == 0) return ListCommand(args);
    PrintUsage();
    return kExitUsage;
}

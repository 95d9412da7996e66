// gatemoor: the e-mail security screen. Until the tray program exists it offers the
// screening from the command line.
#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/VornThread.h"
#include "shell/ScreenCommand.h"

namespace {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: gatemoor --screen FILE... [--out DIR] [--set \"Section/Name=value\" ...]\n"
        "Screens each message file as a mail program would receive it.\n"
        "  --out DIR   write each screened message to DIR under its file's name\n"
        "              (without it, a single file's message goes to standard output)\n"
        "  --set S/N=V use the whole number V for setting N of section S in this run only,\n"
        "              e.g. --set \"Security Settings/Pictures=0\"\n"
        "One line per message tells whether it was unchanged, changed or withheld, its\n"
        "danger level and the report written for it.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        PrintUsage(args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] != "--screen") {
        std::fprintf(stderr, "gatemoor: unknown command %s\n", args[0].c_str());
        PrintUsage(stderr);
        return 2;
    }
    gatemoor::TScreenCommand command;
    std::string error;
    if (!gatemoor::ParseScreenCommand({args.begin() + 1, args.end()}, command, error)) {
        std::fprintf(stderr, "gatemoor: %s\n", error.c_str());
        PrintUsage(stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    gatemoor::VornThreadModuleStart();
    // Status lines go to standard error when the message itself goes to standard output.
    std::ostream& status = command.outFolder.empty() ? std::cerr : std::cout;
    const int result = gatemoor::RunScreenCommand(command, std::cout, status, std::cerr);
    gatemoor::VornThreadModuleEnd();
    return result;
}

// fwupgrader-cli: the updater for production lines, scripts and remote use.
#include "cli/CliCommands.h"
#include "cli/Console.h"

#include "ProductVersion.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void PrintUsage(FILE* pOut) {
    std::fputs(
        "usage: fwupgrader-cli <command> [options]\n"
        "\n"
        "commands:\n"
        "  list                          list the present USB serial ports: name, device node,\n"
        "                                connector (the USB path a --slots file names)\n"
        "  identify --port NAME|COMn|NODE [--json]\n"
        "                                who answers on the port (boot loader or application,\n"
        "                                version, serial number), without flashing\n"
        "  update --port NAME|COMn|NODE --file FW.bin [--record FILE] [--retries N]\n"
        "         [--profile FILE] [--json] [--trace]\n"
        "                                flash one device\n"
        "  auto --file FW.bin [--count N] [--parallel [--slots FILE]] [--retries N]\n"
        "       [--record FILE] [--profile FILE] [--json] [--trace]\n"
        "                                flash device after device as they are plugged in\n"
        "                                (--parallel: every plugged reader at once)\n"
        "  image check [FW.bin] [--profile FILE] [--json]\n"
        "                                size, SHA-256, signature, signed version and the\n"
        "                                verdict of the station profile on an image\n"
        "  doctor [--json]               what stands between this user and a reader, with fixes\n"
        "  records list|summary|report|sync|import --db STORE ...\n"
        "                                the unit records of a store (see help records)\n"
        "  help [command]                this text, or a command's options and exit codes\n"
        "  --version                     print the program's version\n"
        "\n",
        pOut);
    std::fputs(fwup::cli::PortSourceNote(), pOut);
}

} // namespace

int main(int argc, char** argv) {
    fwup::cli::InitConsole();
    const std::vector<std::string> commandLine = fwup::cli::CommandLineArgs(argc, argv);
    if (commandLine.size() < 2) {
        PrintUsage(stderr);
        return fwup::cli::kExitUsage;
    }
    const std::string strCommand = commandLine[1];
    std::vector<std::string> args(commandLine.begin() + 2, commandLine.end());
    if (strCommand == "list") {
        return fwup::cli::RunList(args);
    }
    if (strCommand == "identify") {
        return fwup::cli::RunIdentify(args);
    }
    if (strCommand == "update") {
        return fwup::cli::RunUpdate(args);
    }
    if (strCommand == "auto") {
        return fwup::cli::RunAuto(args);
    }
    if (strCommand == "doctor") {
        return fwup::cli::RunDoctor(args);
    }
    if (strCommand == "records") {
        return fwup::cli::RunRecords(args);
    }
    if (strCommand == "image") {
        return fwup::cli::RunImage(args);
    }
    if (strCommand == "--version" || strCommand == "-V") {
        std::printf("fwupgrader-cli (%s) %s\n", fwup::kProductDescription, fwup::kProductVersion);
        return fwup::cli::kExitOk;
    }
    if (strCommand == "help" || strCommand == "--help" || strCommand == "-h") {
        if (!args.empty()) {
            std::vector<std::string> helpArgs{"--help"};
            return args[0] == "identify"  ? fwup::cli::RunIdentify(helpArgs)
                   : args[0] == "update"  ? fwup::cli::RunUpdate(helpArgs)
                   : args[0] == "auto"    ? fwup::cli::RunAuto(helpArgs)
                   : args[0] == "doctor"  ? fwup::cli::RunDoctor(helpArgs)
                   : args[0] == "records" ? fwup::cli::RunRecords(helpArgs)
                   : args[0] == "image"   ? fwup::cli::RunImage(helpArgs)
                                          : (PrintUsage(stdout), fwup::cli::kExitOk);
        }
        PrintUsage(stdout);
        return fwup::cli::kExitOk;
    }
    std::fprintf(stderr, "fwupgrader-cli: unknown command '%s'\n\n", strCommand.c_str());
    PrintUsage(stderr);
    return fwup::cli::kExitUsage;
}

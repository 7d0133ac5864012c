// vyxshm: lists the shared-memory segments in /dev/shm with their kind and the processes that
// map them, removes stale ones, and inspects, reads and releases the blocks of the camera
// module's image FIFOs (block ring buffers). Everything is found by the segments' byte
// layouts alone, checked against their sizes before anything is read.

#include "host/vyxshm/shmcommands.h"
#include "host/vyxshm/shmsegment.h"
#include "host/vyxshm/vyxshmos.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kUsageError = 2;

const char kUsage[] = "usage: vyxshm list\n"
                      "       vyxshm info NAME\n"
                      "       vyxshm read NAME N [-o FILE] [--release]\n"
                      "       vyxshm release NAME N\n"
                      "       vyxshm remove NAME [--force]\n";

const char kCommands[][8] = {"list", "info", "read", "release", "remove"};

const char kDescription[] =
    "Looks into the shared-memory segments of the camera module (/dev/shm/NAME): its image "
    "FIFOs (block ring buffers, 64- or 32-bit), the events of its preview memories and its "
    "line FIFOs. A segment outlives a crashed process; 'list' shows which segments no "
    "process maps any more and 'remove' deletes them, so that the module can create them "
    "again.";

const char kFooter[] =
    "NAME is the segment's name as in /dev/shm (a leading '/' is accepted). Blocks are "
    "numbered from 1, as the measurand lines' \"imageindex\" names them.\n"
    "Exit status: 0 success; 1 failure, with one line on standard error (nothing is changed "
    "then); 2 usage error.\n"
    "Run 'vyxshm COMMAND --help' for the options of a command.";

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "vyxshm: %s\n%sRun 'vyxshm --help' for more.\n", problem.c_str(), kUsage);
    return kUsageError;
}

// CLI11 would call an unknown word an unexpected argument; an operator typed a command.
bool IsUnknownCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-')
        return false;
    for (const char* command : kCommands)
        if (std::strcmp(argv[1], command) == 0)
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    vyxshm_os::SetBinaryStandardStreams();
    if (IsUnknownCommand(argc, argv))
        return UsageError(std::string("unknown command \"") + argv[1] + "\"");

    CLI::App app{kDescription, "vyxshm"};
    // A segment name may start with '/', which is no option here, also on Windows.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.footer(kFooter);

    std::string name, block, output;
    bool release = false, force = false;
    const CLI::Validator blockNumber(
        [](std::string& text) {
            uint64_t number = 0;
            return ShmCommand_ParseBlockNumber(text, &number)
                       ? std::string()
                       : std::string("the block number must be a positive decimal number");
        },
        "", "");
    auto addName = [&](CLI::App* command) {
        command->add_option("NAME", name, "the segment, as named in /dev/shm")->required();
    };
    auto addBlock = [&](CLI::App* command) {
        command->add_option("N", block, "the block number, from 1")->required()->check(blockNumber);
    };

    CLI::App* list = app.add_subcommand(
        "list", "One line per segment: NAME size=BYTES kind=KIND, the kind's details and "
                "processes=PID/COMMAND,... (or none). KIND is ring64 or ring32 (an image FIFO, "
                "with blocks, block_size and used), event (a preview memory's event, with "
                "signalled), linefifo (with line_length and lines waiting) or unknown.");
    CLI::App* info =
        app.add_subcommand("info", "The ring buffer's header and counts as 'key: value' lines.");
    addName(info);
    CLI::App* read = app.add_subcommand(
        "read", "Writes block N of a ring buffer to standard output or to a file. The block "
                "must hold data (be in use); it stays in use unless --release is given.");
    addName(read);
    addBlock(read);
    read->add_option("-o,--output", output,
                     "write to FILE instead of standard output; a failed read leaves no partial "
                     "file")
        ->option_text("FILE");
    read->add_flag("--release", release, "free the block once its bytes are written");
    CLI::App* releaseCommand = app.add_subcommand(
        "release", "Frees block N of a ring buffer, so that the writer can use it again.");
    addName(releaseCommand);
    addBlock(releaseCommand);
    CLI::App* remove = app.add_subcommand(
        "remove", "Removes a segment's name, so that it can be created anew. A segment that a "
                  "process still maps is refused (the processes are named) unless --force is "
                  "given.");
    addName(remove);
    remove->add_flag("--force", force,
                     "remove the name even while processes map the segment; they keep their "
                     "mapping, but nobody can open the name again");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return UsageError(error.what());
    }

    name = ShmSegment_Name(name);
    uint64_t number = 0;
    ShmCommand_ParseBlockNumber(block, &number);
    if (list->parsed())
        return ShmCommand_List();
    if (info->parsed())
        return ShmCommand_Info(name);
    if (read->parsed())
        return ShmCommand_Read(name, number, output, release);
    if (releaseCommand->parsed())
        return ShmCommand_Release(name, number);
    return ShmCommand_Remove(name, force);
}

// lintelhost: loads a machine-driver module, opens its machine and serves the line protocol
// (PROTOCOL.md beside this file) on 127.0.0.1 or on standard input and output.
//
// Exit status: 0 after SIGINT or SIGTERM (or, with --stdio, the end of the input); 1 when the
// directory is another host's, the module does not load or its machine does not open; 2 for a
// usage error.

#include "host/lintelhost/commandthread.h"
#include "host/lintelhost/errlogtap.h"
#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/hostplatform.h"
#include "host/lintelhost/hostserver.h"
#include "host/lintelhost/loadedmodule.h"
#include "host/lintelhost/machinerequests.h"
#include "platform/trace/mtrace.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct Options {
    std::string directory;
    std::string module;
    int port = 4711;
    bool stdio = false;
    int traceLevel = -1;
};

} // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("Serves a machine-driver module's machine over the line protocol "
                 "(host/lintelhost/PROTOCOL.md).",
                 "lintelhost");
    app.set_version_flag("--version", kHostVersion);
    app.add_option("--dir", options.directory,
                   "the host's directory; the machine keeps its files "
                   "below it (created when missing)")
        ->required();
    app.add_option("--module", options.module,
                   "the module to load (default: the camera module built beside lintelhost)");
    auto* port = app.add_option("--port", options.port,
                                "TCP port on 127.0.0.1 (default 4711), 0 for a free one")
                     ->check(CLI::Range(0, 65535));
    app.add_flag("--stdio", options.stdio, "serve one client on standard input and output")
        ->excludes(port);
    app.add_option("--trace-level", options.traceLevel,
                   "trace level 0 to 5 of the channel "
                   "\"default\"")
        ->check(CLI::Range(0, 5));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }
    if (options.module.empty())
        options.module = LoadedModule_DefaultPath(VYX_MODULE_NAME, VYX_MODULE_PATH);
    HostPlatform_IgnoreBrokenPipes();

    std::error_code failure;
    std::filesystem::create_directories(options.directory, failure);
    if (failure) {
        std::fprintf(stderr, "lintelhost: cannot create %s: %s\n", options.directory.c_str(),
                     failure.message().c_str());
        return 1;
    }
    std::string error;
    // Two hosts on one directory would overwrite each other's databases and FIFOs.
    if (!HostPlatform_LockDirectory(options.directory, error)) {
        std::fprintf(stderr, "lintelhost: %s\n", error.c_str());
        return 1;
    }
    // Before anything writes to the error log, the module included.
    ErrlogTap errlog;
    errlog.Start(options.directory);

    LoadedModule module;
    if (!module.Load(options.module, error)) {
        std::fprintf(stderr, "lintelhost: %s\n", error.c_str());
        return 1;
    }
    if (module.isProxy()) {
        std::fprintf(stderr, "lintelhost: %s is a proxy module, which this host does not serve\n",
                     options.module.c_str());
        return 1;
    }
    if (options.traceLevel >= 0) {
        module.setDefaultTracelevel(options.traceLevel);
        _MTrace_SetLevel("default", options.traceLevel);
    }

    HostInbox inbox;
    HostServer server(inbox);
    if (!options.stdio && !server.Listen(static_cast<uint16_t>(options.port), error)) {
        std::fprintf(stderr, "lintelhost: %s\n", error.c_str());
        return 1;
    }
    {
        CommandThread commands(module, inbox, server, errlog);
        if (!commands.Start("camera", options.directory))
            return 1;
        if (options.stdio) {
            if (!server.ServeStdio(error)) {
                std::fprintf(stderr, "lintelhost: --stdio: %s\n", error.c_str());
                inbox.Post({HostEvent::Kind::Shutdown, 0, {}});
                commands.Join();
                return 2;
            }
        } else {
            std::printf("lintelhost: listening on 127.0.0.1:%u\n", unsigned(server.Port()));
            std::fflush(stdout);
        }
        server.Run();
        commands.Join();
    }
    module.Unload();
    return 0;
}

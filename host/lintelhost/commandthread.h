#pragma once
// The one thread that calls into the machine: it creates and opens the machine, serves the
// requests the network side posts, polls the running transactions and, at the end, closes and
// deletes the machine.
//
// It polls at once when the machine's notifier wakes it, at least every 20 ms while a
// transaction runs, every millisecond while a scan's lines flow, and not at all while nothing
// runs.

#include "host/lintelhost/hostinbox.h"
#include "host/lintelhost/hostnotifier.h"

#include <future>
#include <string>
#include <thread>

class ErrlogTap;
class LoadedModule;
class ReplySink;

class CommandThread {
public:
    // `errlog` reads back the error log; the thread is its only reader.
    CommandThread(LoadedModule& module, HostInbox& inbox, ReplySink& sink, ErrlogTap& errlog);
    ~CommandThread();
    CommandThread(const CommandThread&) = delete;
    CommandThread& operator=(const CommandThread&) = delete;

    // Starts the thread, which creates the machine named `name` on `directory` and opens it.
    // Answers whether the machine opened; when it did not, the thread has already printed why
    // and ended.
    bool Start(const std::string& name, const std::string& directory);
    // Waits for the thread, which ends after a Shutdown event.
    void Join();

private:
    void Run(std::string name, std::string directory);

    LoadedModule& module;
    HostInbox& inbox;
    ReplySink& sink;
    ErrlogTap& errlog;
    HostNotifier notifier;
    std::promise<bool> opened;
    std::thread thread;
};

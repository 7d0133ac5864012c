#pragma once
// The keywords that become calls into the machine: each one checks its arguments, calls the
// factory or the queries it maps onto and tells the transaction what to poll. Argument errors
// are numbered errors in the transaction's channel (1 syntax invalid, 2 missing argument, 3
// invalid argument); a keyword the machine does not offer is error 15.
//
// Keywords that act on other transactions (abort, quit, the stops of autoinfo and previews)
// belong to the host (machinehost.h).

#include <string>
#include <vector>

class MMachAbstract;
class Transaction;

class MachineRequests {
public:
    explicit MachineRequests(MMachAbstract& machine) : machine(machine) {}

    // `words` holds the keyword's words and the arguments. False when the words name no
    // keyword of this table (nothing is written then).
    bool Start(Transaction& transaction, const std::vector<std::string>& words);

private:
    MMachAbstract& machine;
};

// The text after "data" of the version keyword's reply.
inline constexpr const char* kHostVersion = "lintelhost 1.0";

// What bounds the host's work for one client: the measurand lines one poll hands out, and the
// requests read ahead of the command thread.

#include "host/lintelhost/clientbudget.h"
#include "host/lintelhost/transaction.h"
#include "lintel/server/machine/mmachscancommands.h"
#include "tests/lintel/server/testmachine.h"

#include <gtest/gtest.h>

namespace {

// A running scan with `available` lines measured and not yet read.
class ReadyLines : public MMachScanCommand {
public:
    ReadyLines(MOutputChannel* out, size_t available)
        : MMachScanCommand(out, MMachScanRequest{}), available(available) {}
    bool IsDone() override { return false; }
    void Abort() override {}
    bool ReadNextLine(std::vector<double>& values) override {
        if (available == 0)
            return false;
        --available;
        values = {1.0, 2.0};
        return true;
    }
    size_t available;
};

TEST(Transaction, OnePollTakesAtMostMaxLines) {
    TestMachine machine;
    Transaction scan(1, 7);
    scan.BeginCommand(Transaction::Kind::Scan, new ReadyLines(&scan.Channel(), 5));
    // Five lines ready: three now with more to come, then the last two.
    for (auto [taken, more] : {std::pair{3u, true}, {2u, false}}) {
        Transaction::Lines lines;
        EXPECT_FALSE(scan.Poll(machine, 3, lines));
        EXPECT_EQ(lines.taken, taken);
        EXPECT_EQ(lines.more, more);
    }
}

TEST(ClientBudget, StopsReadingAtMaxPendingRequests) {
    std::atomic<size_t> unreadTotal{0};
    ClientBudget budget(unreadTotal);
    for (size_t i = 1; i < ClientBudget::kMaxPendingRequests; ++i)
        budget.RequestRead(1);
    EXPECT_FALSE(budget.RequestsFull());
    budget.RequestRead(1);
    EXPECT_TRUE(budget.RequestsFull());
    budget.RequestServed(1);
    EXPECT_FALSE(budget.RequestsFull());
}

} // namespace

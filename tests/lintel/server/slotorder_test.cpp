#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachabstract.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// The server calls the machine, the channel, the commands and the databases by position in
// their virtual tables. These tests pin the positions so that a reordered declaration fails
// here rather than in the server. They read the Itanium C++ ABI's member-function pointers,
// which hold 1 + the byte offset of the virtual table entry; a virtual destructor takes two
// entries.

namespace {

template <typename F> size_t Slot(F member) {
    struct Representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    } representation;
    static_assert(sizeof(F) == sizeof(Representation));
    std::memcpy(&representation, &member, sizeof representation);
    return (representation.pointer - 1) / sizeof(void*);
}

// Position in the interface's numbering, where the destructor counts once.
size_t Position(size_t slot, size_t destructor) {
    return slot > destructor ? slot - 1 : slot;
}

struct Expected {
    size_t slot;
    size_t position;
};

} // namespace

TEST(SlotOrder, MachineInterface) {
    const Expected operations[] = {
        {Slot(&MMachAbstract::EnableCommand), 0},
        {Slot(&MMachAbstract::DisableCommand), 1},
        {Slot(&MMachAbstract::Open), 3},
        {Slot(&MMachAbstract::Close), 4},
        {Slot(&MMachAbstract::WakeUpClients), 5},
        {Slot(&MMachAbstract::IsNotifierSet), 6},
        {Slot(&MMachAbstract::PollAsyncErrors), 7},
        {Slot(&MMachAbstract::IsCommandEnabled), 8},
        {Slot(&MMachAbstract::GetSensorName), 9},
        {Slot(&MMachAbstract::GetVersion), 10},
        {Slot(&MMachAbstract::GetSensorSerialNo), 11},
        {Slot(&MMachAbstract::FindComponent), 12},
        {Slot(&MMachAbstract::FirstComponent), 13},
        {Slot(&MMachAbstract::NextComponent), 14},
        {Slot(&MMachAbstract::NotProvided15), 15},
        {Slot(&MMachAbstract::NotProvided16), 16},
        {Slot(&MMachAbstract::FindAxis), 17},
        {Slot(&MMachAbstract::FirstAxis), 18},
        {Slot(&MMachAbstract::NextAxis), 19},
        {Slot(&MMachAbstract::GetAxisValue), 20},
        {Slot(&MMachAbstract::GetDefaultTimeout), 21},
        {Slot(&MMachAbstract::IsTimeOnly), 22},
        {Slot(&MMachAbstract::NotProvided23), 23},
        {Slot(&MMachAbstract::NotProvided24), 24},
        {Slot(&MMachAbstract::NotProvided25), 25},
        {Slot(&MMachAbstract::NotProvided26), 26},
        {Slot(&MMachAbstract::NotProvided27), 27},
        {Slot(&MMachAbstract::NotProvided28), 28},
        {Slot(&MMachAbstract::NotProvided29), 29},
        {Slot(&MMachAbstract::NotProvided30), 30},
        {Slot(&MMachAbstract::NotProvided31), 31},
        {Slot(&MMachAbstract::NotProvided32), 32},
        {Slot(&MMachAbstract::NotProvided33), 33},
        {Slot(&MMachAbstract::NotProvided34), 34},
        {Slot(&MMachAbstract::NotProvided35), 35},
        {Slot(&MMachAbstract::NotProvided36), 36},
        {Slot(&MMachAbstract::NotProvided37), 37},
        {Slot(&MMachAbstract::NotProvided38), 38},
        {Slot(&MMachAbstract::NotProvided39), 39},
        {Slot(&MMachAbstract::NotProvided40), 40},
        {Slot(&MMachAbstract::HasAutoinfo), 41},
        {Slot(&MMachAbstract::StartAutoinfo), 42},
        {Slot(&MMachAbstract::StopAutoinfo), 43},
        {Slot(&MMachAbstract::GetAutoinfo), 44},
        {Slot(&MMachAbstract::IsAutoinfoRunning), 45},
        {Slot(&MMachAbstract::NotProvided46), 46},
        {Slot(&MMachAbstract::NotProvided47), 47},
        {Slot(&MMachAbstract::NotProvided48), 48},
        {Slot(&MMachAbstract::NotProvided49), 49},
        {Slot(&MMachAbstract::NotProvided50), 50},
        {Slot(&MMachAbstract::HasPreview), 51},
        {Slot(&MMachAbstract::StartPreview), 52},
        {Slot(&MMachAbstract::StopPreview), 53},
        {Slot(&MMachAbstract::UpdatePreview), 54},
        {Slot(&MMachAbstract::IsPreviewRunning), 55},
        {Slot(&MMachAbstract::HasPreviewMemory), 56},
        {Slot(&MMachAbstract::StartPreviewMemory), 57},
        {Slot(&MMachAbstract::StopPreviewMemory), 58},
        {Slot(&MMachAbstract::IsPreviewMemoryRunning), 59},
        {Slot(&MMachAbstract::UpdatePreviewMemory), 60},
        {Slot(&MMachAbstract::HasProbesystemDB), 61},
        {Slot(&MMachAbstract::IsProbesystemDefined), 62},
        {Slot(&MMachAbstract::FirstProbesystemType), 63},
        {Slot(&MMachAbstract::NextProbesystemType), 64},
        {Slot(&MMachAbstract::IsProbesystemIdDefined), 65},
        {Slot(&MMachAbstract::ListProbesystems), 66},
        {Slot(&MMachAbstract::HasActiveProbesystem), 67},
        {Slot(&MMachAbstract::IsProbesystemTypeDefined), 68},
        {Slot(&MMachAbstract::GetActiveProbesystem), 69},
        {Slot(&MMachAbstract::GetActiveProbesystemId), 70},
        {Slot(&MMachAbstract::GetActiveProbesystemType), 71},
        {Slot(&MMachAbstract::HasImageFifos), 72},
        {Slot(&MMachAbstract::GetActiveImageFifo), 73},
        {Slot(&MMachAbstract::FindImageFifo), 74},
        {Slot(&MMachAbstract::FirstImageFifo), 75},
        {Slot(&MMachAbstract::NextImageFifo), 76},
        {Slot(&MMachAbstract::GetProbesystemImageInfo), 77},
        {Slot(&MMachAbstract::HasProbeDB), 78},
        {Slot(&MMachAbstract::IsProbeDefined), 79},
        {Slot(&MMachAbstract::IsTipDefined), 80},
        {Slot(&MMachAbstract::ListProbes), 81},
        {Slot(&MMachAbstract::GetMaxProbeNumber), 82},
        {Slot(&MMachAbstract::GetMaxTipNumber), 83},
        {Slot(&MMachAbstract::GetActiveProbe), 84},
        {Slot(&MMachAbstract::GetActiveTip), 85},
        {Slot(&MMachAbstract::HasMagazineDB), 86},
        {Slot(&MMachAbstract::GetSlotOfProbe), 87},
        {Slot(&MMachAbstract::FindSlot), 88},
        {Slot(&MMachAbstract::SetSlot), 89},
        {Slot(&MMachAbstract::GetLoadProgram), 90},
        {Slot(&MMachAbstract::GetUnloadProgram), 91},
        {Slot(&MMachAbstract::GetChangeProgram), 92},
        {Slot(&MMachAbstract::GetSlots), 93},
        {Slot(&MMachAbstract::NotProvided94), 94},
        {Slot(&MMachAbstract::NotProvided95), 95},
        {Slot(&MMachAbstract::NotProvided96), 96},
        {Slot(&MMachAbstract::NotProvided97), 97},
        {Slot(&MMachAbstract::NotProvided98), 98},
        {Slot(&MMachAbstract::NotProvided99), 99},
        {Slot(&MMachAbstract::NotProvided100), 100},
        {Slot(&MMachAbstract::NotProvided101), 101},
        {Slot(&MMachAbstract::NotProvided102), 102},
        {Slot(&MMachAbstract::NotProvided103), 103},
        {Slot(&MMachAbstract::NewMMachGetCommand), 104},
        {Slot(&MMachAbstract::NewMMachInitCommand), 105},
        {Slot(&MMachAbstract::NewMMachCommand106), 106},
        {Slot(&MMachAbstract::NewMMachCommand107), 107},
        {Slot(&MMachAbstract::NewMMachCommand108), 108},
        {Slot(&MMachAbstract::NewMMachCommand109), 109},
        {Slot(&MMachAbstract::NewMMachCommand110), 110},
        {Slot(&MMachAbstract::NewMMachCommand111), 111},
        {Slot(&MMachAbstract::NewMMachCommand112), 112},
        {Slot(&MMachAbstract::NewMMachCommand113), 113},
        {Slot(&MMachAbstract::NewMMachCommand114), 114},
        {Slot(&MMachAbstract::NewMMachCommand115), 115},
        {Slot(&MMachAbstract::NewMMachReceiveCommand), 116},
        {Slot(&MMachAbstract::NewMMachSendCommand), 117},
        {Slot(&MMachAbstract::NewMMachSetCommand), 118},
        {Slot(&MMachAbstract::NewMMachScanCommand), 119},
        {Slot(&MMachAbstract::NewMMachCommand120), 120},
        {Slot(&MMachAbstract::NewMMachCommand121), 121},
        {Slot(&MMachAbstract::NewMMachCommand122), 122},
        {Slot(&MMachAbstract::NewMMachProbesystemLoadCommand), 123},
        {Slot(&MMachAbstract::NewMMachProbesystemUnloadCommand), 124},
        {Slot(&MMachAbstract::NewMMachProbesystemDefineCommand), 125},
        {Slot(&MMachAbstract::NewMMachProbesystemDeleteCommand), 126},
        {Slot(&MMachAbstract::NewMMachProbeLoadCommand), 127},
        {Slot(&MMachAbstract::NewMMachProbeDeleteCommand), 128},
        {Slot(&MMachAbstract::NewMMachProbeDefineCommand), 129},
        {Slot(&MMachAbstract::NewMMachProbeUnloadCommand), 130},
        {Slot(&MMachAbstract::NewMMachProbeChangeCommand), 131},
        {Slot(&MMachAbstract::NewMMachCommand132), 132},
        {Slot(&MMachAbstract::NewMMachCommand133), 133},
        {Slot(&MMachAbstract::NewMMachCommand134), 134},
        {Slot(&MMachAbstract::NewMMachCommand135), 135},
        {Slot(&MMachAbstract::NewMMachCommand136), 136},
        {Slot(&MMachAbstract::NewMMachScandataCommand), 137},
        {Slot(&MMachAbstract::NewMMachCommand138), 138},
        {Slot(&MMachAbstract::NewMMachScanpointCommand), 139},
        {Slot(&MMachAbstract::NewMMachCommand140), 140},
        {Slot(&MMachAbstract::NewMMachCommand141), 141},
        {Slot(&MMachAbstract::NewMMachImagefifoCreateCommand), 142},
        {Slot(&MMachAbstract::NewMMachImagefifoDeleteCommand), 143},
        {Slot(&MMachAbstract::NewMMachImagefifoResetCommand), 144},
        {Slot(&MMachAbstract::NewMMachImagefifoSelectCommand), 145},
        {Slot(&MMachAbstract::NewMMachCommand146), 146},
    };
    ASSERT_EQ(sizeof operations / sizeof operations[0], 146u);
    for (const Expected& operation : operations)
        EXPECT_EQ(Position(operation.slot, 2), operation.position);
}

TEST(SlotOrder, OutputChannel) {
    using Code = void (MOutputChannel::*)(int32_t);
    using Text = void (MOutputChannel::*)(const std::string&);
    EXPECT_EQ(Position(Slot(&MOutputChannel::Append), 0), 1u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::MoveTo), 0), 2u);
    EXPECT_EQ(Position(Slot(static_cast<Code>(&MOutputChannel::Error)), 0), 3u);
    EXPECT_EQ(Position(Slot(static_cast<Text>(&MOutputChannel::Error)), 0), 4u);
    EXPECT_EQ(Position(Slot(static_cast<Code>(&MOutputChannel::Warning)), 0), 5u);
    EXPECT_EQ(Position(Slot(static_cast<Text>(&MOutputChannel::Warning)), 0), 6u);
    EXPECT_EQ(Position(Slot(static_cast<void (MOutputChannel::*)(const std::vector<double>&)>(
                           &MOutputChannel::Data)),
                       0),
              7u);
    EXPECT_EQ(Position(Slot(static_cast<Text>(&MOutputChannel::Data)), 0), 8u);
    EXPECT_EQ(Position(Slot(static_cast<Text>(&MOutputChannel::Event)), 0), 9u);
    EXPECT_EQ(Position(Slot(static_cast<Code>(&MOutputChannel::Event)), 0), 10u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::Clear), 0), 11u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::Take), 0), 12u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::IsEmpty), 0), 13u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::HasError), 0), 14u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::ResetError), 0), 15u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::SetMark), 0), 16u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::IsMarked), 0), 17u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::IsEventSet), 0), 18u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::HasEvents), 0), 19u);
    EXPECT_EQ(Position(Slot(&MOutputChannel::GetText), 0), 20u);
}

TEST(SlotOrder, CommandsNotifierAndDatabases) {
    EXPECT_EQ(Position(Slot(&MMachCommand::IsDone), 0), 1u);
    EXPECT_EQ(Position(Slot(&MMachCommand::Abort), 0), 2u);
    EXPECT_EQ(Position(Slot(&MMachCommand::GetName), 0), 3u);
    EXPECT_EQ(Position(Slot(&MMachScanCommand::ReadNextLine), 0), 4u);
    EXPECT_EQ(Position(Slot(&MMachScanpointCommand::ReadNextLine), 0), 4u);

    EXPECT_EQ(Position(Slot(&MClientNotifier::GetState), 0), 1u);
    EXPECT_EQ(Position(Slot(&MClientNotifier::WakeUp), 0), 2u);

    EXPECT_EQ(Position(Slot(&MMachProbeDB::GetMaxProbeNumber), 0), 1u);
    EXPECT_EQ(Position(Slot(&MMachProbeDB::SetActiveProbe), 0), 5u);
    EXPECT_EQ(Position(Slot(&MMachProbeDB::ListProbes), 0), 8u);
    EXPECT_EQ(Position(Slot(&MMachProbeDB::DeleteProbe), 0), 10u);
    EXPECT_EQ(Position(Slot(&MMachProbesystemDB::IsProbesystemDefined), 0), 1u);
    EXPECT_EQ(Position(Slot(&MMachProbesystemDB::SetActiveProbesystem), 0), 6u);
    EXPECT_EQ(Position(Slot(&MMachProbesystemDB::FirstProbesystemType), 0), 8u);
    EXPECT_EQ(Position(Slot(&MMachProbesystemDB::DeleteProbesystem), 0), 12u);
}

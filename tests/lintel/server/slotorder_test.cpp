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

// Every operation of the machine in its order; position 2 is the destructor.
#define M(name) Slot(&MMachAbstract::name)
// clang-format off
const size_t kMachineSlots[] = {
    /* 0 */ M(EnableCommand), M(DisableCommand), M(Open), M(Close), M(WakeUpClients),
    /* 6 */ M(IsNotifierSet), M(PollAsyncErrors), M(IsCommandEnabled), M(GetSensorName),
    /* 10 */ M(GetVersion), M(GetSensorSerialNo), M(FindComponent), M(FirstComponent),
    /* 14 */ M(NextComponent), M(NotProvided15), M(NotProvided16), M(FindAxis), M(FirstAxis),
    /* 19 */ M(NextAxis), M(GetAxisValue), M(GetDefaultTimeout), M(IsTimeOnly), M(NotProvided23),
    /* 24 */ M(NotProvided24), M(NotProvided25), M(NotProvided26), M(NotProvided27),
    /* 28 */ M(NotProvided28), M(NotProvided29), M(NotProvided30), M(NotProvided31),
    /* 32 */ M(NotProvided32), M(NotProvided33), M(NotProvided34), M(NotProvided35),
    /* 36 */ M(NotProvided36), M(NotProvided37), M(NotProvided38), M(NotProvided39),
    /* 40 */ M(NotProvided40), M(HasAutoinfo), M(StartAutoinfo), M(StopAutoinfo), M(GetAutoinfo),
    /* 45 */ M(IsAutoinfoRunning), M(NotProvided46), M(NotProvided47), M(NotProvided48),
    /* 49 */ M(NotProvided49), M(NotProvided50), M(HasPreview), M(StartPreview), M(StopPreview),
    /* 54 */ M(UpdatePreview), M(IsPreviewRunning), M(HasPreviewMemory), M(StartPreviewMemory),
    /* 58 */ M(StopPreviewMemory), M(IsPreviewMemoryRunning), M(UpdatePreviewMemory),
    /* 61 */ M(HasProbesystemDB), M(IsProbesystemDefined), M(FirstProbesystemType),
    /* 64 */ M(NextProbesystemType), M(IsProbesystemIdDefined), M(ListProbesystems),
    /* 67 */ M(HasActiveProbesystem), M(IsProbesystemTypeDefined), M(GetActiveProbesystem),
    /* 70 */ M(GetActiveProbesystemId), M(GetActiveProbesystemType), M(HasImageFifos),
    /* 73 */ M(GetActiveImageFifo), M(FindImageFifo), M(FirstImageFifo), M(NextImageFifo),
    /* 77 */ M(GetProbesystemImageInfo), M(HasProbeDB), M(IsProbeDefined), M(IsTipDefined),
    /* 81 */ M(ListProbes), M(GetMaxProbeNumber), M(GetMaxTipNumber), M(GetActiveProbe),
    /* 85 */ M(GetActiveTip), M(HasMagazineDB), M(GetSlotOfProbe), M(FindSlot), M(SetSlot),
    /* 90 */ M(GetLoadProgram), M(GetUnloadProgram), M(GetChangeProgram), M(GetSlots),
    /* 94 */ M(NotProvided94), M(NotProvided95), M(NotProvided96), M(NotProvided97),
    /* 98 */ M(NotProvided98), M(NotProvided99), M(NotProvided100), M(NotProvided101),
    /* 102 */ M(NotProvided102), M(NotProvided103), M(NewMMachGetCommand), M(NewMMachInitCommand),
    /* 106 */ M(NewMMachCommand106), M(NewMMachCommand107), M(NewMMachCommand108),
    /* 109 */ M(NewMMachCommand109), M(NewMMachCommand110), M(NewMMachCommand111),
    /* 112 */ M(NewMMachCommand112), M(NewMMachCommand113), M(NewMMachCommand114),
    /* 115 */ M(NewMMachCommand115), M(NewMMachReceiveCommand), M(NewMMachSendCommand),
    /* 118 */ M(NewMMachSetCommand), M(NewMMachScanCommand), M(NewMMachCommand120),
    /* 121 */ M(NewMMachCommand121), M(NewMMachCommand122), M(NewMMachProbesystemLoadCommand),
    /* 124 */ M(NewMMachProbesystemUnloadCommand), M(NewMMachProbesystemDefineCommand),
    /* 126 */ M(NewMMachProbesystemDeleteCommand), M(NewMMachProbeLoadCommand),
    /* 128 */ M(NewMMachProbeDeleteCommand), M(NewMMachProbeDefineCommand),
    /* 130 */ M(NewMMachProbeUnloadCommand), M(NewMMachProbeChangeCommand), M(NewMMachCommand132),
    /* 133 */ M(NewMMachCommand133), M(NewMMachCommand134), M(NewMMachCommand135),
    /* 136 */ M(NewMMachCommand136), M(NewMMachScandataCommand), M(NewMMachCommand138),
    /* 139 */ M(NewMMachScanpointCommand), M(NewMMachCommand140), M(NewMMachCommand141),
    /* 142 */ M(NewMMachImagefifoCreateCommand), M(NewMMachImagefifoDeleteCommand),
    /* 144 */ M(NewMMachImagefifoResetCommand), M(NewMMachImagefifoSelectCommand),
    /* 146 */ M(NewMMachCommand146)};
// clang-format on
#undef M

// The other interfaces have their destructor first; `slots` follow it in order.
void ExpectInOrder(const char* what, std::initializer_list<size_t> slots) {
    size_t position = 1;
    for (size_t slot : slots) {
        EXPECT_EQ(Position(slot, 0), position) << what << " entry " << position;
        ++position;
    }
}

} // namespace

TEST(SlotOrder, MachineInterface) {
    static_assert(sizeof kMachineSlots / sizeof kMachineSlots[0] == 146);
    for (size_t i = 0; i < 146; ++i)
        EXPECT_EQ(Position(kMachineSlots[i], 2), i < 2 ? i : i + 1) << "entry " << i;
}

TEST(SlotOrder, ChannelCommandsNotifierAndDatabases) {
    using C = MOutputChannel;
    using Code = void (C::*)(int32_t);
    using Text = void (C::*)(const std::string&);
    using Numbers = void (C::*)(const std::vector<double>&);
    ExpectInOrder("channel",
                  {Slot(&C::Append),        Slot(&C::MoveTo),        Slot(Code(&C::Error)),
                   Slot(Text(&C::Error)),   Slot(Code(&C::Warning)), Slot(Text(&C::Warning)),
                   Slot(Numbers(&C::Data)), Slot(Text(&C::Data)),    Slot(Text(&C::Event)),
                   Slot(Code(&C::Event)),   Slot(&C::Clear),         Slot(&C::Take),
                   Slot(&C::IsEmpty),       Slot(&C::HasError),      Slot(&C::ResetError),
                   Slot(&C::SetMark),       Slot(&C::IsMarked),      Slot(&C::IsEventSet),
                   Slot(&C::HasEvents),     Slot(&C::GetText)});
    ExpectInOrder("command", {Slot(&MMachCommand::IsDone), Slot(&MMachCommand::Abort),
                              Slot(&MMachCommand::GetName)});
    EXPECT_EQ(Position(Slot(&MMachScanCommand::ReadNextLine), 0), 4u);
    EXPECT_EQ(Position(Slot(&MMachScanpointCommand::ReadNextLine), 0), 4u);
    ExpectInOrder("notifier", {Slot(&MClientNotifier::GetState), Slot(&MClientNotifier::WakeUp)});

    using P = MMachProbeDB;
    ExpectInOrder("probes",
                  {Slot(&P::GetMaxProbeNumber), Slot(&P::GetMaxTipNumber), Slot(&P::GetActiveProbe),
                   Slot(&P::GetActiveTip), Slot(&P::SetActiveProbe), Slot(&P::IsProbeDefined),
                   Slot(&P::IsTipDefined), Slot(&P::ListProbes), Slot(&P::DefineProbe),
                   Slot(&P::DeleteProbe)});
    using S = MMachProbesystemDB;
    ExpectInOrder("probesystems",
                  {Slot(&S::IsProbesystemDefined), Slot(&S::IsProbesystemIdDefined),
                   Slot(&S::HasActiveProbesystem), Slot(&S::GetActiveProbesystem),
                   Slot(&S::GetActiveProbesystemId), Slot(&S::SetActiveProbesystem),
                   Slot(&S::IsProbesystemTypeDefined), Slot(&S::FirstProbesystemType),
                   Slot(&S::NextProbesystemType), Slot(&S::ListProbesystems),
                   Slot(&S::DefineProbesystem), Slot(&S::DeleteProbesystem)});
}

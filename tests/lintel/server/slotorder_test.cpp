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

// Every operation of the machine in its order; position 2 is the destructor. N and F are
// the placeholders and the factories not provided, by number.
#define M(name) Slot(&MMachAbstract::name)
#define N(number) M(NotProvided##number)
#define F(number) M(NewMMachCommand##number)
// clang-format off
const size_t kMachineSlots[] = {
    /* 0 */ M(EnableCommand), M(DisableCommand), M(Open), M(Close), M(WakeUpClients),
    /* 6 */ M(IsNotifierSet), M(PollAsyncErrors), M(IsCommandEnabled), M(GetSensorName),
    /* 10 */ M(GetVersion), M(GetSensorSerialNo), M(FindComponent), M(FirstComponent),
    /* 14 */ M(NextComponent), N(15), N(16), M(FindAxis), M(FirstAxis), M(NextAxis),
    /* 20 */ M(GetAxisValue), M(GetDefaultTimeout), M(IsTimeOnly), N(23), N(24), N(25), N(26),
    /* 27 */ N(27), N(28), N(29), N(30), N(31), N(32), N(33), N(34), N(35), N(36), N(37), N(38),
    /* 39 */ N(39), N(40), M(HasAutoinfo), M(StartAutoinfo), M(StopAutoinfo), M(GetAutoinfo),
    /* 45 */ M(IsAutoinfoRunning), N(46), N(47), N(48), N(49), N(50), M(HasPreview),
    /* 52 */ M(StartPreview), M(StopPreview), M(UpdatePreview), M(IsPreviewRunning),
    /* 56 */ M(HasPreviewMemory), M(StartPreviewMemory), M(StopPreviewMemory),
    /* 59 */ M(IsPreviewMemoryRunning), M(UpdatePreviewMemory), M(HasProbesystemDB),
    /* 62 */ M(IsProbesystemDefined), M(FirstProbesystemType), M(NextProbesystemType),
    /* 65 */ M(IsProbesystemIdDefined), M(ListProbesystems), M(HasActiveProbesystem),
    /* 68 */ M(IsProbesystemTypeDefined), M(GetActiveProbesystem), M(GetActiveProbesystemId),
    /* 71 */ M(GetActiveProbesystemType), M(HasImageFifos), M(GetActiveImageFifo),
    /* 74 */ M(FindImageFifo), M(FirstImageFifo), M(NextImageFifo), M(GetProbesystemImageInfo),
    /* 78 */ M(HasProbeDB), M(IsProbeDefined), M(IsTipDefined), M(ListProbes),
    /* 82 */ M(GetMaxProbeNumber), M(GetMaxTipNumber), M(GetActiveProbe), M(GetActiveTip),
    /* 86 */ M(HasMagazineDB), M(GetSlotOfProbe), M(FindSlot), M(SetSlot), M(GetLoadProgram),
    /* 91 */ M(GetUnloadProgram), M(GetChangeProgram), M(GetSlots), N(94), N(95), N(96), N(97),
    /* 98 */ N(98), N(99), N(100), N(101), N(102), N(103), M(NewMMachGetCommand),
    /* 105 */ M(NewMMachInitCommand), F(106), F(107), F(108), F(109), F(110), F(111), F(112),
    /* 113 */ F(113), F(114), F(115), M(NewMMachReceiveCommand), M(NewMMachSendCommand),
    /* 118 */ M(NewMMachSetCommand), M(NewMMachScanCommand), F(120), F(121), F(122),
    /* 123 */ M(NewMMachProbesystemLoadCommand), M(NewMMachProbesystemUnloadCommand),
    /* 125 */ M(NewMMachProbesystemDefineCommand), M(NewMMachProbesystemDeleteCommand),
    /* 127 */ M(NewMMachProbeLoadCommand), M(NewMMachProbeDeleteCommand),
    /* 129 */ M(NewMMachProbeDefineCommand), M(NewMMachProbeUnloadCommand),
    /* 131 */ M(NewMMachProbeChangeCommand), F(132), F(133), F(134), F(135), F(136),
    /* 137 */ M(NewMMachScandataCommand), F(138), M(NewMMachScanpointCommand), F(140), F(141),
    /* 142 */ M(NewMMachImagefifoCreateCommand), M(NewMMachImagefifoDeleteCommand),
    /* 144 */ M(NewMMachImagefifoResetCommand), M(NewMMachImagefifoSelectCommand), F(146)};
// clang-format on
#undef M
#undef N
#undef F

// The other interfaces have their destructor first; the members' entries follow it in order.
template <typename... F> void ExpectInOrder(const char* what, F... members) {
    size_t position = 1;
    for (size_t slot : {Slot(members)...}) {
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
    ExpectInOrder("channel", &C::Append, &C::MoveTo, Code(&C::Error), Text(&C::Error),
                  Code(&C::Warning), Text(&C::Warning), Numbers(&C::Data), Text(&C::Data),
                  Text(&C::Event), Code(&C::Event), &C::Clear, &C::Take, &C::IsEmpty, &C::HasError,
                  &C::ResetError, &C::SetMark, &C::IsMarked, &C::IsEventSet, &C::HasEvents,
                  &C::GetText);
    ExpectInOrder("command", &MMachCommand::IsDone, &MMachCommand::Abort, &MMachCommand::GetName);
    EXPECT_EQ(Position(Slot(&MMachScanCommand::ReadNextLine), 0), 4u);
    EXPECT_EQ(Position(Slot(&MMachScanpointCommand::ReadNextLine), 0), 4u);
    ExpectInOrder("notifier", &MClientNotifier::GetState, &MClientNotifier::WakeUp);

    using P = MMachProbeDB;
    ExpectInOrder("probes", &P::GetMaxProbeNumber, &P::GetMaxTipNumber, &P::GetActiveProbe,
                  &P::GetActiveTip, &P::SetActiveProbe, &P::IsProbeDefined, &P::IsTipDefined,
                  &P::ListProbes, &P::DefineProbe, &P::DeleteProbe);
    using S = MMachProbesystemDB;
    ExpectInOrder("probesystems", &S::IsProbesystemDefined, &S::IsProbesystemIdDefined,
                  &S::HasActiveProbesystem, &S::GetActiveProbesystem, &S::GetActiveProbesystemId,
                  &S::SetActiveProbesystem, &S::IsProbesystemTypeDefined, &S::FirstProbesystemType,
                  &S::NextProbesystemType, &S::ListProbesystems, &S::DefineProbesystem,
                  &S::DeleteProbesystem);
}

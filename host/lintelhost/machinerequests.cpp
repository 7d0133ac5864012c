#include "host/lintelhost/machinerequests.h"

#include "host/lintelhost/requestarguments.h"
#include "host/lintelhost/textescape.h"
#include "host/lintelhost/transaction.h"
#include "lintel/server/machine/mmachabstract.h"
#include "msl/mipc/mmemblockringbuffer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>

namespace {

constexpr int32_t kSyntaxInvalid = 1;
constexpr int32_t kMissingArgument = 2;
constexpr int32_t kInvalidArgument = 3;
constexpr int32_t kCommandUnknown = 15;
constexpr int32_t kCommandActive = 19;
constexpr int32_t kProbesystemNotLoaded = 22;

using Args = std::vector<std::string>;

struct Context {
    MMachAbstract& machine;
    Transaction& transaction;
    MOutputChannel& out;
    std::string keyword; // its words, for the reasons of errors
};

void Fail(Context& c, int32_t code, const std::string& reason) {
    c.transaction.Error(code, reason);
}

std::string Quoted(const std::string& word) {
    return "\"" + word + "\"";
}

// Checks the number of arguments; writes error 2 (too few) or 1 (too many) when it is wrong.
bool Count(Context& c, const Args& args, size_t least, size_t most) {
    if (args.size() >= least && args.size() <= most)
        return true;
    std::string expected = most == least ? std::to_string(least)
                           : most == SIZE_MAX
                               ? "at least " + std::to_string(least)
                               : std::to_string(least) + " to " + std::to_string(most);
    Fail(c, args.size() < least ? kMissingArgument : kSyntaxInvalid,
         c.keyword + " takes " + expected + " argument(s), not " + std::to_string(args.size()));
    return false;
}

bool Unsigned(Context& c, const std::string& word, uint32_t& value) {
    if (ParseUnsigned32(word, value))
        return true;
    Fail(c, kInvalidArgument, Quoted(word) + " is no unsigned 32-bit number");
    return false;
}

// Parses every argument as an axis pair into `pairs`; a name given twice is invalid.
bool Pairs(Context& c, const Args& args, bool allowRelative, std::vector<AxisPair>& pairs) {
    std::set<std::string> seen;
    for (const std::string& word : args) {
        AxisPair pair;
        if (int code = ParseAxisPair(word, allowRelative, pair)) {
            Fail(c, code,
                 Quoted(word) + (code == kInvalidArgument ? " holds no valid number"
                                 : allowRelative          ? " is no AXIS=VALUE or AXIS+=VALUE"
                                                          : " is no AXIS=VALUE"));
            return false;
        }
        if (!seen.insert(pair.axis).second) {
            Fail(c, kInvalidArgument, "axis " + Quoted(pair.axis) + " is given twice");
            return false;
        }
        pairs.push_back(std::move(pair));
    }
    return true;
}

// A preview shows camera images: with no probesystem that delivers any, its start would wait
// for an image that cannot come.
bool ImagesCanCome(Context& c) {
    if (c.machine.GetActiveProbesystemType().kind != 0)
        return true;
    Fail(c, kProbesystemNotLoaded, "no probesystem with a camera is loaded: no image can come");
    return false;
}

// A data line made of quoted texts and numbers: "data" then each item with a blank.
class DataLine {
public:
    DataLine& Text(std::string_view text) {
        Separate();
        line += QuoteText(text);
        return *this;
    }
    DataLine& Integer(uint64_t value) {
        char digits[24];
        std::snprintf(digits, sizeof digits, "%" PRIu64, value);
        Separate();
        line += digits;
        return *this;
    }
    DataLine& Number(double value) {
        MOutputChannel::AppendNumber(line, value); // brings its own blank
        return *this;
    }
    void SendTo(MOutputChannel& out) { out.Data(line); }

private:
    void Separate() {
        if (!line.empty())
            line += ' ';
    }
    std::string line;
};

// ---- axes and components ----

void Get(Context& c, const Args& args) {
    c.transaction.BeginCommand(Transaction::Kind::Get, c.machine.NewMMachGetCommand(&c.out, args));
}

void Set(Context& c, const Args& args) {
    std::vector<AxisPair> pairs;
    if (!Count(c, args, 1, SIZE_MAX) || !Pairs(c, args, false, pairs))
        return;
    std::map<std::string, double> values;
    for (const AxisPair& pair : pairs)
        values[pair.axis] = pair.value;
    c.transaction.BeginCommand(Transaction::Kind::Command,
                               c.machine.NewMMachSetCommand(&c.out, values));
}

void Init(Context& c, const Args& args) {
    std::set<std::string> axes(args.begin(), args.end());
    c.transaction.BeginCommand(Transaction::Kind::Command,
                               c.machine.NewMMachInitCommand(&c.out, axes));
}

void Send(Context& c, const Args& args) {
    if (Count(c, args, 2, 2))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachSendCommand(&c.out, args[0], args[1]));
}

void Receive(Context& c, const Args& args) {
    if (Count(c, args, 1, 1))
        c.transaction.BeginCommand(Transaction::Kind::Receive,
                                   c.machine.NewMMachReceiveCommand(&c.out, args[0]));
}

void Axes(Context& c, const Args& args) {
    if (!Count(c, args, 0, 0))
        return;
    std::vector<const MMachAxis*> axes;
    for (const MMachAxis* axis = c.machine.FirstAxis(); axis != nullptr;
         axis = c.machine.NextAxis())
        axes.push_back(axis);
    std::stable_sort(axes.begin(), axes.end(),
                     [](const MMachAxis* a, const MMachAxis* b) { return a->index < b->index; });
    for (const MMachAxis* axis : axes)
        DataLine()
            .Text(axis->name)
            .Integer(axis->flags)
            .Number(axis->minimum)
            .Number(axis->maximum)
            .Number(axis->accuracy)
            .Number(axis->step)
            .SendTo(c.out);
}

void Components(Context& c, const Args& args) {
    if (!Count(c, args, 0, 0))
        return;
    for (const MMachComponentEntry* entry = c.machine.FirstComponent(); entry != nullptr;
         entry = c.machine.NextComponent())
        DataLine()
            .Text(entry->first)
            .Text(entry->second.version)
            .Integer(entry->second.flags)
            .SendTo(c.out);
}

void Version(Context& c, const Args& args) {
    if (Count(c, args, 0, 0))
        DataLine().Text(kHostVersion).Text(c.machine.GetVersion()).SendTo(c.out);
}

// ---- measurements ----

void Scandata(Context& c, const Args& args) {
    c.transaction.BeginCommand(Transaction::Kind::Command,
                               c.machine.NewMMachScandataCommand(&c.out, args));
}

bool ScanRequest(Context& c, const Args& args, MMachScanRequest& request) {
    std::vector<AxisPair> pairs;
    if (!Count(c, args, 1, SIZE_MAX) || !Pairs(c, args, true, pairs))
        return false;
    for (const AxisPair& pair : pairs)
        request.axes[pair.axis] = MMachScanTarget{pair.value, uint8_t(pair.relative ? 1 : 0)};
    return true;
}

void Scan(Context& c, const Args& args) {
    MMachScanRequest request;
    if (ScanRequest(c, args, request))
        c.transaction.BeginCommand(Transaction::Kind::Scan,
                                   c.machine.NewMMachScanCommand(&c.out, request));
}

void Scanpoint(Context& c, const Args& args) {
    MMachScanRequest request;
    if (ScanRequest(c, args, request))
        c.transaction.BeginCommand(Transaction::Kind::Scanpoint,
                                   c.machine.NewMMachScanpointCommand(&c.out, request));
}

// ---- probes ----

bool ProbeTip(Context& c, const Args& args, size_t most, uint32_t& probe, uint32_t& tip) {
    return Count(c, args, 2, most) && Unsigned(c, args[0], probe) && Unsigned(c, args[1], tip);
}

void ProbeDefine(Context& c, const Args& args) {
    uint32_t probe = 0, tip = 0;
    if (!ProbeTip(c, args, 6, probe, tip))
        return;
    std::vector<AxisPair> pairs;
    if (!Pairs(c, Args(args.begin() + 2, args.end()), false, pairs))
        return;
    std::map<std::string, double> values;
    for (const AxisPair& pair : pairs) {
        if (pair.axis != "x" && pair.axis != "y" && pair.axis != "z" && pair.axis != "d") {
            Fail(c, kInvalidArgument, "a probe has x, y, z and d, not " + Quoted(pair.axis));
            return;
        }
        values[pair.axis] = pair.value;
    }
    c.transaction.BeginCommand(Transaction::Kind::Command,
                               c.machine.NewMMachProbeDefineCommand(&c.out, probe, tip, values));
}

void ProbeLoad(Context& c, const Args& args) {
    uint32_t probe = 0, tip = 0;
    if (ProbeTip(c, args, 2, probe, tip))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbeLoadCommand(&c.out, probe, tip));
}

void ProbeChange(Context& c, const Args& args) {
    uint32_t probe = 0, tip = 0;
    if (ProbeTip(c, args, 2, probe, tip))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbeChangeCommand(&c.out, probe, tip));
}

void ProbeDelete(Context& c, const Args& args) {
    uint32_t probe = 0, tip = 0;
    if (ProbeTip(c, args, 2, probe, tip))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbeDeleteCommand(&c.out, probe, tip));
}

void ProbeUnload(Context& c, const Args& args) {
    if (Count(c, args, 0, 0))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbeUnloadCommand(&c.out));
}

// ---- probesystems ----

void ProbesystemDefine(Context& c, const Args& args) {
    if (Count(c, args, 1, 1))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbesystemDefineCommand(&c.out, args[0]));
}

void ProbesystemLoad(Context& c, const Args& args) {
    uint32_t id = 0;
    if (Count(c, args, 2, 2) && Unsigned(c, args[1], id))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbesystemLoadCommand(&c.out, args[0], id));
}

void ProbesystemDelete(Context& c, const Args& args) {
    uint32_t id = 0;
    if (Count(c, args, 2, 2) && Unsigned(c, args[1], id))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbesystemDeleteCommand(&c.out, args[0], id));
}

void ProbesystemUnload(Context& c, const Args& args) {
    if (Count(c, args, 0, 0))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachProbesystemUnloadCommand(&c.out));
}

// Optional NAME ("*": every name) and ID (0: every id).
void ProbesystemList(Context& c, const Args& args) {
    uint32_t id = 0;
    if (!Count(c, args, 0, 2) || (args.size() == 2 && !Unsigned(c, args[1], id)))
        return;
    if (!c.machine.HasProbesystemDB()) {
        Fail(c, kCommandUnknown, "the machine has no probesystem database");
        return;
    }
    const std::string name = args.empty() ? std::string("*") : args[0];
    for (const ProbesystemRecord& r : c.machine.ListProbesystems(name, id))
        DataLine()
            .Text(r.name)
            .Integer(r.id)
            .Number(r.x)
            .Number(r.y)
            .Number(r.z)
            .Number(r.alpha)
            .Number(r.beta)
            .Number(r.gamma)
            .SendTo(c.out);
}

void ProbesystemType(Context& c, const Args& args) {
    if (!Count(c, args, 0, 0))
        return;
    const MMachProbesystemType type = c.machine.GetActiveProbesystemType();
    c.out.Data(std::vector<double>{double(type.kind), double(type.width), double(type.height),
                                   type.widthMm, type.heightMm});
}

// ---- image FIFOs ----

void ImagefifoCreate(Context& c, const Args& args) {
    uint64_t size = 0;
    if (!Count(c, args, 2, 2))
        return;
    if (!ParseUnsigned64(args[1], size)) {
        Fail(c, kInvalidArgument, Quoted(args[1]) + " is no size in bytes");
        return;
    }
    c.transaction.BeginCommand(Transaction::Kind::Command,
                               c.machine.NewMMachImagefifoCreateCommand(&c.out, args[0], size));
}

void ImagefifoDelete(Context& c, const Args& args) {
    if (Count(c, args, 1, 1))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachImagefifoDeleteCommand(&c.out, args[0]));
}

void ImagefifoReset(Context& c, const Args& args) {
    if (Count(c, args, 0, 0))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachImagefifoResetCommand(&c.out));
}

void ImagefifoSelect(Context& c, const Args& args) {
    if (Count(c, args, 1, 1))
        c.transaction.BeginCommand(Transaction::Kind::Command,
                                   c.machine.NewMMachImagefifoSelectCommand(&c.out, args[0]));
}

void ImagefifoInfo(Context& c, const Args& args) {
    if (!Count(c, args, 0, 0))
        return;
    const MMachImagefifo* active = c.machine.GetActiveImageFifo();
    for (MMachImagefifo* fifo = c.machine.FirstImageFifo(); fifo != nullptr;
         fifo = c.machine.NextImageFifo()) {
        uint64_t slots = 0, slotSize = 0;
        if (fifo->ringBuffer64 != nullptr) {
            slots = MMemBlockRingBuffer_GetNumEntries(fifo->ringBuffer64);
            slotSize = MMemBlockRingBuffer_GetBlockSize(fifo->ringBuffer64);
        } else if (fifo->ringBuffer32 != nullptr) {
            slots = MMemBlockRingBuffer32_GetNumEntries(fifo->ringBuffer32);
            slotSize = MMemBlockRingBuffer32_GetBlockSize(fifo->ringBuffer32);
        }
        DataLine()
            .Text(fifo->name)
            .Integer(slots)
            .Integer(slotSize)
            .Integer(fifo->imageInfo.width)
            .Integer(fifo->imageInfo.height)
            .Integer(fifo->imageInfo.bytesPerPixel)
            .Integer(active != nullptr && active->name == fifo->name ? 1 : 0)
            .SendTo(c.out);
    }
}

// ---- autoinfo and previews ----

void AutoinfoStart(Context& c, const Args& args) {
    uint32_t interval = 0;
    if (!Count(c, args, 2, SIZE_MAX) || !Unsigned(c, args[0], interval))
        return;
    if (!c.machine.HasAutoinfo()) {
        Fail(c, kCommandUnknown, "the machine has no autoinfo");
        return;
    }
    // The machine runs one autoinfo and expects it stopped before a start.
    if (c.machine.IsAutoinfoRunning()) {
        Fail(c, kCommandActive, "autoinfo runs already; the machine has one");
        return;
    }
    if (c.machine.StartAutoinfo(&c.out, interval, Args(args.begin() + 1, args.end())))
        c.transaction.BeginAutoinfo();
    else
        c.machine.StopAutoinfo(); // the axes a failed start took stay until a stop
}

void PreviewMemoryStart(Context& c, const Args& args) {
    uint32_t interval = 0;
    if (!Count(c, args, 3, 3) || !Unsigned(c, args[2], interval))
        return;
    if (!c.machine.HasPreviewMemory()) {
        Fail(c, kCommandUnknown, "the machine has no preview memory");
        return;
    }
    if (!ImagesCanCome(c))
        return;
    if (c.machine.StartPreviewMemory(&c.out, interval, args[1], args[0]))
        c.transaction.BeginPreviewMemory(args[0]);
}

void PreviewWindowStart(Context& c, const Args& args) {
    MMachPreviewPlacement placement;
    if (!Count(c, args, 4, 4))
        return;
    if (!ParseSigned32(args[0], placement.left) || !ParseSigned32(args[1], placement.top) ||
        !ParseSigned32(args[2], placement.width) || !ParseSigned32(args[3], placement.height) ||
        placement.width <= 0 || placement.height <= 0) {
        Fail(c, kInvalidArgument,
             "the place is LEFT TOP WIDTH HEIGHT, whole numbers, with a "
             "positive width and height");
        return;
    }
    if (!c.machine.HasPreview()) {
        Fail(c, kCommandUnknown, "the machine has no preview window");
        return;
    }
    if (!ImagesCanCome(c))
        return;
    if (c.machine.StartPreview(&c.out, placement))
        c.transaction.BeginPreviewWindow();
}

// ---- the table ----

using Handler = void (*)(Context&, const Args&);

struct Keyword {
    const char* first;
    const char* second; // null: a one-word keyword
    const char* third;  // null: a keyword of at most two words
    Handler handler;
    // The command class that the machine must enable for the keyword to answer; null for
    // the host's own keywords and those the machine offers through Has... queries.
    const char* commandClass;
};

const Keyword kKeywords[] = {
    {"get", nullptr, nullptr, Get, "MMachGetCommand"},
    {"set", nullptr, nullptr, Set, "MMachSetCommand"},
    {"init", nullptr, nullptr, Init, "MMachInitCommand"},
    {"send", nullptr, nullptr, Send, "MMachSendCommand"},
    {"receive", nullptr, nullptr, Receive, "MMachReceiveCommand"},
    {"axes", nullptr, nullptr, Axes, nullptr},
    {"components", nullptr, nullptr, Components, nullptr},
    {"version", nullptr, nullptr, Version, nullptr},
    {"scandata", nullptr, nullptr, Scandata, "MMachScandataCommand"},
    {"scan", nullptr, nullptr, Scan, "MMachScanCommand"},
    {"scanpoint", nullptr, nullptr, Scanpoint, "MMachScanpointCommand"},
    {"probe", "define", nullptr, ProbeDefine, "MMachProbeDefineCommand"},
    {"probe", "load", nullptr, ProbeLoad, "MMachProbeLoadCommand"},
    {"probe", "change", nullptr, ProbeChange, "MMachProbeChangeCommand"},
    {"probe", "delete", nullptr, ProbeDelete, "MMachProbeDeleteCommand"},
    {"probe", "unload", nullptr, ProbeUnload, "MMachProbeUnloadCommand"},
    {"probesystem", "define", nullptr, ProbesystemDefine, "MMachProbesystemDefineCommand"},
    {"probesystem", "load", nullptr, ProbesystemLoad, "MMachProbesystemLoadCommand"},
    {"probesystem", "delete", nullptr, ProbesystemDelete, "MMachProbesystemDeleteCommand"},
    {"probesystem", "unload", nullptr, ProbesystemUnload, "MMachProbesystemUnloadCommand"},
    {"probesystem", "list", nullptr, ProbesystemList, nullptr},
    {"probesystem", "type", nullptr, ProbesystemType, "MMachProbesystemTypeCommand"},
    {"imagefifo", "create", nullptr, ImagefifoCreate, "MMachImagefifoCreateCommand"},
    {"imagefifo", "delete", nullptr, ImagefifoDelete, "MMachImagefifoDeleteCommand"},
    {"imagefifo", "reset", nullptr, ImagefifoReset, "MMachImagefifoResetCommand"},
    {"imagefifo", "select", nullptr, ImagefifoSelect, "MMachImagefifoSelectCommand"},
    {"imagefifo", "info", nullptr, ImagefifoInfo, "MMachImagefifoInfoCommand"},
    {"autoinfo", "start", nullptr, AutoinfoStart, nullptr},
    {"preview", "memory", "start", PreviewMemoryStart, nullptr},
    {"preview", "window", "start", PreviewWindowStart, nullptr},
};

} // namespace

bool MachineRequests::Start(Transaction& transaction, const std::vector<std::string>& words) {
    for (const Keyword& k : kKeywords) {
        if (words[0] != k.first)
            continue;
        size_t used = 1;
        if (k.second != nullptr) {
            if (words.size() < 2 || words[1] != k.second)
                continue;
            used = 2;
        }
        if (k.third != nullptr) {
            if (words.size() < 3 || words[2] != k.third)
                continue;
            used = 3;
        }
        Context c{machine, transaction, transaction.Channel(),
                  std::string(k.first) + (k.second ? std::string(" ") + k.second : "") +
                      (k.third ? std::string(" ") + k.third : "")};
        if (k.commandClass != nullptr && !machine.IsCommandEnabled(k.commandClass)) {
            Fail(c, kCommandUnknown,
                 "the machine does not offer " + c.keyword + " (" + k.commandClass + ")");
            return true;
        }
        k.handler(c, Args(words.begin() + long(used), words.end()));
        return true;
    }
    return false;
}

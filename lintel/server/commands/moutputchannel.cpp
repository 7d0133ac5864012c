#include "lintel/server/commands/moutputchannel.h"

#include "lintel/server/commands/mprotocolmessages.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/mtrace.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kEventPrefix = "0000\t";
constexpr const char* kLineEnd = "\r\n";
constexpr int32_t kCapabilitiesChanged = 1;
constexpr int32_t kMachineChanged = 8;

// Bare texts of the numbers 0..96, including those for numbers without a text: an event
// emitted by text is matched against all of them, in ascending order.
const std::array<std::string, kMProtocolLastEvent + 1>& BareEventTexts() {
    static const std::array<std::string, kMProtocolLastEvent + 1> texts = [] {
        std::array<std::string, kMProtocolLastEvent + 1> all;
        for (int32_t number = 0; number <= kMProtocolLastEvent; ++number)
            all[number] = MProtocol_BareEventText(number);
        return all;
    }();
    return texts;
}

int32_t LookUpEvent(const std::string& text) {
    const auto& texts = BareEventTexts();
    for (int32_t number = 0; number <= kMProtocolLastEvent; ++number)
        if (texts[number] == text)
            return number;
    return -1;
}

void DropTrailingZeros(std::string& out, size_t start) {
    while (out.size() > start && out.back() == '0')
        out.pop_back();
    if (out.size() > start && out.back() == '.')
        out.pop_back();
}

} // namespace

MOutputChannel::MOutputChannel(int32_t transaction) {
    text.reserve(1000);
    char head[32];
    std::snprintf(head, sizeof head, "%.4d\t", static_cast<int>(transaction));
    prefix = head;
}

MOutputChannel::~MOutputChannel() {
    append_pending_events(text);
    if (!text.empty()) {
        MERRLOG("~MOutputChannel(): Not all entries cleared for %s!", prefix.c_str());
        MERRLOG("~MOutputChannel(): \"%s\"", text.c_str());
    }
}

void MOutputChannel::Append(const MOutputChannel& other) {
    text += other.text;
    hasError |= other.hasError;
    mark |= other.mark;
    pendingCapabilitiesChanged |= other.pendingCapabilitiesChanged;
    pendingMachineChanged |= other.pendingMachineChanged;
    events[0] |= other.events[0];
    events[1] |= other.events[1];
}

void MOutputChannel::MoveTo(MOutputChannel& target) {
    target.Append(*this);
    Clear();
}

void MOutputChannel::Error(int32_t code) {
    hasError = true;
    append_line(prefix, MProtocol_ErrorText(code));
}

void MOutputChannel::Error(const std::string& message) {
    hasError = true;
    text += prefix;
    text += "error \"";
    text += message;
    text += '"';
    text += kLineEnd;
}

void MOutputChannel::Warning(int32_t code) {
    append_line(prefix, MProtocol_WarningText(code));
}

void MOutputChannel::Warning(const std::string& message) {
    text += prefix;
    text += "warning \"";
    text += message;
    text += '"';
    text += kLineEnd;
}

void MOutputChannel::Data(const std::vector<double>& values) {
    text += prefix;
    text += "data";
    for (double value : values)
        AppendNumber(text, value);
    text += kLineEnd;
}

void MOutputChannel::Data(const std::string& data) {
    text += prefix;
    text += "data ";
    text += data;
    text += kLineEnd;
}

void MOutputChannel::Event(const std::string& message) {
    int32_t number = LookUpEvent(message);
    set_event_bit(number >= 0 ? number : kUnknownEventBit);
    if (number == kCapabilitiesChanged) {
        pendingCapabilitiesChanged = true;
    } else if (number == kMachineChanged) {
        pendingMachineChanged = true;
    } else {
        text += kEventPrefix;
        text += "event \"";
        text += message;
        text += '"';
        text += kLineEnd;
    }
}

void MOutputChannel::Event(int32_t number) {
    set_event_bit(number);
    if (number == kCapabilitiesChanged)
        pendingCapabilitiesChanged = true;
    else if (number == kMachineChanged)
        pendingMachineChanged = true;
    else
        append_line(kEventPrefix, MProtocol_EventText(number));
}

void MOutputChannel::Clear() {
    pendingCapabilitiesChanged = false;
    pendingMachineChanged = false;
    events[0] = events[1] = 0;
    text.clear();
    hasError = false;
}

bool MOutputChannel::Take(std::string& out, bool appendPending) {
    if (appendPending) {
        append_pending_events(text);
        pendingCapabilitiesChanged = false;
        pendingMachineChanged = false;
    }
    out.assign(text);
    text.clear();
    events[0] = events[1] = 0;
    return !out.empty();
}

bool MOutputChannel::IsEmpty() const {
    return text.empty();
}

bool MOutputChannel::HasError() const {
    return hasError;
}

void MOutputChannel::ResetError() {
    hasError = false;
}

void MOutputChannel::SetMark() {
    mark = true;
}

bool MOutputChannel::IsMarked() const {
    return mark;
}

bool MOutputChannel::IsEventSet(int32_t number) const {
    if (number < 0 || number > kMProtocolLastEvent)
        return false;
    return (events[number / 64] >> (number % 64)) & 1u;
}

bool MOutputChannel::HasEvents() const {
    return events[0] != 0 || events[1] != 0;
}

std::string MOutputChannel::GetText() const {
    std::string copy(text);
    append_pending_events(copy);
    return copy;
}

void MOutputChannel::AppendNumber(std::string& out, double value) {
    if (value == 0.0) {
        out += " 0";
        return;
    }
    if (value >= -2147483648.0 && value <= 2147483647.0 && std::fabs(value) >= 5e-7) {
        // Round to six decimals, then write the digits one by one: no locale, no printf.
        double rounded = value > 0 ? value + 5e-7 : value - 5e-7;
        double integral = 0.0;
        double fraction = std::modf(rounded, &integral);
        out += ' ';
        if (rounded < 0)
            out += '-';
        char digits[16];
        int count = 0;
        uint64_t magnitude = static_cast<uint64_t>(std::fabs(integral));
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (count > 0)
            out += digits[--count];
        if (fraction != 0.0) {
            size_t start = out.size();
            out += '.';
            double rest = std::fabs(fraction);
            for (int i = 0; i < 6; ++i) {
                rest *= 10.0;
                int digit = static_cast<int>(rest);
                out += static_cast<char>('0' + digit);
                rest -= digit;
            }
            DropTrailingZeros(out, start);
        }
        return;
    }
    char formatted[48];
    if (std::fabs(value) < 1e11) {
        std::snprintf(formatted, sizeof formatted, " %.6f", value);
        size_t start = out.size();
        out += formatted;
        DropTrailingZeros(out, start);
    } else {
        std::snprintf(formatted, sizeof formatted, " %.17g", value);
        out += formatted;
    }
}

void MOutputChannel::set_event_bit(int32_t number) {
    if (number < 0 || number > kMProtocolLastEvent) {
        MTRACE(4, "set_event_bit(): unknown event: %d", static_cast<int>(number));
        number = kUnknownEventBit;
    }
    events[number / 64] |= uint64_t{1} << (number % 64);
}

void MOutputChannel::append_pending_events(std::string& out) const {
    if (pendingCapabilitiesChanged) {
        out += kEventPrefix;
        out += MProtocol_EventText(kCapabilitiesChanged);
        out += kLineEnd;
    }
    if (pendingMachineChanged) {
        out += kEventPrefix;
        out += MProtocol_EventText(kMachineChanged);
        out += kLineEnd;
    }
}

void MOutputChannel::append_line(const std::string& head, const std::string& body) {
    text += head;
    text += body;
    text += kLineEnd;
}

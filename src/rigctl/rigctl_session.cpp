// SPDX-License-Identifier: GPL-3.0-or-later
#include "rigctl_session.h"

#include "core/civ_reader.h"
#include "core/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

namespace torvak {

namespace {

using Args = std::vector<std::string>;

// The radio's modes: Hamlib's name, the CI-V mode byte, and the passband of
// its wide, normal and narrow filter (CI-V filter 1, 2, 3).
struct Mode {
    std::string_view name;
    std::uint8_t civ;
    std::array<int, 3> passbands;
};
constexpr std::array<Mode, 8> kModes{{
    {"LSB", 0x00, {3000, 2400, 1800}},
    {"USB", 0x01, {3000, 2400, 1800}},
    {"AM", 0x02, {9000, 6000, 3000}},
    {"CW", 0x03, {1200, 500, 250}},
    {"RTTY", 0x04, {2400, 500, 250}},
    {"FM", 0x05, {15000, 10000, 7000}},
    {"CWR", 0x07, {1200, 500, 250}},
    {"RTTYR", 0x08, {2400, 500, 250}},
}};

// Hamlib's passbands: 0 the mode's normal filter, -1 the one set now.
constexpr int kPassbandNormal = 0, kPassbandNoChange = -1;

constexpr std::uint8_t kReadFrequency = 0x03, kReadMode = 0x04, kSetFrequency = 0x05, kSetMode = 0x06,
                       kSelectVfo = 0x07, kSplit = 0x0F;

std::optional<long long> integer(std::string_view text) { return wholeNumber(text); }

std::optional<double> number(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

const Mode* modeNamed(std::string_view name)
{
    const auto* mode = std::find_if(kModes.begin(), kModes.end(), [&](const Mode& m) { return m.name == name; });
    return mode == kModes.end() ? nullptr : mode;
}

// What a reply to an order (not a read) makes of it.
int ordered(const CivReply& reply)
{
    switch (reply.kind) {
    case CivReply::Kind::Done: return rprt::kOk;
    case CivReply::Kind::Refused: return rprt::kRejected;
    case CivReply::Kind::NotOpen: return rprt::kIo;
    case CivReply::Kind::Data: return rprt::kProtocol;
    case CivReply::Kind::Timeout:
    case CivReply::Kind::Busy: break;
    }
    return rprt::kTimeout;
}

// What Hamlib's client reads at connecting: protocol 1, this program's
// radio (no model of Hamlib's own: 0), ITU region 1; then the ranges, the
// steps and filters, and capabilities. PTT is by CAT (ptt_type 1), so that
// clients send "T"; the VFOs are A and B.
constexpr std::string_view kDumpState = "1\n0\n1\n"
                                        "30000.000000 30000000.000000 0x1bf -1 -1 0x3 0x1\n"
                                        "0 0 0 0 0 0 0\n"
                                        "1800000.000000 30000000.000000 0x1bf 5000 100000 0x3 0x1\n"
                                        "0 0 0 0 0 0 0\n"
                                        "0x1bf 10\n"
                                        "0 0\n"
                                        "0x1d 2400\n0x1d 3000\n0x1d 1800\n"
                                        "0x182 500\n0x182 1200\n0x182 250\n"
                                        "0x2 6000\n0x2 9000\n0x2 3000\n"
                                        "0x20 10000\n0x20 15000\n0x20 7000\n"
                                        "0 0\n"
                                        "0\n0\n0\n0\n"
                                        "\n\n"
                                        "0x0\n0x0\n0x0\n0x0\n0x0\n0x0\n"
                                        "vfo_ops=0x0\n"
                                        "ptt_type=0x1\n"
                                        "targetable_vfo=0x0\n"
                                        "has_set_vfo=1\nhas_get_vfo=1\nhas_set_freq=1\nhas_get_freq=1\n"
                                        "has_set_conf=0\nhas_get_conf=0\nhas_power2mW=0\nhas_mW2power=0\n"
                                        "timeout=500\n"
                                        "done\n";

} // namespace

struct RigctlSession::Command {
    char letter; // 0: only the long name
    std::string_view name;
    std::size_t args;
    // Labels of the values a read answers, for the extended answer.
    std::array<std::string_view, 2> labels;
    void (*run)(RigctlSession&, const Command&, const Args&);
};

// One line as read: the command it names, its arguments, and for the
// extended answer the separator between its parts ("+" asks for a line
// break, ";", "|" and "," for themselves; 0: the plain answer).
struct RigctlSession::Line {
    std::string name;
    Args args;
    char separator = 0;
};

// An answer owed, in the order of the lines.
struct RigctlSession::Slot {
    Line line;
    bool ptt = false;
    bool started = false;
    bool resolved = false;
    std::string text;
};

namespace {

using Session = RigctlSession;

// "POST / HTTP/1.1", or a header such as "Host: 127.0.0.1:4532".
bool isHttp(std::string_view line)
{
    const std::size_t space = line.find(' ');
    if (space != std::string_view::npos && line.find(" HTTP/", space) != std::string_view::npos
        && std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(space), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return true;
    const std::size_t colon = line.find(':');
    return colon != std::string_view::npos && colon > 0 && (colon + 1 == line.size() || line[colon + 1] == ' ')
        && std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
           });
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

RigctlSession::RigctlSession(std::uint64_t client, RigctlRadio& radio, std::function<void(std::string_view)> send)
    : client_(client)
    , radio_(radio)
    , send_(std::move(send))
{
}

std::size_t RigctlSession::room() const
{
    if (ended_ || quitting_ || !refusal_.empty() || slots_.size() >= kMostWaiting
        || (!discarding_ && buffer_.find('\n') != std::string::npos))
        return 0;
    return kLongestLine + 1 - std::min(buffer_.size(), kLongestLine + 1);
}

bool RigctlSession::idle() const
{
    return slots_.empty() && (quitting_ || !refusal_.empty() || buffer_.find('\n') == std::string::npos);
}

void RigctlSession::feed(std::string_view bytes)
{
    buffer_ += bytes;
    carryOutLines();
}

void RigctlSession::carryOutLines()
{
    if (std::exchange(inLoop_, true))
        return;
    for (bool more = true; more;) {
        readLines();
        more = advance();
    }
    inLoop_ = false;
}

void RigctlSession::readLines()
{
    while (!quitting_ && refusal_.empty() && slots_.size() < kMostWaiting) {
        const std::size_t end = buffer_.find('\n');
        if (discarding_) {
            buffer_.erase(0, end == std::string::npos ? buffer_.size() : end + 1);
            discarding_ = end == std::string::npos;
            if (discarding_)
                return;
            continue;
        }
        if (end == std::string::npos ? buffer_.size() > kLongestLine : end > kLongestLine) {
            // No line is this long: the rest of it is thrown away.
            buffer_.erase(0, end == std::string::npos ? buffer_.size() : end + 1);
            discarding_ = end == std::string::npos;
            auto slot = std::make_shared<Slot>();
            slot->started = slot->resolved = true;
            slot->text = "RPRT " + std::to_string(rprt::kInvalid) + "\n";
            slots_.push_back(std::move(slot));
            continue;
        }
        if (end == std::string::npos)
            return;
        std::string_view text(buffer_.data(), end);
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        const std::size_t start = text.find_first_not_of(" \t");
        if (start == std::string_view::npos) {
            buffer_.erase(0, end + 1);
            continue;
        }
        text.remove_prefix(start);
        auto slot = std::make_shared<Slot>();
        Line& line = slot->line;
        const bool http = isHttp(text);
        if (std::string_view("+;|,").find(text.front()) != std::string_view::npos) {
            line.separator = text.front() == '+' ? '\n' : text.front();
            text.remove_prefix(1);
        }
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t from = text.find_first_not_of(" \t", at);
            if (from == std::string_view::npos)
                break;
            at = std::min(text.find_first_of(" \t", from), text.size());
            line.args.emplace_back(text.substr(from, at - from));
        }
        if (!line.args.empty()) {
            line.name = line.args.front();
            line.args.erase(line.args.begin());
        }
        // A short command is a letter, maybe with its argument joined ("T1");
        // a long one a backslash and a name.
        const std::string& name = line.name;
        const bool rigctl = !name.empty()
            && (name.front() == '\\' ? name.size() > 1 && std::all_of(name.begin() + 1, name.end(), [](char c) {
                   return isLetter(c) || c == '_' || (c >= '0' && c <= '9');
               })
                                     : isLetter(name.front()) && (name.size() == 1 || !isLetter(name[1])));
        if (http || (!spoken_ && !rigctl)) {
            refusal_ = http ? "spoke HTTP" : "did not speak rigctl";
            buffer_.clear();
            return;
        }
        buffer_.erase(0, end + 1);
        spoken_ = true;
        slot->ptt = (name.starts_with("T") && (name.size() == 1 || !isLetter(name[1]))) || name == "\\set_ptt";
        // Nothing after a quit is carried out.
        quitting_ = name == "q" || name == "Q" || name == "\\quit";
        slots_.push_back(std::move(slot));
    }
}

bool RigctlSession::advance()
{
    // PTT lines are carried out as they are read; any other line once every
    // line before it is answered.
    bool progress = false;
    for (bool again = true; again;) {
        again = false;
        flush();
        for (std::size_t i = 0; i < slots_.size() && !ended_; ++i) {
            const std::shared_ptr<Slot> slot = slots_[i];
            if (slot->started || !(slot->ptt || i == 0))
                continue;
            slot->started = true;
            current_ = slot;
            carryOut(slot->line);
            current_.reset();
            again = progress = true;
            break;
        }
    }
    return progress;
}

void RigctlSession::carryOut(const Line& line)
{
    static const Command kCommands[] = {
        {'T', "set_ptt", 1, {},
         [](Session& s, const Command& c, const Args& a) {
             const std::optional<long long> ptt = integer(a[0]);
             // 0 releases; 1, 2 (by the microphone) and 3 (by the data jack) key.
             if (!ptt || *ptt < 0 || *ptt > 3)
                 return s.answer(c, a, rprt::kInvalid);
             s.radio_.setPtt(s.client_, *ptt != 0, [self = std::weak_ptr(s.self_), slot = s.current_, &c, a](int result) {
                 if (const auto alive = self.lock())
                     (*alive)->resolve(*slot, c, a, result);
             });
         }},
        {'t', "get_ptt", 0, {"PTT"},
         [](Session& s, const Command& c, const Args& a) {
             s.answer(c, a, rprt::kOk, {s.radio_.transmitting() ? "1" : "0"});
         }},
        {'F', "set_freq", 1, {},
         [](Session& s, const Command& c, const Args& a) {
             const std::optional<double> hertz = number(a[0]);
             const auto bcd = hertz && *hertz >= 0 && *hertz < 1e10 ? bcdFrequency(std::llround(*hertz)) : std::nullopt;
             if (!bcd)
                 return s.answer(c, a, rprt::kInvalid);
             s.ask(c, a, civQuestion(kSetFrequency, {(*bcd)[0], (*bcd)[1], (*bcd)[2], (*bcd)[3], (*bcd)[4]}), false,
                   [](const CivReply& r, Args&) { return ordered(r); });
         }},
        {'f', "get_freq", 0, {"Frequency"},
         [](Session& s, const Command& c, const Args& a) {
             s.ask(c, a, civQuestion(kReadFrequency), true, [](const CivReply& r, Args& values) {
                 const std::optional<std::uint64_t> hertz = frequencyOf(r.frame);
                 if (r.kind != CivReply::Kind::Data)
                     return r.kind == CivReply::Kind::Done ? rprt::kProtocol : ordered(r);
                 if (!hertz)
                     return rprt::kProtocol;
                 values.push_back(std::to_string(*hertz));
                 return rprt::kOk;
             });
         }},
        {'M', "set_mode", 2, {},
         [](Session& s, const Command& c, const Args& a) {
             const Mode* mode = modeNamed(a[0]);
             const std::optional<long long> passband = integer(a[1]);
             if (!mode || !passband || *passband < kPassbandNoChange)
                 return s.answer(c, a, rprt::kInvalid);
             // The filter whose passband is nearest; the radio keeps its own with no change asked.
             std::uint8_t filter = 2;
             for (std::uint8_t f = 1; f <= 3 && *passband != kPassbandNormal; ++f)
                 if (std::llabs(mode->passbands[f - 1] - *passband) < std::llabs(mode->passbands[filter - 1] - *passband))
                     filter = f;
             s.ask(c, a,
                   *passband == kPassbandNoChange ? civQuestion(kSetMode, {mode->civ})
                                                  : civQuestion(kSetMode, {mode->civ, filter}),
                   false, [](const CivReply& r, Args&) { return ordered(r); });
         }},
        {'m', "get_mode", 0, {"Mode", "Passband"},
         [](Session& s, const Command& c, const Args& a) {
             s.ask(c, a, civQuestion(kReadMode), true, [](const CivReply& r, Args& values) {
                 if (r.kind != CivReply::Kind::Data)
                     return r.kind == CivReply::Kind::Done ? rprt::kProtocol : ordered(r);
                 const auto* mode = std::find_if(kModes.begin(), kModes.end(), [&](const Mode& m) {
                     return r.frame.size() >= 7 && m.civ == r.frame[5];
                 });
                 // Radios that keep one filter a mode leave its number out.
                 const std::uint8_t filter = r.frame.size() >= 8 ? r.frame[6] : 2;
                 if (mode == kModes.end() || filter < 1 || filter > 3)
                     return rprt::kProtocol;
                 values.push_back(std::string(mode->name));
                 values.push_back(std::to_string(mode->passbands[filter - 1]));
                 return rprt::kOk;
             });
         }},
        {'V', "set_vfo", 1, {},
         [](Session& s, const Command& c, const Args& a) {
             if (a[0] == "currVFO" || a[0] == "VFO" || a[0] == s.radio_.vfo)
                 return s.answer(c, a, rprt::kOk);
             if (a[0] != "VFOA" && a[0] != "VFOB")
                 return s.answer(c, a, rprt::kInvalid);
             s.ask(c, a, civQuestion(kSelectVfo, {static_cast<std::uint8_t>(a[0] == "VFOB")}), false,
                   [&radio = s.radio_, vfo = a[0]](const CivReply& r, Args&) {
                       if (r.kind == CivReply::Kind::Done)
                           radio.vfo = vfo;
                       return ordered(r);
                   });
         }},
        {'v', "get_vfo", 0, {"VFO"},
         [](Session& s, const Command& c, const Args& a) { s.answer(c, a, rprt::kOk, {s.radio_.vfo}); }},
        {'S', "set_split_vfo", 2, {},
         [](Session& s, const Command& c, const Args& a) {
             const std::optional<long long> split = integer(a[0]);
             const bool vfoKnown = a[1] == "VFOA" || a[1] == "VFOB" || a[1] == "currVFO" || a[1] == "VFO";
             if (!split || *split < 0 || *split > 1 || !vfoKnown)
                 return s.answer(c, a, rprt::kInvalid);
             s.ask(c, a, civQuestion(kSplit, {static_cast<std::uint8_t>(*split)}), false,
                   [](const CivReply& r, Args&) { return ordered(r); });
         }},
        {'s', "get_split_vfo", 0, {"Split", "TX VFO"},
         [](Session& s, const Command& c, const Args& a) {
             s.ask(c, a, civQuestion(kSplit), true, [&radio = s.radio_](const CivReply& r, Args& values) {
                 if (r.kind != CivReply::Kind::Data)
                     return r.kind == CivReply::Kind::Done ? rprt::kProtocol : ordered(r);
                 if (r.frame.size() != 7 || r.frame[5] > 1)
                     return rprt::kProtocol;
                 // Split transmits on the VFO it does not receive on.
                 const bool split = r.frame[5] == 1;
                 values.push_back(split ? "1" : "0");
                 values.push_back(split == (radio.vfo == "VFOA") ? "VFOB" : "VFOA");
                 return rprt::kOk;
             });
         }},
        // Hamlib's client sets no mode on a radio it cannot ask this; it has no lock.
        {0, "get_lock_mode", 0, {"Locked"},
         [](Session& s, const Command& c, const Args& a) { s.answer(c, a, rprt::kOk, {"0"}); }},
        {0, "chk_vfo", 0, {"ChkVFO"},
         [](Session& s, const Command& c, const Args& a) { s.answer(c, a, rprt::kOk, {"0"}); }},
        {0, "dump_state", 0, {},
         [](Session& s, const Command&, const Args&) {
             s.current_->resolved = true;
             s.current_->text = kDumpState;
         }},
        {'q', "quit", 0, {},
         [](Session& s, const Command& c, const Args& a) {
             s.answer(c, a, rprt::kOk);
             s.ended_ = true;
         }},
    };
    // Every Hamlib command this radio has no use for is one of these shapes.
    static const Command kUnavailable{0, "", 0, {}, nullptr};

    std::string name = line.name;
    Args args = line.args;
    if (name.empty()) // "+" alone
        return answer(kUnavailable, args, rprt::kInvalid);
    // "T1" is "T 1" to rigctld.
    if (name.front() != '\\' && name.size() > 1) {
        args.insert(args.begin(), name.substr(1));
        name.resize(1);
    }
    if (name == "Q") // rigctl's other quit
        name = "q";
    const bool isLong = name.front() == '\\';
    const auto* command = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) {
        return isLong ? c.name == std::string_view(name).substr(1) : c.letter == name.front();
    });
    if (command == std::end(kCommands)) {
        // Any other command Hamlib has is one this radio does not carry out.
        const bool hamlibs = isLong || (name.front() >= 'A' && name.front() <= 'Z') || (name.front() >= 'a' && name.front() <= 'z');
        return answer(kUnavailable, args, hamlibs ? rprt::kUnavailable : rprt::kInvalid);
    }
    if (args.size() != command->args)
        return answer(*command, args, rprt::kInvalid);
    command->run(*this, *command, args);
}

void RigctlSession::ask(const Command& command, const Args& args, std::vector<std::uint8_t> frame, bool wantsData,
                        std::function<int(const CivReply&, Args&)> read)
{
    radio_.ask(std::move(frame), wantsData,
               [self = std::weak_ptr(self_), slot = current_, &command, args, read = std::move(read)](const CivReply& reply) {
                   const auto alive = self.lock();
                   if (!alive)
                       return;
                   Args values;
                   const int result = read(reply, values);
                   (*alive)->resolve(*slot, command, args, result, values);
               });
}

void RigctlSession::answer(const Command& command, const Args& args, int result, const Args& values)
{
    resolve(*current_, command, args, result, values);
}

void RigctlSession::resolve(Slot& slot, const Command& command, const Args& args, int result, const Args& values)
{
    std::string text;
    if (const char separator = slot.line.separator) {
        // As rigctld answers: the command and its arguments, each value with
        // its label, then the result, parted by the separator asked for.
        std::string_view name = command.name.empty() ? std::string_view(slot.line.name) : command.name;
        if (name.starts_with('\\'))
            name.remove_prefix(1);
        text = std::string(name) + ":";
        for (const std::string& arg : args)
            text += " " + arg;
        text += separator;
        for (std::size_t i = 0; result == rprt::kOk && i < values.size(); ++i)
            text += std::string(command.labels[std::min<std::size_t>(i, 1)]) + ": " + values[i] + separator;
        text += "RPRT " + std::to_string(result) + "\n";
    } else if (result != rprt::kOk || values.empty()) {
        text = "RPRT " + std::to_string(result) + "\n";
    } else {
        for (const std::string& value : values)
            text += value + "\n";
    }
    slot.text = std::move(text);
    slot.resolved = true;
    // An answer that came later lets the lines behind it go on.
    carryOutLines();
}

void RigctlSession::flush()
{
    while (!slots_.empty() && slots_.front()->resolved) {
        const std::string text = std::move(slots_.front()->text);
        slots_.pop_front();
        send_(text);
    }
}

} // namespace torvak

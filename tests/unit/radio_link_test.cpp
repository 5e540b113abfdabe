// SPDX-License-Identifier: GPL-3.0-or-later
// The port owner's rule over a fake line, device watch and store: named rows,
// then generated interleavings of the same events.
#include "core/command_queue.h"
#include "core/host_command.h"
#include "port/device_map.h"
#include "port/reconfigure.h"
#include "rigctl/rigctl_clients.h"
#include "support/fakes.h"
#include "support/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

using namespace torvak;
using namespace torvak::test;

namespace {

// One radio on COM1 and COM3 (one line, the radio moved between them), COM2
// mapped to nothing, COM4 the built-in port that is never there.
struct Rig : PttOutput {
    FakeDevice device;
    FakeWatch watch;
    MemoryStore store;
    TestView view;
    RecordingBox box;
    RadioLink link{device, watch, store, view};
    PttController ptt{*this, view, [this] { closeWindow(); }};
    PortPanel panel{link, store, box};
    // Every source in one order: hosts whose records may still wait in the
    // kernel, rigctl clients, the lamp.
    std::map<int, std::vector<std::uint8_t>> kernel;
    std::vector<int> readable; // in the order the hosts' bytes came, as epoll hands them over
    CommandQueue order{[this] { readHosts(); }, [this](const HostCommand& c) {
                           clients.otherCommand();
                           ptt.ptt(c.command, c.state);
                       }};
    std::vector<std::function<void()>> deadlines; // rigctl reads waiting for theirs
    RigctlClients clients{[this](RigctlClients::Action a) { order.submit(std::move(a)); }, *this, link,
                          [this](int, RigctlClients::Action a) { deadlines.push_back(std::move(a)); },
                          [this](const std::string& l) { view.tell(l); }};
    // The last PTT command handed over by any source (none after a click),
    // and whether a client left without "q" while its transmit was that.
    std::optional<PttState> handedLast;
    int handedBy = 0;
    std::map<int, int> generation; // a client that left comes back as another
    std::set<int> gone;
    bool releaseDue = false, releaseAllowed = false, lastSent = false;
    bool started = false, closing = false;
    int sequences = 0, newestReceiveOnWire = -1;
    std::size_t logAtClose = 0, wireChecked = 0;
    std::optional<PttState> lastIssued;
    std::string broken; // the first rule seen broken, and after which step
    std::vector<RadioLink::Ticket> asked;
    std::string replies; // "03=14074000 05:done ..."

    Rig()
    {
        store.values = {{"Devices/COM1", "/dev/radio1"}, {"Devices/COM2", ""}, {"Devices/COM3", "/dev/radio3"}};
        device.missing.insert("/dev/ttyS3");
    }
    void sendPtt(PttState state) override
    {
        lastIssued = state;
        link.sendPtt(state);
        lastSent = link.ptt() == state && !link.receiveWaiting();
    }
    void readHosts()
    {
        for (const int host : std::exchange(readable, {}))
            order.feed(static_cast<std::uint64_t>(host), std::exchange(kernel[host], {}));
    }
    void hand(std::optional<PttState> state, int by)
    {
        handedLast = state;
        handedBy = by;
        releaseDue = false;
    }
    // A rigctl client sends a line; it connects with its first.
    void rigctl(int id, const std::string& line)
    {
        RigctlSession* session = clients.session(static_cast<std::uint64_t>(id));
        if (!session)
            session = &clients.connected(static_cast<std::uint64_t>(id), [this, id](std::string_view said) {
                view.lines.push_back("r" + std::to_string(id) + "< " + std::string(said.substr(0, said.size() - 1)));
            });
        session->feed(line + "\n");
    }
    // Everything handed over is read and carried out, and every deadline passes.
    void settle()
    {
        for (int round = 0; round < 8; ++round) {
            for (const int id : gone) // as the server does when a gone client's answer comes
                clients.left(static_cast<std::uint64_t>(id));
            readHosts();
            while (order.carryOutNext()) {
            }
            for (auto& deadline : std::exchange(deadlines, {}))
                deadline();
            link.alarm(RadioLinkView::Alarm::Answer);
        }
        const bool released = told("connection was lost while its transmit");
        if (released && !releaseAllowed)
            fail("a client's leaving released a radio that a later command keyed", "settle");
        if (releaseDue && lastIssued == PttState::Transmit && lastSent)
            fail("a client left without q while its transmit keyed the radio, and it stays keyed", "settle");
        else if (!releaseDue && handedLast && lastIssued != handedLast)
            fail("the last command carried out is not the last one handed over", "settle");
    }
    void closeWindow()
    {
        if (std::exchange(closing, true))
            return;
        logAtClose = device.log.size();
        link.shutDown();
        // Unless a receive still waits (and stderr says so), stderr says
        // "left keyed" exactly when the radio ends on a transmit.
        if (!link.receiveWaiting() && !device.lostUnheard && told("left keyed") != (onWire(true) == PttState::Transmit))
            fail("stderr and the radio disagree on a keyed radio at exit", "close");
    }
    // The frames in these bytes, each with the tag of its first byte.
    static std::vector<std::pair<std::string, int>> framesIn(const std::vector<FakeDevice::Byte>& bytes)
    {
        std::vector<std::uint8_t> values;
        for (const FakeDevice::Byte& b : bytes)
            values.push_back(b.value);
        std::vector<std::pair<std::string, int>> frames;
        for (const auto& [name, at] : framesOn(values))
            frames.emplace_back(name, bytes[at].tag);
        return frames;
    }
    // The last PTT frame on the wire; with andKernel, the last the radio gets
    // once it reads what the kernel holds.
    std::optional<PttState> onWire(bool andKernel = false) const
    {
        auto frames = framesIn(andKernel && device.hidden ? device.pending : device.wire);
        std::erase_if(frames, [](const auto& f) { return f.first[0] == 'q'; });
        if (frames.empty())
            return std::nullopt;
        return frames.back().first == "T" ? PttState::Transmit : PttState::Receive;
    }

    // One event: "tx", "rx", "c,s" (any host pair), "ask:03" or "ask:05" (a
    // rigctl client reads or sets the frequency), "cancel:N" (the Nth
    // question's client gave up), "qlate" (its deadline), "click", "blue" (the
    // lamp), "stall", "deaf" (the radio stops reading), "drain", "unplug" (the
    // open port's device; "unplug:3" COM3's), "plug" (every radio back),
    // "short" and "freed" (file descriptors), "close" (the window), "late"
    // (an answer's deadline passes), "limit" (TransmitLimit's time is up),
    // "answers:done|refused|none|noise" and "echo:on|off" (the radio and the bus),
    // "choose:N", "edit:TEXT", "leave", where "{a,b}" happens while the
    // sequence's message box is up; "readonly" (the settings file); before
    // start-up, "com1=TEXT" maps COM1, "limit=TEXT" and "settings=TEXT" store
    // [Safety] TransmitLimit and [Com] Settings.
    void step(const std::string& text)
    {
        const std::size_t brace = std::min(text.find('{'), text.size()), colon = std::min(text.find(':'), brace);
        const std::string name = text.substr(0, colon), arg = text.substr(std::min(colon + 1, brace), brace - std::min(colon + 1, brace));
        if (const auto eq = name.find('='); eq != std::string::npos && !started) {
            const std::map<std::string, std::string> keys{{"com1", "Devices/COM1"}, {"limit", "Safety/TransmitLimit"}, {"settings", "Com/Settings"}};
            return void(store.values[keys.at(name.substr(0, eq))] = name.substr(eq + 1));
        }
        if (!std::exchange(started, true))
            link.start();
        device.tag++;
        const auto sequence = [&](const std::function<ResumeNext()>& run) {
            box.whileUp = [this, inner = text.substr(std::min(brace + 1, text.size()))] {
                std::istringstream in(inner.substr(0, inner.size() - 1));
                for (std::string s; std::getline(in, s, ',');) {
                    const bool open = link.isOpen();
                    step(s);
                    if (!open && link.isOpen())
                        fail("the port opened behind a sequence's back", s);
                }
            };
            ++sequences;
            link.reconfigure(name, run);
            --sequences;
            box.whileUp = nullptr;
        };
        using Alarm = RadioLinkView::Alarm;
        const std::map<std::string, std::function<void()>> actions{

            {"lamp", [&] { // a click on the lamp, in the one order
                 hand(std::nullopt, 0);
                 order.submit([this] { clients.otherCommand(), ptt.lampClick(); });
             }},
            {"read", [&] { // the hosts' bytes, and all that waits is carried out
                 readHosts();
                 while (order.carryOutNext()) {
                 }
             }},
            {"turn", [&] { order.carryOutNext(); }},
            {"settle", [&] { settle(); }},
            {"blue", [&] { view.colour = Rgb{0, 0, 255}; }},
            {"stall", [&] { device.stalled = true; }},
            {"shared", [&] { device.shared("99 (probe)"); }}, // another process reads the device too
            {"deaf", [&] { device.deaf = true; }},
            {"drain", [&] { device.drain(); }},
            {"late", [&] { link.alarm(Alarm::Answer); }},
            {"limit", [&] { link.alarm(Alarm::TransmitLimit); }},
            {"qlate", [&] { link.alarm(Alarm::Question); }},
            {"ask", [&] { // "ask:03" reads the frequency, "ask:05" sets it
                 asked.push_back(link.ask(arg == "05" ? civQuestion(0x05, {0x00, 0x40, 0x07, 0x14, 0x00}) : civQuestion(0x03), arg == "03",
                                          [this, arg](const CivReply& r) { replies += (replies.empty() ? "" : " ") + arg + reply(r); }));
             }},
            {"cancel", [&] { link.cancel(asked.at(std::stoul(arg))); }},
            {"answers", [&] {
                 using enum FakeDevice::Answers;
                 device.answers = arg == "done" ? Done : arg == "refused" ? Refused : arg == "none" ? None : Noise;
             }},
            {"echo", [&] { device.echoes = arg == "on"; }},
            {"unplug", [&] { device.unplug(arg.empty() ? deviceFor(store, link.portNumber()).value : "/dev/radio" + arg); }},
            {"plug", [&] { watch.plugged(device, "/dev/radio1"), watch.plugged(device, "/dev/radio3"); }},
            {"short", [&] { device.descriptorsShort = true, link.descriptorsFreed(); }},
            {"freed", [&] { device.descriptorsShort = false, link.descriptorsFreed(); }},
            {"readonly", [&] { store.writable = false; }},
            {"close", [&] { closeWindow(); }},
            {"choose", [&] { sequence([&] { return choosePort(panel, std::stoi(arg)); }); }},
            {"edit", [&] { sequence([&] { return editSettings(panel, arg); }); }},
            {"leave", [&] { sequence([&] { return leaveSettingsBox(panel); }); }},
        };
        std::int32_t command = 0, state = 0;
        int id = 0;
        const auto handRecord = [&](int host, HostCommand record) { // a host hands a record to the kernel
            const Record bytes = encodeRecord(record);
            if (kernel[host].empty())
                readable.push_back(host);
            kernel[host].insert(kernel[host].end(), bytes.begin(), bytes.end());
            if (record.command == kCommandPtt && (record.state == kStateTransmit || record.state == kStateReceive))
                hand(record.state == kStateTransmit ? PttState::Transmit : PttState::Receive, 0);
        };
        // "tx", "rx", "c,s" and "click" are carried out at once, with what waits before them.
        const bool now = name == "tx" || name == "rx" || name == "click" || std::sscanf(name.c_str(), "%d,%d", &command, &state) == 2;
        if (now && name != "click")
            handRecord(0, name == "tx" ? HostCommand{kCommandPtt, kStateTransmit} : name == "rx" ? HostCommand{} : HostCommand{command, state});
        if (now)
            actions.at(name == "click" ? "lamp" : "read")(), actions.at("read")();
        else if (const auto action = actions.find(name); action != actions.end())
            action->second();
        else if (std::sscanf(name.c_str(), "h%d", &id) == 1)
            handRecord(id, {kCommandPtt, arg == "tx" ? kStateTransmit : kStateReceive});
        else if (std::sscanf(name.c_str(), "r%d", &id) == 1) { // a rigctl client: T0, T1, f, q, or gone
            const int client = id + 10 * generation[id];
            if (arg == "T0" || arg == "T1")
                hand(arg == "T1" ? PttState::Transmit : PttState::Receive, client);
            if (arg != "bye")
                rigctl(client, arg);
            // A client ends with "q" (its claim stays) or its connection is lost.
            if (arg == "bye" || arg == "q") {
                releaseDue = releaseDue || (arg == "bye" && handedBy == client && handedLast == PttState::Transmit);
                releaseAllowed = releaseAllowed || releaseDue;
                gone.insert(client);
                clients.left(static_cast<std::uint64_t>(client));
                ++generation[id];
            }
        } else
            ADD_FAILURE() << "no such step: " << text;
        check(text);
    }

    void fail(const std::string& rule, const std::string& after)
    {
        if (broken.empty())
            broken = rule + " (after " + after + ")";
    }
    // The rules, after every event.
    void check(const std::string& after)
    {
        for (std::size_t i = logAtClose; closing && i < device.log.size(); ++i)
            if (device.log[i].starts_with("open"))
                fail("the device was opened after closing began", after);
        const auto frames = framesIn(device.wire);
        for (; wireChecked < frames.size(); ++wireChecked) {
            const auto& [frame, issued] = frames[wireChecked];
            if (frame == "R")
                newestReceiveOnWire = std::max(newestReceiveOnWire, issued);
            else if (frame == "T" && issued < newestReceiveOnWire)
                fail("a transmit reached the radio after a receive issued later", after);
        }
        if (link.receiveWaiting() && view.fault.empty())
            fail("a receive waits and the lamp does not say why", after);
        if (closing || sequences > 0)
            return;
        const Checked<std::string> mapped = deviceFor(store, link.portNumber());
        if (!link.isOpen() && mapped.status && !device.missing.count(mapped.value) && !device.descriptorsShort)
            fail("the port stayed closed with its device there", after);
        if (!link.isOpen() || device.stalled || device.deaf || device.lostUnheard)
            return;
        if (link.receiveWaiting())
            fail("a receive waits while the line takes bytes", after);
        if (view.colour != (onWire() == PttState::Transmit ? kTransmitRed : kReceiveGreen) && view.colour != Rgb{0, 0, 255})
            fail("the lamp does not show the last frame on the wire", after);
        if (lastIssued == PttState::Receive && onWire() != PttState::Receive)
            fail("the last command was a receive and the radio did not get it", after);
    }

    std::string frames() const // "T R q03 ..."
    {
        std::string out;
        for (const auto& [frame, tag] : framesIn(device.wire))
            out += (out.empty() ? "" : " ") + frame;
        return out;
    }
    static std::string reply(const CivReply& r)
    {
        if (r.kind == CivReply::Kind::Data)
            return "=" + std::to_string(frequencyOf(r.frame).value_or(0));
        const char* kinds[] = {"", ":done", ":refused", ":timeout", ":notopen", ":busy"};
        return kinds[static_cast<int>(r.kind)];
    }
    bool told(const char* what) const
    {
        return std::any_of(view.lines.begin(), view.lines.end(), [&](const std::string& l) { return l.find(what) != std::string::npos; });
    }
    void run(const std::string& steps)
    {
        std::istringstream in(steps);
        for (std::string s; in >> s;)
            step(s);
    }
};

} // namespace

// Each row: what happens, what the radio got, the lamp, whether a receive
// still waits, and what the ring or stderr says. From "com1=" on, the rows
// are faults once seen from outside.
TEST(RadioLink, TheNamedRows)
{
    const Rgb G = kReceiveGreen, R = kTransmitRed;
    const std::tuple<const char*, const char*, Rgb, bool, const char*> rows[] = {
        {"tx tx rx rx", "T T R R", G, false, ""},
        {"0,2 0,-1 0,2147483647 2,1 -2147483648,1", "", G, false, ""},
        {"tx 0,2 -1,0", "T", R, false, ""},
        {"tx 1,0 1,-7 rx", "T", R, false, "left keyed"},
        {"blue click click", "T R", G, false, ""},
        {"click click click", "T R T", R, false, ""},
        {"unplug rx", "", G, true, "went away"},
        {"unplug tx plug", "", G, false, "transmit was dropped"},
        {"tx unplug click", "T", R, true, "not open"},
        {"tx unplug rx rx plug", "T R", G, false, "open again"},
        {"stall tx tx drain", "T", R, false, "not taking bytes"},
        {"stall tx rx tx tx drain", "R", G, false, "the transmit was dropped"},
        {"stall rx tx rx rx tx close", "", G, false, "not taking bytes"}, // the stall outlasts closing's budget
        {"tx stall tx unplug rx plug", "T R", G, false, ""},
        // An empty or relative mapping neither hangs nor opens anything.
        {"com1= rx tx", "", G, false, "no device is mapped to COM1"},
        {"com1=ttyUSB0 tx", "", G, false, "such as /dev/ttyUSB0"},
        {"tx choose:1 rx", "T", R, true, "no device is mapped to COM2"},
        {"tx choose:1 rx choose:0", "T R", G, false, ""},
        // A device back while a box is up opens once the box is gone.
        {"tx unplug:3 choose:2{plug} rx", "T R", G, false, ""},
        {"tx edit:48x leave{unplug:1,plug,rx}", "T R", G, false, "\"48x\" were refused"},
        {"tx unplug edit:48x leave{plug} rx", "T R", G, false, "\"48x\" were refused"},
        // A receive lost with the device, from the line's queue or from the
        // kernel's buffer behind a radio that stopped reading, waits.
        {"tx stall rx unplug", "T", R, true, "receive may not have reached the radio"},
        {"tx stall rx unplug plug", "T R", G, false, ""},
        {"tx deaf rx unplug plug", "T R", G, false, ""},
        {"tx deaf tx tx rx unplug plug", "T R", G, false, ""},
        {"tx deaf tx tx rx drain", "T R", G, false, ""},
        // Out of descriptors when the device comes back: it opens once some are free.
        {"tx short unplug rx plug", "T", R, true, "out of file descriptors"},
        {"tx short unplug rx plug freed", "T R", G, false, ""},
        // Closing while a box is up: the sequence never opens the port again.
        {"tx edit:48x leave{close} rx", "T", R, false, "left keyed"},
        {"tx unplug rx edit:48x leave{close}", "T", R, true, "receive still waiting"},
        // [Safety] TransmitLimit releases a transmit held too long, once per
        // keyed period; absent, wrong or 0, nothing is released.
        {"limit=2 tx tx limit", "T T R", G, false, "released after 2 s of transmitting"},
        {"limit=2 tx rx limit", "T R", G, false, ""},
        {"limit=2 unplug tx plug limit", "", G, false, "the transmit was dropped"},
        {"limit=2 tx unplug limit plug", "T R", G, false, "released after 2 s"},
        {"limit=0 tx limit", "T", R, false, ""},
        {"limit=3601 tx limit", "T R", G, false, "TransmitLimit=3601 is not a whole number of seconds from 1 to 3600"},
        {"limit=1.5 tx limit", "T R", G, false, "released after 3600 s"},
        // Every source in one order: what a host handed to the kernel goes
        // before a rigctl line sent after it; a client's claim follows its
        // last word; its T hears what the radio said.
        {"h1:tx r1:T0 settle", "T R", G, false, "r1< RPRT 0"},
        {"h1:rx r1:T1 r1:bye settle", "R T R", G, false, "connection was lost"},
        {"r1:T1 r1:T0 h1:tx r1:bye settle", "T R T", R, false, ""},
        {"r1:T1 r1:q r1:bye settle", "T", R, false, "r1< RPRT 0"},
        {"r1:T1 h1:rx r1:bye settle", "T R", G, false, ""},
        {"answers:refused r1:T1 settle", "T", R, false, "r1< RPRT -9"},
        {"answers:none r1:T1 settle", "T", R, false, "r1< RPRT -5"},
        {"answers:none echo:off r1:T1 settle", "T", R, false, "r1< RPRT 0"},
        {"unplug r1:T1 settle", "", G, false, "r1< RPRT -6"},
        // Another reader of the device is said, and the port stays open.
        {"tx shared rx", "T R", G, false, "Another program reads the radio's device too (held open by 99 (probe))"},
    };
    for (const auto& [steps, wire, lamp, waiting, says] : rows) {
        Rig rig;
        rig.run(steps);
        EXPECT_EQ(rig.broken, "") << steps;
        EXPECT_EQ(rig.frames(), wire) << steps;
        EXPECT_EQ(rig.view.colour, lamp) << steps;
        EXPECT_EQ(rig.link.receiveWaiting(), waiting) << steps;
        // What stderr or the ring says; a row that names nothing leaves the ring clear.
        EXPECT_TRUE(*says ? rig.told(says) || rig.view.fault.find(says) != std::string::npos : rig.view.fault.empty())
            << steps << ": the ring says " << rig.view.fault;
    }
}

// Each port sequence from an open COM1: what the line saw, what was stored
// and shown, and how the port ends.
TEST(RadioLink, TheSequences)
{
    using Strings = std::vector<std::string>;
    const std::tuple<const char*, const char*, Strings, Strings, bool, const char*> rows[] = {
        // steps, the line after start-up, writes, boxes, open after, settings after
        {"choose:2", "close, open /dev/radio3", {"Com/ComPort=3"}, {}, true, "9600,n,8,1"},
        {"unplug:3 choose:2", "close, open /dev/radio3, open /dev/radio3", {"Com/ComPort=3"}, {"Com port error"}, false, "9600,n,8,1"},
        {"choose:1", "close", {"Com/ComPort=2"}, {"Com port error"}, false, "9600,n,8,1"},
        {"choose:-1", "close, open /dev/radio1", {"Com/ComPort=1"}, {"Com port error"}, true, "9600,n,8,1"},
        {"readonly choose:0", "close, open /dev/radio1", {}, {"Com port error"}, true, "9600,n,8,1"},
        {"edit:4800,e,7,2", "close, open /dev/radio1", {"Com/Settings=4800,e,7,2"}, {}, true, "4800,e,7,2"},
        {"edit:48x", "close, open /dev/radio1", {"Com/Settings=48x"}, {}, true, "9600,n,8,1"},
        {"settings=48x leave", "close, open /dev/radio1", {}, {"Invalid comport settings"}, true, "9600,n,8,1"},
        {"unplug:1 leave", "lost, open /dev/radio1, open /dev/radio1, open /dev/radio1", {}, {}, false, "9600,n,8,1"},
    };
    for (const auto& [steps, line, writes, shown, open, settings] : rows) {
        Rig rig;
        rig.run(steps);
        std::string log;
        for (std::size_t i = 1; i < rig.device.log.size(); ++i)
            log += (log.empty() ? "" : ", ") + rig.device.log[i];
        EXPECT_EQ(rig.device.log.at(0), "open /dev/radio1") << steps;
        EXPECT_EQ(log, line) << steps;
        EXPECT_EQ(rig.store.writes, writes) << steps;
        EXPECT_EQ(rig.box.shown, shown) << steps;
        EXPECT_EQ(rig.link.isOpen(), open) << steps;
        EXPECT_EQ(rig.link.settings(), settings) << steps;
    }
}

// 3000 generated interleavings of the same events, each ended by putting
// everything back, with the rules checked after every event. A failure
// prints its steps as a row.
TEST(RadioLink, TheRuleHoldsOverGeneratedInterleavings)
{
    const char* anytime[] = {"tx", "rx", "tx", "rx", "click", "stall", "deaf", "drain", "unplug", "plug", "short", "freed",
                             "ask:03", "ask:05", "qlate", "late", "h1:tx", "h1:rx", "h1:tx", "h1:rx", "read", "turn", "turn",
                             "r1:T1", "r1:T0", "r2:T1", "r2:T0", "r1:f", "r1:q", "r1:bye", "r2:bye", "lamp"};
    const char* sequences[] = {"choose:0", "choose:1", "choose:2", "choose:3", "edit:9600,n,8,1", "edit:4800,e,7,2", "edit:48x", "leave"};
    std::mt19937 random(20261207);
    const auto pick = [&](const auto& from) { return std::string(from[random() % std::size(from)]); };
    for (int run = 0, failures = 0; run < 3000 && failures < 3; ++run) {
        std::string steps;
        for (int n = 1 + random() % 24; n > 0; --n) {
            const bool sequence = random() % 5 == 0;
            steps += ' ' + (sequence ? pick(sequences) : pick(anytime));
            std::string whileUp; // while its box is up, if it shows one
            for (int k = sequence ? random() % 4 : 0; k > 0; --k)
                whileUp += (whileUp.empty() ? "" : ",") + (random() % 12 ? pick(anytime) : std::string("close"));
            steps += whileUp.empty() ? "" : '{' + whileUp + '}';
        }
        steps += std::string(random() % 8 ? "" : " close") + " plug freed drain settle";
        Rig rig;
        rig.run(steps);
        if (!rig.broken.empty())
            ADD_FAILURE() << rig.broken << "\n  steps:" << steps << (++failures, "");
    }
}

// What the radio made of each PTT frame, and what the port made of typed
// settings, on the lamp's ring and stderr: one line when the outcome changes,
// never one per frame or keystroke, and never a wait.
TEST(RadioLink, TheRadiosAnswers)
{
    const std::tuple<const char*, const char*, const char*, std::size_t> rows[] = { // steps, frames, ring, lines
        {"tx late", "T", "", 0},
        {"answers:refused tx", "T", "The radio refused the last command", 1},
        {"answers:none tx late", "T", "though the bus echoed the command", 1},
        {"answers:noise echo:off tx late rx late", "T R", "was not CI-V", 1},
        {"answers:none tx late rx late tx tx late", "T R T T", "though the bus echoed", 1},
        {"answers:none tx late answers:done rx", "T R", "", 2},
        // Frames a closed port cannot take: one line when it begins, one with the count when it ends.
        {"unplug tx rx tx rx tx rx plug", "R", "", 5},
        // Typing: one line per change of outcome, and the ring gives the
        // reason until a text the port takes.
        {"edit:4 edit:48 edit:48x", "", "The port settings \"48x\" were refused: expected", 1},
        {"edit:4 edit:48 edit:4800,n,8,1", "", "", 1},
        // A transmit limit that cannot be taken stays on the ring while it stands.
        {"limit=x tx", "T", "The [Safety] TransmitLimit=x is not a whole number", 1},
    };
    for (const auto& [steps, frames, ring, lines] : rows) {
        Rig rig;
        rig.run(steps);
        EXPECT_EQ(rig.frames(), frames) << steps;
        EXPECT_TRUE(*ring ? rig.view.fault.find(ring) != std::string::npos : rig.view.fault.empty()) << steps << ": " << rig.view.fault;
        EXPECT_EQ(rig.view.lines.size(), lines) << steps;
        if (*frames) {
            EXPECT_EQ(rig.view.wakeMs[RadioLinkView::Alarm::Answer], 263) << "13 bytes at 9600 baud, and 250 ms for the radio";
        }
    }
}

// A rigctl client's questions share the line with PTT: never ahead of a
// PTT frame, one at a time, each answer to its own question, and a reply
// at once where the radio cannot be asked.
TEST(RadioLink, QuestionsWaitTheirTurnAndPttNeverWaits)
{
    const std::tuple<const char*, const char*, const char*> rows[] = { // steps, frames, replies
        {"ask:03 ask:05", "q03 q05", "03=14074000 05:done"},
        {"answers:refused ask:05 tx", "q05 T", "05:refused"},
        // The PTT frame's answer is awaited first; the question goes after it.
        {"answers:none tx ask:03", "T", ""},
        {"answers:none ask:03 ask:05 tx qlate late qlate", "q03 T q05", "03:timeout 05:timeout"},
        {"answers:none tx ask:03 cancel:0 late", "T", ""},
        // Nowhere to ask: at once.
        {"tx edit:48x leave{ask:03}", "T", "03:notopen"},
        // A stalled line keeps a question it took: a transmit after it is refused, a receive replaces it.
        {"stall ask:03 tx rx drain", "R", "03:timeout"},
    };
    for (const auto& [steps, frames, replies] : rows) {
        Rig rig;
        rig.run(steps);
        EXPECT_EQ(rig.broken, "") << steps;
        EXPECT_EQ(rig.frames(), frames) << steps;
        EXPECT_EQ(rig.replies, replies) << steps;
    }
    Rig rig; // a silent radio: questions past the 32 waiting are turned away
    rig.run("answers:none tx");
    for (int i = 0; i < 34; ++i)
        rig.step("ask:03");
    EXPECT_EQ(rig.replies, "03:busy 03:busy");
}

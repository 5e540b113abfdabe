// SPDX-License-Identifier: GPL-3.0-or-later
// The transmitter-safety rule as a property of the whole window: bounded random
// runs mix host commands over several connections, lamp clicks, line stalls (the
// pty not read for a while), port reconfigurations and unplug/replug, and end
// in a close. Once the line has drained, its last frame is the state the lamp
// shows, and a receive commanded last is the last frame on the wire.
#include "core/host_command.h"
#include "platform/qt_settings_store.h"
#include "support/helpers.h"
#include "ui/form1.h"
#include "ui/lamp.h"
#include "unit/fakes.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace torvak;
using namespace torvak::test;

namespace {

// The PTT frames a radio would take from the wire: a cut frame is dropped at
// the next preamble, as a CI-V radio does.
QList<char> framesOn(const QByteArray& wire)
{
    QList<char> frames;
    for (qsizetype at = wire.indexOf("\xFE\xFE"); at >= 0; at = wire.indexOf("\xFE\xFE", at + 2)) {
        const QByteArray f = wire.mid(at, 7);
        if (f.size() == 7 && f.startsWith(QByteArray("\xFE\xFE\x04\xE0\x16", 5)) && f[6] == '\xFD'
            && !f.mid(2).contains('\xFE'))
            frames << (f[5] == 1 ? 'T' : 'R');
    }
    return frames;
}

struct Rig {
    Sandbox sandbox;
    QString device = sandbox.path(QStringLiteral("radio"));
    std::unique_ptr<Pty> radio;
    QByteArray wire;
    bool stalled = false;
    std::mt19937 rng;
    std::string log; // the steps taken, for the failure message

    explicit Rig(unsigned seed) : rng(seed) { plug(); }

    void plug()
    {
        radio = std::make_unique<Pty>();
        ::unlink(QFile::encodeName(device).constData());
        EXPECT_EQ(::symlink(QFile::encodeName(radio->slavePath()).constData(), QFile::encodeName(device).constData()), 0);
        stalled = false;
    }
    void unplug()
    {
        take();
        radio.reset();
        ::unlink(QFile::encodeName(device).constData());
    }
    void take()
    {
        if (radio && !stalled)
            wire += radio->read(0, 0);
    }
};

} // namespace

TEST(SafetyProperty, TheRadioEndsInTheStateLastAskedFor)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        Rig run(seed);
        SCOPED_TRACE("seed " + std::to_string(seed));
        run.sandbox.writeSettings("[Devices]\nCOM1=" + run.device.toUtf8() + "\n");
        QtSettingsStore store;
        RecordingBox messages;
        HostLink link;
        Form1 form(store, messages);
        ASSERT_EQ(form.load(link), Form1::Start::Loaded);
        form.show();
        QSignalSpy carriedOut(&link, &HostLink::hookProc);
        auto* lamp = form.findChild<Lamp*>(QStringLiteral("Shape1"));
        auto* target = form.findChild<QWidget*>(QStringLiteral("Label3"));
        auto* box = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
        int hosts[3];
        for (int& h : hosts)
            h = connectUnix(link.socketPath());
        int sent = 0;
        int last = -1; // the last PTT state asked for
        const auto command = [&](int host, const std::vector<int>& states) {
            QByteArray bytes;
            for (int state : states) {
                const Record r = encodeRecord({0, state});
                bytes.append(reinterpret_cast<const char*>(r.data()), r.size());
            }
            ASSERT_EQ(::write(hosts[host], bytes.constData(), bytes.size()), bytes.size());
            sent += static_cast<int>(states.size());
            last = states.back();
            ASSERT_TRUE(waitUntil([&] { run.take(); return carriedOut.size() == sent; }, 20000));
        };

        for (int step = 0; step < 14; ++step) {
            switch (run.rng() % 7) {
            case 0: case 1: { // a few commands on one connection
                std::vector<int> states(1 + run.rng() % 4);
                for (int& s : states)
                    s = static_cast<int>(run.rng() % 2);
                run.log += " host";
                command(static_cast<int>(run.rng() % 3), states);
                break;
            }
            case 2:
                run.log += " click";
                last = lamp->fillColour() == kTransmitRed ? 0 : 1;
                QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
                break;
            case 3: // the line stops taking bytes while a flood arrives
                if (run.radio && !run.stalled) {
                    run.log += " stall";
                    run.stalled = true;
                    std::vector<int> flood(12000);
                    for (std::size_t i = 0; i < flood.size(); ++i)
                        flood[i] = static_cast<int>(i % 2);
                    flood.back() = static_cast<int>(run.rng() % 2);
                    command(0, flood);
                } else if (run.stalled) {
                    run.log += " drain";
                    run.stalled = false;
                }
                break;
            case 4: { // the operator edits the settings: close, apply, reopen
                const char* texts[] = {"4800,n,8,1", "9600,n,8,1", "48x"};
                run.log += " settings";
                box->setText(QString::fromLatin1(texts[run.rng() % 3]));
                break;
            }
            case 5:
                if (run.radio) {
                    run.log += " unplug";
                    run.unplug();
                } else {
                    run.log += " replug";
                    run.plug();
                }
                break;
            case 6:
                run.log += " tx+rx on two hosts";
                command(1, {1});
                command(2, {0});
                break;
            }
            settle(5);
            run.take();
        }
        // The line carries bytes again: plugged in and read.
        if (!run.radio)
            run.plug();
        run.stalled = false;
        // The device watcher reopens the port; give a pending receive its time.
        waitUntil([&] { run.take(); return last != 0 || framesOn(run.wire).endsWith('R'); }, 2000);
        settle(50);
        run.take();
        const Rgb shown = lamp->fillColour();
        form.close();
        run.take();
        settle(50);
        run.take();

        const QList<char> frames = framesOn(run.wire);
        SCOPED_TRACE("steps:" + run.log + "; last asked " + std::to_string(last) + "; frames "
                     + std::to_string(frames.size()));
        const char lastFrame = frames.isEmpty() ? 'R' : frames.back(); // the lamp starts green
        EXPECT_EQ(lastFrame, shown == kTransmitRed ? 'T' : 'R');
        if (last == 0) {
            EXPECT_EQ(lastFrame, 'R') << "a receive asked for last is the last frame on the wire";
        }
        for (int h : hosts)
            ::close(h);
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "reconfigure.h"

#include "settings/options.h"

#include <limits>

namespace torvak {

namespace {

// What the operator is told beneath a box: every step that failed, one a line.
std::string why(const ResumeNext& seq)
{
    std::string text;
    for (const std::string& reason : seq.failures())
        text += (text.empty() ? "" : "\n") + reason;
    return text;
}

void closeIfOpen(RadioLink& port, ResumeNext& seq)
{
    if (port.isOpen())
        seq.run(port.close());
}

} // namespace

ResumeNext choosePort(PortPanel& panel, int listPosition)
{
    ResumeNext seq;
    closeIfOpen(panel.port, seq);
    // The port number is a 16-bit value; the list position plus one must stay one.
    if (listPosition >= std::numeric_limits<std::int16_t>::max())
        seq.run(Status::failure("port number out of range"));
    else
        seq.run(panel.port.setPortNumber(listPosition + 1));
    seq.run(options::storeComPort(panel.store, static_cast<std::int16_t>(panel.port.portNumber())));
    seq.run(panel.port.open());
    if (seq.failed())
        panel.messages.show(kComPortError, why(seq));
    return seq;
}

ResumeNext editSettings(PortPanel& panel, std::string_view text)
{
    ResumeNext seq;
    closeIfOpen(panel.port, seq);
    seq.run(panel.port.setSettings(text));
    // Stored whether or not the port took it: the store keeps what was typed.
    seq.run(options::storeLineSettings(panel.store, text));
    seq.run(panel.port.open());
    return seq;
}

ResumeNext leaveSettingsBox(PortPanel& panel)
{
    ResumeNext seq;
    closeIfOpen(panel.port, seq);
    seq.run(panel.port.setSettings(options::lineSettings(panel.store)));
    if (seq.failed())
        panel.messages.show(kInvalidSettings, why(seq));
    // The operator was told about the settings; a port that will not open now
    // simply stays closed, as it would at start-up.
    if (!panel.port.isOpen())
        seq.run(panel.port.open());
    return seq;
}

} // namespace torvak

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "rigctl_session.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace torvak {

class HostLink;
class RadioLink;

// Hamlib's NET rigctl protocol on the loopback address, so that programs
// speaking Hamlib (rig model 2) share the radio through this one owner. PTT
// goes through the hosts' queue and the safety rule like a host's record;
// reads wait for no PTT frame and give up after kReadDeadlineMs. A client
// whose connection ends while its last command keyed the radio releases it.
class RigctlServer : public QObject, public RigctlRadio {
    Q_OBJECT
public:
    static constexpr int kMostClients = 16;
    static constexpr int kReadDeadlineMs = 450;

    RigctlServer(HostLink& link, RadioLink& radio, std::function<void(const std::string&)> tell,
                 QObject* parent = nullptr);
    ~RigctlServer() override;

    // Listens on 127.0.0.1 and, where there is one, ::1.
    Status listen(int port);
    bool isListening() const;
    // The operator keyed or released the radio: no client's connection
    // ending releases it now.
    void operatorCommand() { keyedBy_ = 0; }

    void setPtt(std::uint64_t client, bool transmit, std::function<void(int)> done) override;
    bool transmitting() const override;
    void ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply) override;

private:
    struct Client;
    void accept(QTcpServer* server);
    void read(std::uint64_t id);
    void ended(std::uint64_t id);

    HostLink& link_;
    RadioLink& radio_;
    std::function<void(const std::string&)> tell_;
    std::vector<QTcpServer*> servers_;
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    std::uint64_t accepted_ = 0;
    // The client whose command keyed the radio last, while it stays keyed.
    std::uint64_t keyedBy_ = 0;
    bool toldFull_ = false;
};

} // namespace torvak

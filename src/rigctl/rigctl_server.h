// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/status.h"
#include "rigctl_clients.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace torvak {

class HostLink;
class RadioLink;

// Hamlib's NET rigctl protocol on the loopback address, so that programs
// speaking Hamlib (rig model 2) share the radio through this one owner. Their
// PTT joins the one order of commands (RigctlClients); reads wait for no PTT
// frame and give up after RigctlClients::kReadDeadlineMs.
//
// Only this user's programs are let in: a connection from a socket another
// user owns (the kernel's TCP tables say whose) is closed before anything
// it sent is read, as is a session that speaks HTTP (a web page posting to
// the port) or no rigctl at all.
class RigctlServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMostClients = 16;

    RigctlServer(HostLink& link, RadioLink& radio, std::function<void(const std::string&)> tell,
                 QObject* parent = nullptr);
    ~RigctlServer() override;

    // Listens on 127.0.0.1 and, where there is one, ::1. anyLocalUser lets in
    // connections whose owner cannot be found (a program in a container).
    Status listen(int port, bool anyLocalUser = false);
    bool isListening() const;
    // The operator keyed or released the radio (carried out in the one order).
    void operatorCommand() { clients_.otherCommand(); }

private:
    void accept(QTcpServer* server);
    void read(std::uint64_t id);
    void ended(std::uint64_t id);
    void refuse(QTcpSocket* socket, const std::string& why);

    std::function<void(const std::string&)> tell_;
    RigctlClients clients_;
    std::vector<QTcpServer*> servers_;
    std::map<std::uint64_t, QTcpSocket*> sockets_;
    std::uint64_t accepted_ = 0;
    bool anyLocalUser_ = false;
    bool toldFull_ = false;
    std::map<std::string, bool> toldRefused_; // each kind of refusal once
};

} // namespace torvak

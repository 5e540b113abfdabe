// SPDX-License-Identifier: GPL-3.0-or-later
#include "rigctl_server.h"

#include "core/host_command.h"
#include "platform/host_link.h"
#include "port/radio_link.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace torvak {

namespace {

// A client that stops reading its answers is read no more until it catches up.
constexpr qint64 kMostUnread = 64 * 1024;

} // namespace

struct RigctlServer::Client {
    QTcpSocket* socket = nullptr;
    std::unique_ptr<RigctlSession> session;
    bool reading = false; // read() is taking its lines now
};

RigctlServer::RigctlServer(HostLink& link, RadioLink& radio, std::function<void(const std::string&)> tell,
                           QObject* parent)
    : QObject(parent)
    , link_(link)
    , radio_(radio)
    , tell_(std::move(tell))
{
    // Any command carried out after a client's transmit is not that client's to undo.
    connect(&link_, &HostLink::hostCommand, this, [this] { keyedBy_ = 0; });
}

RigctlServer::~RigctlServer()
{
    for (auto& [id, client] : clients_)
        client->socket->abort();
}

Status RigctlServer::listen(int port)
{
    for (const auto address : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        auto* server = new QTcpServer(this);
        if (!server->listen(address, static_cast<quint16>(port))) {
            const auto error = server->serverError();
            delete server;
            // A machine without IPv6 on loopback has only 127.0.0.1.
            if (address == QHostAddress::LocalHostIPv6 && error != QAbstractSocket::AddressInUseError && !servers_.empty())
                continue;
            qDeleteAll(servers_);
            servers_.clear();
            if (error == QAbstractSocket::AddressInUseError)
                return Status::failure("port " + std::to_string(port) + " is in use: is rigctld running?");
            return Status::failure("rigctl port " + std::to_string(port) + " cannot be opened");
        }
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
        // Out of descriptors: Qt stops accepting; a second later it tries again.
        connect(server, &QTcpServer::acceptError, this,
                [server] { QTimer::singleShot(1000, server, [server] { server->resumeAccepting(); }); });
        servers_.push_back(server);
    }
    return Status::success();
}

bool RigctlServer::isListening() const { return !servers_.empty(); }

void RigctlServer::accept(QTcpServer* server)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (clients_.size() >= static_cast<std::size_t>(kMostClients)) {
            if (!std::exchange(toldFull_, true))
                tell_("rigctl: a client was turned away: " + std::to_string(kMostClients) + " are connected already");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const std::uint64_t id = ++accepted_;
        socket->setParent(this);
        socket->setReadBufferSize(4096);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->session = std::make_unique<RigctlSession>(id, *this, [this, id, socket, c = client.get()](std::string_view text) {
            socket->write(text.data(), static_cast<qint64>(text.size()));
            // An answer that came later lets the client's next lines be read.
            if (!c->reading)
                QMetaObject::invokeMethod(this, [this, id] { read(id); }, Qt::QueuedConnection);
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { read(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { read(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { ended(id); }, Qt::QueuedConnection);
        clients_.emplace(id, std::move(client));
        read(id);
    }
}

void RigctlServer::read(std::uint64_t id)
{
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& client = *it->second;
    client.reading = true;
    while (client.socket->bytesAvailable() > 0 && client.socket->bytesToWrite() < kMostUnread) {
        const std::size_t room = client.session->room();
        if (room == 0)
            break;
        const QByteArray bytes = client.socket->read(static_cast<qint64>(room));
        client.session->feed({bytes.constData(), static_cast<std::size_t>(bytes.size())});
        if (client.session->ended()) {
            client.reading = false;
            client.socket->disconnectFromHost();
            return;
        }
    }
    client.reading = false;
}

void RigctlServer::ended(std::uint64_t id)
{
    auto node = clients_.extract(id);
    if (node.empty())
        return;
    node.mapped()->socket->deleteLater();
    if (clients_.size() < static_cast<std::size_t>(kMostClients))
        toldFull_ = false;
    // Its last command keyed the radio and nothing came after: the client
    // that would have released it is gone.
    if (keyedBy_ != id)
        return;
    keyedBy_ = 0;
    if (radio_.ptt() == PttState::Transmit) {
        tell_("a rigctl client left while its transmit keyed the radio: the radio was released");
        link_.submit({kCommandPtt, kStateReceive}, nullptr);
    }
}

void RigctlServer::setPtt(std::uint64_t client, bool transmit, std::function<void(int)> done)
{
    const HostCommand command{kCommandPtt, transmit ? kStateTransmit : kStateReceive};
    link_.submit(command, [this, client, transmit, done = std::move(done)] {
        const bool sent = radio_.ptt() == (transmit ? PttState::Transmit : PttState::Receive) && !radio_.receiveWaiting();
        keyedBy_ = transmit && sent ? client : 0;
        done(sent ? rprt::kOk : rprt::kIo);
    });
}

bool RigctlServer::transmitting() const { return radio_.ptt() == PttState::Transmit; }

void RigctlServer::ask(std::vector<std::uint8_t> frame, bool wantsData, std::function<void(const CivReply&)> reply)
{
    // Whichever comes first, the radio's reply or the deadline, answers.
    struct Pending {
        std::function<void(const CivReply&)> reply;
        RadioLink::Ticket ticket = 0;
    };
    const auto pending = std::make_shared<Pending>(Pending{std::move(reply), 0});
    const auto finish = [pending](const CivReply& r) {
        if (const auto reply = std::exchange(pending->reply, nullptr))
            reply(r);
    };
    pending->ticket = radio_.ask(std::move(frame), wantsData, finish);
    if (!pending->reply)
        return;
    QTimer::singleShot(kReadDeadlineMs, this, [this, pending, finish] {
        radio_.cancel(pending->ticket);
        finish({CivReply::Kind::Timeout, {}});
    });
}

} // namespace torvak

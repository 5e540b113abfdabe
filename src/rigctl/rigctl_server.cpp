// SPDX-License-Identifier: GPL-3.0-or-later
#include "rigctl_server.h"

#include "platform/host_link.h"
#include "port/radio_link.h"

#include <QFile>
#include <QHostAddress>
#include <QtEndian>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>
#include <optional>
#include <utility>

#include <unistd.h>

namespace torvak {

namespace {

// A client that stops reading its answers is read no more until it catches up.
constexpr qint64 kMostUnread = 64 * 1024;

// The kernel's TCP tables print an address as the bytes in memory, each
// 32-bit word read in host order: "0100007F:D5D4" is 127.0.0.1:54740.
QString tableAddress(const QHostAddress& address, quint16 port)
{
    QString text;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        text = QString::asprintf("%08X", qToBigEndian(address.toIPv4Address()));
    } else {
        const Q_IPV6ADDR ip = address.toIPv6Address();
        for (int i = 0; i < 16; i += 4) {
            std::uint32_t word = 0;
            std::memcpy(&word, &ip.c[i], 4);
            text += QString::asprintf("%08X", word);
        }
    }
    return text + QString::asprintf(":%04X", port);
}

// Who owns the client's end of this connection, from /proc/net/tcp or tcp6.
std::optional<uid_t> peerOwner(const QTcpSocket& socket)
{
    const bool v4 = socket.peerAddress().protocol() == QAbstractSocket::IPv4Protocol;
    const QString local = tableAddress(socket.peerAddress(), socket.peerPort());
    const QString remote = tableAddress(socket.localAddress(), socket.localPort());
    QFile table(v4 ? QStringLiteral("/proc/net/tcp") : QStringLiteral("/proc/net/tcp6"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
    // (A file of /proc says its size is 0: read it to its end.)
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 7 && QString::fromLatin1(fields[1]) == local && QString::fromLatin1(fields[2]) == remote) {
            bool ok = false;
            const uint uid = fields[7].toUInt(&ok);
            if (ok)
                return static_cast<uid_t>(uid);
        }
    }
    return std::nullopt;
}

} // namespace

RigctlServer::RigctlServer(HostLink& link, RadioLink& radio, std::function<void(const std::string&)> tell,
                           QObject* parent)
    : QObject(parent)
    , tell_(tell)
    , clients_([&link](RigctlClients::Action a) { link.submit(std::move(a)); }, radio, radio,
               [this](int ms, RigctlClients::Action a) { QTimer::singleShot(ms, this, std::move(a)); }, std::move(tell))
{
    // Any host's record carried out after a client's transmit is not that client's to undo.
    connect(&link, &HostLink::hostCommand, this, [this] { clients_.otherCommand(); });
    clients_.forgotten = [this](std::uint64_t id) {
        if (const auto node = sockets_.extract(id); !node.empty())
            node.mapped()->deleteLater();
    };
}

RigctlServer::~RigctlServer()
{
    for (auto& [id, socket] : sockets_)
        socket->abort();
}

Status RigctlServer::listen(int port, bool anyLocalUser)
{
    anyLocalUser_ = anyLocalUser;
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

void RigctlServer::refuse(QTcpSocket* socket, const std::string& why)
{
    if (!std::exchange(toldRefused_[why], true))
        tell_("rigctl: refused a connection that " + why + " (from " + socket->peerAddress().toString().toStdString()
              + " port " + std::to_string(socket->peerPort()) + ")");
    socket->abort();
    socket->deleteLater();
}

void RigctlServer::accept(QTcpServer* server)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (sockets_.size() >= static_cast<std::size_t>(kMostClients)) {
            if (!std::exchange(toldFull_, true))
                tell_("rigctl: a client was turned away: " + std::to_string(kMostClients) + " are connected already");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The radio is this user's: another user's program, or one whose owner
        // cannot be told, is not let in (unless [Rigctl] AnyLocalUser=1 says so).
        const std::optional<uid_t> owner = peerOwner(*socket);
        if (owner ? *owner != ::getuid() : !anyLocalUser_) {
            refuse(socket, owner ? "belongs to another user (uid " + std::to_string(*owner) + ")"
                                 : "has no owner the kernel could name");
            continue;
        }
        const std::uint64_t id = ++accepted_;
        socket->setParent(this);
        socket->setReadBufferSize(4096);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        sockets_.emplace(id, socket);
        clients_.connected(id, [this, id, socket](std::string_view text) {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write(text.data(), static_cast<qint64>(text.size()));
            // An answer that came later lets the client's next lines be read.
            QMetaObject::invokeMethod(this, [this, id] { read(id); }, Qt::QueuedConnection);
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { read(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { read(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { ended(id); }, Qt::QueuedConnection);
        read(id);
    }
}

void RigctlServer::read(std::uint64_t id)
{
    const auto it = sockets_.find(id);
    RigctlSession* session = clients_.session(id);
    if (it == sockets_.end() || !session)
        return;
    QTcpSocket* socket = it->second;
    const bool gone = socket->state() != QAbstractSocket::ConnectedState;
    // A client that left is not waited on to read its answers.
    while (socket->bytesAvailable() > 0 && (gone || socket->bytesToWrite() < kMostUnread)) {
        const std::size_t room = session->room();
        if (room == 0)
            break;
        const QByteArray bytes = socket->read(static_cast<qint64>(room));
        session->feed({bytes.constData(), static_cast<std::size_t>(bytes.size())});
    }
    if (const std::string refusal = session->refusal(); !refusal.empty()) {
        sockets_.erase(it);
        clients_.left(id); // may end the session
        return refuse(socket, refusal);
    }
    if (session->ended() && !gone)
        socket->disconnectFromHost();
    // What it sent before it left is carried out; then it is forgotten.
    if (gone && (socket->bytesAvailable() == 0 || session->ended()))
        clients_.left(id);
}

void RigctlServer::ended(std::uint64_t id)
{
    if (sockets_.size() <= static_cast<std::size_t>(kMostClients))
        toldFull_ = false;
    read(id);
}

} // namespace torvak

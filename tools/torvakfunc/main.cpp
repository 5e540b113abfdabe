// SPDX-License-Identifier: GPL-3.0-or-later
// torvakfunc: hands one command pair to a running torvak-ptt, as a host
// program would. "torvakfunc COMMAND STATE", or tx, rx, close.
#include "core/host_command.h"
#include "core/text.h"
#include "platform/host_link.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kUsage = 2;
constexpr int kNotDelivered = 1;

constexpr const char* kUsageText = "usage: torvakfunc COMMAND STATE   (two 32-bit signed integers)\n"
                                   "       torvakfunc tx | rx | close (the pairs 0 1, 0 0 and 1 0)\n";

int usage(const std::string& why = {})
{
    if (!why.empty())
        std::cerr << "torvakfunc: " << why << '\n';
    std::cerr << kUsageText;
    return kUsage;
}

// The command pair, or why the arguments are refused.
std::variant<torvak::HostCommand, std::string> parse(int argc, char* argv[])
{
    if (argc == 2) {
        const std::string_view name = argv[1];
        if (name == "tx")
            return torvak::HostCommand{torvak::kCommandPtt, torvak::kStateTransmit};
        if (name == "rx")
            return torvak::HostCommand{torvak::kCommandPtt, torvak::kStateReceive};
        if (name == "close")
            return torvak::HostCommand{torvak::kCommandClose, 0};
        return "\"" + std::string(name) + "\" is not tx, rx or close, and a command needs a state beside it";
    }
    if (argc != 3)
        return argc < 2 ? std::string("no command given") : "three or more arguments; a command is two numbers";
    std::int32_t words[2] = {};
    for (int i = 0; i < 2; ++i) {
        const std::string_view text = argv[i + 1];
        const auto value = torvak::wholeNumber<std::int32_t>(text);
        if (!value)
            return std::string(i == 0 ? "COMMAND" : "STATE") + " \"" + std::string(text) + "\" is not "
                + (torvak::wholeNumber(text) ? "within 32 bits (-2147483648 to 2147483647)" : "a whole decimal number");
        words[i] = *value;
    }
    return torvak::HostCommand{words[0], words[1]};
}

// Why a connection to the link failed, in the operator's words.
std::string refusal(int error, const std::string& path)
{
    switch (error) {
    case ENOENT: return "torvak-ptt is not running (no socket at " + path + ")";
    case ECONNREFUSED: return "torvak-ptt is not running (nothing listens on " + path + ")";
    case EAGAIN: return "torvak-ptt is running but too busy to take the command: no connection within 2 s";
    default: return "cannot reach torvak-ptt at " + path + ": " + std::strerror(error);
    }
}

// Hands one record to the running program; the reason why not, or nothing.
std::optional<std::string> deliver(const std::string& path, const torvak::Record& record)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::string("cannot make a socket: ") + std::strerror(errno);
    // A busy program gets two seconds to take the connection and the record.
    const timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size()); // findSocketPath checked the length
    std::optional<std::string> failed;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        failed = refusal(errno, path);
    else if (::send(fd, record.data(), record.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(record.size()))
        failed = std::string("could not send the command: ") + std::strerror(errno);
    ::close(fd);
    return failed;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << kUsageText << "Hands one command to the running torvak-ptt over $XDG_RUNTIME_DIR/TORVAKFUNC.\n";
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "torvakfunc " << TORVAK_VERSION << '\n';
        return 0;
    }
    const auto parsed = parse(argc, argv);
    if (const auto* why = std::get_if<std::string>(&parsed))
        return usage(*why);
    const auto* command = std::get_if<torvak::HostCommand>(&parsed);

    const auto path = torvak::HostLink::findSocketPath();
    if (!path.status) {
        std::cerr << "torvakfunc: " << path.status.reason() << '\n';
        return kNotDelivered;
    }
    if (const auto failed = deliver(QFile::encodeName(path.value).toStdString(), torvak::encodeRecord(*command))) {
        std::cerr << "torvakfunc: " << *failed << '\n';
        return kNotDelivered;
    }
    return 0;
}

// torvakfunc: hands one command pair to a running torvak-ptt, as a host
// program would. "torvakfunc COMMAND STATE", or tx, rx, close.
#include "core/host_command.h"
#include "platform/host_link.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <string_view>

namespace {

constexpr int kUsage = 2;
constexpr int kNotDelivered = 1;

int usage()
{
    std::cerr << "usage: torvakfunc COMMAND STATE   (two 32-bit signed integers)\n"
                 "       torvakfunc tx | rx | close (the pairs 0 1, 0 0 and 1 0)\n";
    return kUsage;
}

std::optional<std::int32_t> word(std::string_view text)
{
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<torvak::HostCommand> parse(int argc, char* argv[])
{
    if (argc == 2) {
        const std::string_view name = argv[1];
        if (name == "tx")
            return torvak::HostCommand{torvak::kCommandPtt, torvak::kStateTransmit};
        if (name == "rx")
            return torvak::HostCommand{torvak::kCommandPtt, torvak::kStateReceive};
        if (name == "close")
            return torvak::HostCommand{torvak::kCommandClose, 0};
        return std::nullopt;
    }
    if (argc != 3)
        return std::nullopt;
    const auto command = word(argv[1]);
    const auto state = word(argv[2]);
    if (!command || !state)
        return std::nullopt;
    return torvak::HostCommand{*command, *state};
}

} // namespace

int main(int argc, char* argv[])
{
    const auto command = parse(argc, argv);
    if (!command)
        return usage();

    QCoreApplication app(argc, argv);
    const auto path = torvak::HostLink::registerMessage();
    if (!path.status) {
        std::cerr << "torvakfunc: " << path.status.reason() << '\n';
        return kNotDelivered;
    }
    QLocalSocket socket;
    socket.connectToServer(path.value);
    if (!socket.waitForConnected(2000)) {
        std::cerr << "torvakfunc: torvak-ptt is not running (" << socket.errorString().toStdString()
                  << ")\n";
        return kNotDelivered;
    }
    const torvak::Record record = torvak::encodeRecord(*command);
    const auto size = static_cast<qint64>(record.size());
    if (socket.write(reinterpret_cast<const char*>(record.data()), size) != size
        || !socket.waitForBytesWritten(2000)) {
        std::cerr << "torvakfunc: could not send the command: " << socket.errorString().toStdString() << '\n';
        return kNotDelivered;
    }
    socket.disconnectFromServer();
    return 0;
}

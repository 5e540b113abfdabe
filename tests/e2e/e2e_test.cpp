// The built binaries together: radio-sim, torvak-ptt and torvakfunc, in a
// private runtime and config directory.
#include "support/helpers.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace torvak::test;

namespace {

QString bin(const char* name)
{
    // The programs are built beside the tests.
    return QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name);
}

// The simulated radio: its device path, and every line it prints.
struct Radio {
    QProcess process;
    QString device;
    QStringList lines;

    explicit Radio(const QString& link)
    {
        process.start(bin("radio-sim"), {QStringLiteral("--link"), link});
        EXPECT_TRUE(process.waitForStarted(3000));
        EXPECT_TRUE(waitUntil([&] { return poll() >= 1; }));
        device = lines.value(0);
        lines.clear();
    }
    ~Radio()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    int poll()
    {
        process.waitForReadyRead(10);
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return lines.size();
    }
    QStringList waitLines(int count, int timeoutMs = 3000)
    {
        waitUntil([&] { return poll() >= count; }, timeoutMs);
        return lines;
    }
};

struct Program {
    QProcess process;
    explicit Program(const Sandbox& sandbox)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(bin("torvak-ptt"), {});
        EXPECT_TRUE(process.waitForStarted(3000));
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(sandbox.runtimeDir() + "/TORVAKFUNC"); }, 5000));
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    // CPU seconds the program has used so far.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        return (fields.value(13).toDouble() + fields.value(14).toDouble()) / ::sysconf(_SC_CLK_TCK);
    }
};

int torvakfunc(const QStringList& args, QString* err = nullptr)
{
    QProcess p;
    p.start(bin("torvakfunc"), args);
    p.waitForFinished(5000);
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(EndToEnd, TxThenRxGivesExactlyTwoFramesAndCloseExitsZero)
{
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings("[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n");
    Program ptt(sandbox);

    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("0"), QStringLiteral("2")}), 0);
    EXPECT_EQ(torvakfunc({QStringLiteral("2"), QStringLiteral("1")}), 0);
    EXPECT_EQ(radio.waitLines(2), (QStringList{QStringLiteral("TX"), QStringLiteral("RX")}));

    // A second instance leaves the first alone and says why.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(bin("torvak-ptt"), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    EXPECT_EQ(torvakfunc({QStringLiteral("close")}), 0);
    ASSERT_TRUE(ptt.process.waitForFinished(5000));
    EXPECT_EQ(ptt.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ptt.process.exitCode(), 0);
    settle(100);
    EXPECT_EQ(radio.waitLines(3, 200).size(), 2) << "no frame on the way out";

    QString err;
    EXPECT_NE(torvakfunc({QStringLiteral("tx")}, &err), 0) << "nobody listens any more";
    EXPECT_TRUE(err.contains(QStringLiteral("not running"))) << err.toStdString();
}

TEST(EndToEnd, TheRadioDisappearingMidRunNeitherCrashesNorSpins)
{
    Sandbox sandbox;
    auto radio = std::make_unique<Radio>(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings("[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n");
    Program ptt(sandbox);
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(radio->waitLines(1), QStringList{QStringLiteral("TX")});

    radio.reset(); // unplugged
    settle(300);
    const double before = ptt.cpuSeconds();
    settle(1000);
    EXPECT_LT(ptt.cpuSeconds() - before, 0.5) << "spinning on the hung-up device";

    EXPECT_EQ(torvakfunc({QStringLiteral("rx")}), 0);
    settle(200);
    EXPECT_EQ(ptt.process.state(), QProcess::Running);
    const QByteArray err = ptt.process.readAllStandardError();
    EXPECT_TRUE(err.contains("frame not sent")) << err.constData();
}

TEST(EndToEnd, TorvakfuncRefusesWhatIsNotACommandPair)
{
    Sandbox sandbox;
    for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("up")},
                                    QStringList{QStringLiteral("0")},
                                    QStringList{QStringLiteral("0"), QStringLiteral("2147483648")},
                                    QStringList{QStringLiteral("0x1"), QStringLiteral("1")},
                                    QStringList{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")}})
        EXPECT_EQ(torvakfunc(args), 2) << args.join(u' ').toStdString();
    QString err;
    EXPECT_EQ(torvakfunc({QStringLiteral("-2147483648"), QStringLiteral("0")}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("not running")));
}

TEST(EndToEnd, ClosingTheWindowEndsTheProgramWithStatusZero)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server with a window manager (scripts/with-x)";
    Sandbox sandbox;
    Radio radio(sandbox.path(QStringLiteral("radio")));
    sandbox.writeSettings("[Devices]\nCOM1=" + sandbox.path(QStringLiteral("radio")).toUtf8() + "\n");
    QProcess ptt;
    ptt.start(bin("torvak-ptt"), {});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(sandbox.runtimeDir() + "/TORVAKFUNC"); }, 5000));
    EXPECT_EQ(torvakfunc({QStringLiteral("tx")}), 0);
    EXPECT_EQ(radio.waitLines(1), QStringList{QStringLiteral("TX")});

    // The window manager's close, as the title bar's button sends it.
    QProcess find;
    find.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                           QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                           QStringLiteral("^TORVAK TenTec PTT V3$")});
    ASSERT_TRUE(find.waitForFinished(10000));
    const QString window = QString::fromUtf8(find.readAllStandardOutput()).split(u'\n').value(0);
    ASSERT_FALSE(window.isEmpty());
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                  window, QStringLiteral("key"), QStringLiteral("alt+F4")});
    ASSERT_TRUE(ptt.waitForFinished(5000));
    EXPECT_EQ(ptt.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ptt.exitCode(), 0);
    EXPECT_EQ(radio.waitLines(2, 300), QStringList{QStringLiteral("TX")}) << "no frame on the way out";
}

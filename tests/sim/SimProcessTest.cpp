// Runs the real simulator program on a link in a temporary directory and talks to it as a
// console would: through the link, as a raw serial tty.

#include "record/RecordFormat.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto Patience = 10s;

class SimProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qx200-simtest-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr) << std::strerror(errno);
        dir_ = pattern;
        link_ = dir_ + "/COM1";
    }

    void TearDown() override
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            ::close(out_);
        ::unlink(link_.c_str());
        ::rmdir(dir_.c_str());
    }

    // Starts the simulator on the temporary link; its stdout comes through out_.
    void spawn(std::vector<std::string> extra)
    {
        std::vector<std::string> args{QX200_SIM_PATH, "--link", link_, "--seed", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);

        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        out_ = pipeFds[0];
        ASSERT_EQ(rc, 0) << std::strerror(rc);
    }

    // Reads from fd until `wanted` has come in, the other side closes, or time runs out.
    static std::string readUntil(int fd, const std::string& wanted)
    {
        std::string got;
        const auto deadline = Clock::now() + Patience;
        while (got.find(wanted) == std::string::npos && Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    void startServing(std::vector<std::string> extra = {})
    {
        spawn(std::move(extra));
        ASSERT_EQ(readUntil(out_, "\n"), "qx200-sim: serving on " + link_ + "\n");
    }

    // Opens the link as a console opens its port: read/write, raw, no echo.
    int openLine()
    {
        const int fd = ::open(link_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << link_ << ": " << std::strerror(errno);
        if (fd < 0)
            return fd;
        termios tio{};
        EXPECT_EQ(::tcgetattr(fd, &tio), 0);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B19200);
        EXPECT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);
        return fd;
    }

    static std::string exchange(int fd, const std::string& line, const std::string& reply)
    {
        EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        return readUntil(fd, reply);
    }

    // The exit status, or -1 when the simulator has not ended in time.
    int waitForExit()
    {
        const auto deadline = Clock::now() + Patience;
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    bool linkExists() const
    {
        struct stat st {};
        return ::lstat(link_.c_str(), &st) == 0;
    }

    std::string dir_;
    std::string link_;
    pid_t pid_ = -1;
    int out_ = -1;
};

class SimStopTest : public SimProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(SimStopTest, AnswersOnTheLinkAndRemovesItWhenStopped)
{
    startServing();
    const int fd = openLine();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "CR0\r", "80\r"), "80\r");
    ::close(fd);

    ASSERT_EQ(::kill(pid_, GetParam()), 0);
    const int status = waitForExit();
    ASSERT_NE(status, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_FALSE(linkExists());
}

INSTANTIATE_TEST_SUITE_P(Signals, SimStopTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& paramInfo) {
                             return std::string(paramInfo.param == SIGTERM  ? "Sigterm"
                                                : paramInfo.param == SIGINT ? "Sigint"
                                                                            : "Sighup");
                         });

TEST_F(SimProcessTest, KeepsServingWhenTheLineIsClosedAndOpenedAgain)
{
    startServing({"--warmup-ms", "0"});
    for (int round = 0; round < 3; ++round) {
        const int fd = openLine();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(exchange(fd, "C00\r", "\x06"), "\x06") << "round " << round;
        EXPECT_EQ(exchange(fd, "CR0\r", "00\r"), "00\r") << "round " << round;
        EXPECT_EQ(exchange(fd, "HELLO\r", "?\r"), "?\r") << "round " << round;
        ::close(fd);
    }
}

TEST_F(SimProcessTest, LeavesAFileThatIsNoLinkAlone)
{
    std::ofstream(link_) << "keep me";
    spawn({});
    const int status = waitForExit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    std::ifstream file(link_);
    std::string content;
    std::getline(file, content);
    EXPECT_EQ(content, "keep me");
}

// A recorded reply comes in its recorded pieces, at the recorded delays scaled by the speed; a
// line the record never sent gets the projector's own answer.
TEST_F(SimProcessTest, ReplaysARecordWithItsDelays)
{
    namespace record = qx200::record;
    using record::Event;
    const record::Time start = std::chrono::sys_days(std::chrono::December / 8 / 2026);
    std::string text(record::HeaderLine);
    for (const auto& [ms, event, bytes] :
         {std::tuple{0, Event::Sent, "CR0\r"}, std::tuple{400, Event::Received, "4"},
          std::tuple{800, Event::Received, "0\r"}})
        record::appendLine(text, start + std::chrono::milliseconds(ms), "COM1", "/dev/ttyS0", event,
                           bytes);
    const std::string path = dir_ + "/session.tsv";
    std::ofstream(path) << text;

    startServing({"--replay", path, "--replay-speed", "2"});
    const int fd = openLine();
    ASSERT_GE(fd, 0);
    const auto sent = Clock::now();
    EXPECT_EQ(exchange(fd, "CR0\r", "4"), "4");
    const auto first = Clock::now() - sent;
    EXPECT_EQ(readUntil(fd, "\r"), "0\r");
    const auto second = Clock::now() - sent;
    EXPECT_GE(first, 190ms);
    EXPECT_GE(second - first, 150ms);
    EXPECT_LT(second, 2s);
    EXPECT_EQ(exchange(fd, "HELLO\r", "?\r"), "?\r");
    ::close(fd);
    ::unlink(path.c_str());
}

} // namespace

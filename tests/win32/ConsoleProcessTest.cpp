#include "runtime/ConsoleProcess.h"
#include "Win32TestSupport.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/GbkDecoder.h"
#include "runtime/WideTextWin32.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the stand-in ping.exe prints, on standard output and then on standard error.
const std::string kReply = "来自 127.0.0.1 的回复: 字节=32 时间<1ms TTL=128\r\n";
const std::string kStatistics = "统计信息\r\n";

struct RunOutput {
    std::string bytes;
    // Decoded piece by piece, as the console page shows it.
    std::string text;
};

// The stand-in ping.exe lies beside the test program, where the system's search for programs looks first.
class Win32ConsoleProcess : public ::testing::Test {
protected:
    Win32ConsoleProcess() { SetVariable("TOLVAR_STANDIN_PING_RECORD", Record()); }

    std::string Record() const { return dir_.Path() + "\\command-line"; }

    std::string RecordedCommandLine() const {
        const Bytes bytes = ReadWholeFile(Record());
        return Win32::Utf8FromWide(
            std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)));
    }

    DWORD RecordedProcessId() const { return std::stoul(TextFromBytes(ReadWholeFile(Record() + ".pid"))); }

    // What the run prints until it ends, or until `enough` bytes have come.
    static RunOutput Read(ConsoleProcess& console, std::size_t enough = std::string::npos) {
        RunOutput output;
        Gbk::StreamDecoder decoder;
        for (const auto deadline = Clock::now() + 30s;
             !console.Ended() && output.bytes.size() < enough && Clock::now() < deadline;) {
            const std::string piece = console.Read(100ms);
            output.bytes += piece;
            output.text += decoder.Decode(piece);
        }
        output.text += decoder.Finish();
        return output;
    }

    TempDir dir_;
};

TEST_F(Win32ConsoleProcess, PingGetsTheTypedTextAsItIsAndWhatItPrintsComesBackWhole) {
    ASSERT_TRUE(std::filesystem::exists(BesideTest("ping.exe")));
    // Windows options, quotes, doubled blanks and Chinese reach ping untouched; an empty box still runs "ping ".
    for (const std::string typed : {"127.0.0.1", " \"127.0.0.1\"  -n 2 -w 500 -l 64", "", "本机 -a"}) {
        std::filesystem::remove(Record());
        ConsoleProcess console;
        ASSERT_TRUE(console.Start("ping", {typed}));
        const RunOutput output = Read(console);
        ASSERT_TRUE(console.Ended()) << typed;
        EXPECT_EQ(RecordedCommandLine(), "ping " + typed);
        // Standard output and standard error on the one pipe, the character cut between writes whole.
        EXPECT_EQ(output.bytes, Gbk::FromUtf8(kReply + kStatistics));
        EXPECT_EQ(output.text, kReply + kStatistics);
    }
}

TEST_F(Win32ConsoleProcess, StopEndsAPingThatRunsUntilStopped) {
    ConsoleProcess console;
    ASSERT_TRUE(console.Start("ping", {"127.0.0.1 -t"}));
    const std::string reply = Gbk::FromUtf8(kReply);
    const RunOutput output = Read(console, 2 * reply.size());
    ASSERT_FALSE(console.Ended());
    EXPECT_EQ(output.bytes.substr(0, reply.size()), reply);
    const DWORD pid = RecordedProcessId();

    console.Stop();
    EXPECT_TRUE(console.Ended());
    EXPECT_EQ(console.Read(0ms), "");
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    EXPECT_TRUE(process == nullptr || ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0);
    if (process != nullptr) {
        ::CloseHandle(process);
    }

    // A program that is not there gives the system's reason, and nothing runs.
    const Result<void> missing = console.Start("tolvar-no-such-program", {"127.0.0.1"});
    EXPECT_EQ(missing.Reason(), std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()));
    EXPECT_TRUE(console.Ended());
}

} // namespace

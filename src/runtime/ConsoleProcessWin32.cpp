#include "runtime/ConsoleProcess.h"

#include "runtime/HandleWin32.h"
#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <algorithm>
#include <windows.h>

using Win32::Handle;

namespace {

// The most one read takes; a console program's pipe rarely holds more than a few lines.
constexpr DWORD kReadSize = 64 * 1024;
// Between two looks at an empty pipe: anonymous pipes have no wait of their own.
constexpr DWORD kPollMillis = 10;
// A killed program is gone within moments; this only bounds the wait should the system be stuck.
constexpr DWORD kEndMillis = 2000;

// A job whose processes all end when its last handle is closed, so that neither the program nor anything it
// starts outlives this process, even one that ends without a chance to stop them. Null when there is none.
HANDLE KillOnCloseJob() {
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job.Valid() ||
        !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        return nullptr;
    }
    return job.Release();
}

} // namespace

struct ConsoleProcess::Run {
    Handle process;
    // Null when the program could not be put in one; then only the program itself is ended.
    Handle job;
    // The pipe's read end.
    Handle output;
};

ConsoleProcess::ConsoleProcess() = default;

ConsoleProcess::~ConsoleProcess() {
    Stop();
}

Result<void> ConsoleProcess::Begin(const std::string& program, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading = nullptr;
    HANDLE writing = nullptr;
    if (!::CreatePipe(&reading, &writing, &inherited, 0)) {
        return LastError();
    }
    auto run = std::make_unique<Run>();
    run->output.Reset(reading);
    // Once the child has it, the child and what it starts are the only writers, so the pipe breaks when they end.
    const Handle writeEnd(writing);
    // The child must not hold the end this process reads.
    if (!::SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0)) {
        return LastError();
    }
    run->job.Reset(KillOnCloseJob());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writing;
    startup.hStdError = writing;
    std::string commandLine = program;
    for (const std::string& argument : arguments) {
        commandLine += ' ' + argument;
    }
    std::wstring line = Win32::WideFromUtf8(commandLine);
    PROCESS_INFORMATION started{};
    // Held until it is in the job, so that nothing it starts can slip out of it.
    const DWORD flags = run->job.Valid() ? CREATE_SUSPENDED : 0;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &started)) {
        return LastError();
    }
    run->process.Reset(started.hProcess);
    const Handle thread(started.hThread);
    if (run->job.Valid()) {
        if (!::AssignProcessToJobObject(run->job.Get(), started.hProcess)) {
            run->job.Close();
        }
        ::ResumeThread(started.hThread);
    }
    run_ = std::move(run);
    return {};
}

std::string ConsoleProcess::Read(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (run_ != nullptr) {
        // Looked at before the pipe: once the program has ended, all it wrote is in the pipe already.
        const bool exited = ::WaitForSingleObject(run_->process.Get(), 0) == WAIT_OBJECT_0;
        DWORD available = 0;
        if (!::PeekNamedPipe(run_->output.Get(), nullptr, 0, nullptr, &available, nullptr)) {
            // Every writer has closed its end, so nothing more can come.
            Stop();
            break;
        }
        if (available > 0) {
            std::string bytes(std::min(available, kReadSize), '\0');
            DWORD got = 0;
            if (!::ReadFile(run_->output.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
                Stop();
                break;
            }
            bytes.resize(got);
            return bytes;
        }
        if (exited) {
            // Whatever the program left running ends with it.
            Stop();
            break;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        ::Sleep(std::min(kPollMillis, static_cast<DWORD>(left)));
    }
    return {};
}

bool ConsoleProcess::Ended() const {
    return run_ == nullptr;
}

void ConsoleProcess::Break() {
    // The program's hidden console is its own, so no console event from here can reach it.
}

void ConsoleProcess::Stop() {
    if (run_ == nullptr) {
        return;
    }
    // Also after a natural end: whatever the program started must not outlive the run.
    if (run_->job.Valid()) {
        ::TerminateJobObject(run_->job.Get(), 1);
    } else {
        ::TerminateProcess(run_->process.Get(), 1);
    }
    ::WaitForSingleObject(run_->process.Get(), kEndMillis);
    run_.reset();
}

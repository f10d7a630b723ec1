#include "support/ChildProcess.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

struct ChildProcess::State {
    HANDLE process = nullptr;
    HANDLE output = nullptr;  // read end of the child's standard output
    HANDLE input = nullptr;   // held, never written: its end tells the child we are gone
    std::string pending;      // bytes read past the last line handed out
};

namespace {

// One argument as the C runtime's command-line parser reads it back:
// quotes around it, backslashes doubled only where a quote follows them.
void appendQuoted(std::string& line, const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

void closeIfOpen(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

// A child inherits every handle that is inheritable while it is created.
// The pipe ends meant for one child are inheritable only inside this lock,
// so a child started at the same time on another thread cannot take them
// along and hold a pipe open that should have reached its end.
CRITICAL_SECTION& inheritLock()
{
    static CRITICAL_SECTION* section = [] {
        auto* made = new CRITICAL_SECTION;
        InitializeCriticalSection(made);
        return made;
    }();
    return *section;
}

bool spawnWithPipes(std::string& line, HANDLE input, HANDLE output, PROCESS_INFORMATION* started)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    EnterCriticalSection(&inheritLock());
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, started);
    LeaveCriticalSection(&inheritLock());
    return ok != 0;
}

}  // namespace

ChildProcess::ChildProcess() : state(new State) {}

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& arguments)
{
    if (arguments.empty() || state->process != nullptr)
        return false;
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty())
            line += ' ';
        appendQuoted(line, argument);
    }

    HANDLE inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, nullptr, 0))
        return false;
    HANDLE outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, nullptr, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return false;
    }
    PROCESS_INFORMATION started{};
    bool ok = spawnWithPipes(line, inRead, outWrite, &started);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!ok) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        return false;
    }
    CloseHandle(started.hThread);
    state->process = started.hProcess;
    state->input = inWrite;
    state->output = outRead;
    state->pending.clear();
    return true;
}

bool ChildProcess::readLine(std::string* line, uint32_t timeoutMilliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        size_t end = state->pending.find('\n');
        if (end != std::string::npos) {
            size_t length = end > 0 && state->pending[end - 1] == '\r' ? end - 1 : end;
            line->assign(state->pending, 0, length);
            state->pending.erase(0, end + 1);
            return true;
        }
        if (state->output == nullptr)
            return false;
        // Anonymous pipes cannot be waited on, so the wait peeks and sleeps.
        DWORD available = 0;
        if (!PeekNamedPipe(state->output, nullptr, 0, nullptr, &available, nullptr))
            return false;  // the writer closed its end
        if (available == 0) {
            if (GetTickCount() - start >= timeoutMilliseconds)
                return false;
            Sleep(5);
            continue;
        }
        char chunk[512];
        DWORD n = 0;
        if (!ReadFile(state->output, chunk, available < sizeof chunk ? available : sizeof chunk, &n, nullptr) || n == 0)
            return false;
        state->pending.append(chunk, n);
    }
}

void ChildProcess::stop()
{
    if (state->process != nullptr) {
        TerminateProcess(state->process, 1);
        WaitForSingleObject(state->process, INFINITE);
        closeIfOpen(state->process);
    }
    closeIfOpen(state->input);
    closeIfOpen(state->output);
}

bool ChildProcess::isRunning()
{
    if (state->process == nullptr)
        return false;
    if (WaitForSingleObject(state->process, 0) == WAIT_TIMEOUT)
        return true;
    closeIfOpen(state->process);
    return false;
}

#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

struct ChildProcess::State {
    pid_t pid = -1;
    int output = -1;
    int input = -1;  // held, never written: its end-of-file tells the child we are gone
    std::string pending;  // bytes read past the last line handed out
};

namespace {

int64_t monotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool spawnWithPipes(const std::vector<std::string>& arguments, int inputEnd, int outputEnd, pid_t* pid)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    // dup2 onto descriptors 0 and 1 clears close-on-exec for the child's
    // copies only; other children never inherit these pipes.
    bool ok = posix_spawn_file_actions_adddup2(&actions, inputEnd, STDIN_FILENO) == 0 &&
              posix_spawn_file_actions_adddup2(&actions, outputEnd, STDOUT_FILENO) == 0 &&
              posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return ok;
}

}  // namespace

ChildProcess::ChildProcess() : state(new State) {}

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string>& arguments)
{
    if (arguments.empty() || state->pid > 0)
        return false;
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    pid_t pid = -1;
    bool ok = spawnWithPipes(arguments, in[0], out[1], &pid);
    close(in[0]);
    close(out[1]);
    if (!ok) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    state->pid = pid;
    state->input = in[1];
    state->output = out[0];
    state->pending.clear();
    return true;
}

bool ChildProcess::readLine(std::string* line, uint32_t timeoutMilliseconds)
{
    int64_t deadline = monotonicMilliseconds() + timeoutMilliseconds;
    for (;;) {
        size_t end = state->pending.find('\n');
        if (end != std::string::npos) {
            line->assign(state->pending, 0, end);
            state->pending.erase(0, end + 1);
            return true;
        }
        if (state->output < 0)
            return false;
        int64_t left = deadline - monotonicMilliseconds();
        if (left <= 0)
            return false;
        pollfd wanted{state->output, POLLIN, 0};
        int ready = poll(&wanted, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[512];
        ssize_t n = read(state->output, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        state->pending.append(chunk, static_cast<size_t>(n));
    }
}

void ChildProcess::stop()
{
    if (state->pid > 0) {
        kill(state->pid, SIGTERM);
        while (waitpid(state->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        state->pid = -1;
    }
    for (int* end : {&state->input, &state->output}) {
        if (*end >= 0)
            close(*end);
        *end = -1;
    }
}

bool ChildProcess::isRunning()
{
    if (state->pid <= 0)
        return false;
    if (waitpid(state->pid, nullptr, WNOHANG) == 0)
        return true;
    state->pid = -1;  // reaped: the number may soon belong to another process
    return false;
}

#pragma once
// Runs the built lumora command as a user would: arguments, a private settings folder, its
// output and exit status, and signals sent to it while it runs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumora_cli_test {

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Result {
    std::string out;
    std::string err;
    int exitCode = -1;  // -1 when it ended by a signal
    int signal = 0;
};

// Where a command's standard output goes: a file, or a terminal (a pseudo-terminal whose output
// this process collects as it comes, so the command sees isatty() and never blocks on it).
enum class Output { kFile, kTerminal };

// One lumora process. Its output goes to files (or a terminal), so a test can read what it
// printed so far.
class Command {
public:
    Command(const std::filesystem::path& folder, const std::vector<std::string>& args,
            const std::vector<std::string>& environment = {}, Output output = Output::kFile)
        : out_(folder / ("out-" + std::to_string(++count_))),
          err_(folder / ("err-" + std::to_string(count_))) {
        if (output == Output::kTerminal && !OpenTerminal()) return;
        std::vector<std::string> argv = {LUMORA_COMMAND_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp;
        for (auto& a : argv) argp.push_back(a.data());
        argp.push_back(nullptr);
        // The test's environment without what would choose cameras or settings for lumora.
        // An entry given by the caller replaces the test's own.
        std::vector<std::string> env;
        const auto given = [&](const std::string& entry) {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            for (const auto& e : environment) {
                if (e.rfind(name, 0) == 0) return true;
            }
            return false;
        };
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("LUMORA_SIM_CAMERAS=", 0) == 0 ||
                entry.rfind("LUMORA_CONFIG_HOME=", 0) == 0 || given(entry)) {
                continue;
            }
            env.push_back(entry);
        }
        env.push_back("LUMORA_CONFIG_HOME=" + (folder / "config").string());
        env.push_back("LUMORA_SIM_STATIC=1");
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (terminal_ >= 0) {
            posix_spawn_file_actions_adddup2(&actions, terminalSide_, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Signals take their default actions in the command, whatever this process ignores.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        if (posix_spawn(&pid_, argp[0], &actions, &attributes, argp.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Command() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        CloseTerminal();
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    bool Started() const { return pid_ > 0; }
    std::string OutputSoFar() const {
        if (!onTerminal_) return ReadText(out_);
        std::lock_guard lock(terminalLock_);
        return terminalText_;
    }

    // Waits (polling, with a deadline generous for a loaded machine) until the output holds
    // `text`; false when the command ended or the deadline passed first.
    bool WaitForOutput(const std::string& text, std::chrono::seconds deadline) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            if (OutputSoFar().find(text) != std::string::npos) return true;
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                finished_ = status;
                pid_ = -1;
                return OutputSoFar().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void Signal(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }

    Result Wait() {
        int status = finished_;
        if (pid_ > 0) {
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        CloseTerminal();
        Result result;
        result.out = OutputSoFar();
        result.err = ReadText(err_);
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        return result;
    }

private:
    bool OpenTerminal() {
        onTerminal_ = true;
        terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0) return false;
        // This process holds the command's side open too, so the terminal outlives the command
        // until everything it wrote has been read.
        terminalSide_ = ::open(::ptsname(terminal_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminalSide_ < 0) return false;
        reader_ = std::thread([this] {
            char buffer[4096];
            for (;;) {
                pollfd fd{terminal_, POLLIN, 0};
                if (::poll(&fd, 1, 100) <= 0) {
                    if (readerStop_) return;
                    continue;
                }
                const ssize_t n = ::read(terminal_, buffer, sizeof buffer);
                if (n <= 0) return;
                std::lock_guard lock(terminalLock_);
                terminalText_.append(buffer, static_cast<size_t>(n));
            }
        });
        return true;
    }
    // After the command has ended: reads what is left, then closes the terminal.
    void CloseTerminal() {
        if (terminalSide_ >= 0) ::close(terminalSide_);
        terminalSide_ = -1;
        readerStop_ = true;
        if (reader_.joinable()) reader_.join();
        if (terminal_ >= 0) ::close(terminal_);
        terminal_ = -1;
    }

    static inline int count_ = 0;
    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    int finished_ = 0;
    bool onTerminal_ = false;
    int terminal_ = -1;      // the terminal's controlling side, read by reader_
    int terminalSide_ = -1;  // the command's side
    std::thread reader_;
    std::atomic<bool> readerStop_{false};
    mutable std::mutex terminalLock_;  // guards terminalText_
    std::string terminalText_;
};

inline Result RunLumora(const std::filesystem::path& folder, const std::vector<std::string>& args,
                        const std::vector<std::string>& environment = {}) {
    Command command(folder, args, environment);
    return command.Wait();
}

// Runs each argument list, a few at a time: a command spends most of its time waiting on the
// camera's start-up, so this saves the time, not the processor.
inline std::vector<Result> RunEach(const std::filesystem::path& folder,
                                   const std::vector<std::vector<std::string>>& argLists,
                                   size_t atOnce = 6) {
    std::vector<Result> results;
    for (size_t first = 0; first < argLists.size(); first += atOnce) {
        std::vector<std::unique_ptr<Command>> running;
        for (size_t i = first; i < std::min(first + atOnce, argLists.size()); ++i) {
            // Commands side by side each get a simulated bus of their own: a camera is claimed
            // by one process at a time, as on a real bus.
            const char* bus = std::getenv("LUMORA_SIM_BUS");
            const std::string own = "LUMORA_SIM_BUS=" + std::string(bus != nullptr ? bus : "cli") +
                                    "-each" + std::to_string(i);
            running.push_back(std::make_unique<Command>(folder, argLists[i],
                                                        std::vector<std::string>{own}));
        }
        for (auto& command : running) results.push_back(command->Wait());
    }
    return results;
}

}  // namespace lumora_cli_test

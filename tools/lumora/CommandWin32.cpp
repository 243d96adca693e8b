// The command's few system calls on Windows: Ctrl-C and Ctrl-Break (and a closing console) as
// the stop signals, process times, the console test and file replacement.
#include "Command.h"

#include <io.h>
#include <process.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace lumora_cli {

void CheckWritable(const std::string& path) {
    const auto parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    // Opened as it is (never truncated), and removed again only when this call created it.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool created = file != INVALID_HANDLE_VALUE;
    if (!created && ::GetLastError() == ERROR_FILE_EXISTS) {
        file = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        char reason[256] = "error";
        const DWORD code = ::GetLastError();
        const DWORD length =
            ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, reason, sizeof reason, nullptr);
        std::string text(reason, length);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
            text.pop_back();
        throw CommandError{"cannot write " + path + ": " + text};
    }
    ::CloseHandle(file);
    if (created) ::DeleteFileA(path.c_str());
}

double CpuSeconds() {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {
        const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;  // 100 ns units
    };
    return seconds(kernel) + seconds(user);
}

bool OutputIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

int ProcessId() {
    return ::_getpid();
}

bool RenameOver(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE) return true;
    errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

// ---- Stop signals ----

namespace {

// The console's control handler runs on a thread of its own: it records the event as the
// signal a POSIX shell would send and wakes whoever waits.
HANDLE gWake = nullptr;
std::atomic<int> gStopSignal{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            gStopSignal.store(SIGINT);
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            gStopSignal.store(SIGTERM);
            break;
        default:
            return FALSE;
    }
    ::SetEvent(gWake);
    return TRUE;
}

}  // namespace

StopSignals::StopSignals() {
    gWake = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (gWake == nullptr) throw CommandError{"cannot create the stop event"};
    gStopSignal.store(0);
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

StopSignals::~StopSignals() {
    ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    ::CloseHandle(gWake);
    gWake = nullptr;
}

bool StopSignals::Wait(int ms) {
    if (Stopped()) return true;
    ::WaitForSingleObject(gWake, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    return Stopped();
}

bool StopSignals::Stopped() const {
    return gStopSignal.load() != 0;
}

int StopSignals::Signal() const {
    return gStopSignal.load();
}

}  // namespace lumora_cli

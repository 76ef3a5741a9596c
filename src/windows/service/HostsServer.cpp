// The pipe server. Each connection gets its instance of the pipe and a thread; the next instance
// is made before a client is served, so a client arriving meanwhile finds one.
#include "windows/service/HostsServer.h"

// After windows.h, which HostsServer.h includes.
#include <sddl.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "core/hosts/HostsText.h"
#include "platform/hosts/HostsFileIO.h"
#include "platform/hosts/HostsService_win.h"
#include "platform/protection/ProtectionCheck.h"
#include "platform/settings/SettingsFileIO.h"

namespace {

// At most this many connections are served at once; more wait in the pipe's queue.
constexpr LONG kMaxConnections = 16;

std::mutex g_passes;  // one pass over the hosts file at a time

HostsResult Status(const std::string& path) {
    HostsResult result;
    const HostsRead read = ReadHostsText(path);
    if (read.status == ReadStatus::Missing) {
        result.blockLeft = false;
        return result;
    }
    result.outcome =
        read.status == ReadStatus::Ok ? HostsOutcome::Unchanged : HostsOutcome::Unreadable;
    result.hidden = ContainsAdLabel(read.text);
    return result;
}

// The settings lines, read from the installed file only when the block is to be written.
SettingsSource InstalledSettings(const std::string& settingsPath, std::string* why) {
    return [settingsPath, why]() -> std::optional<std::vector<std::string>> {
        bool missing = false;
        std::optional<std::vector<std::string>> lines = ReadBlockLines(why, settingsPath, &missing);
        if (missing) return std::vector<std::string>();  // no list: nothing to hide with
        return lines;
    };
}

// One overlapped transfer given up after `ms`: the bytes moved, or -1.
long Transfer(HANDLE pipe, bool write, void* buffer, DWORD size, DWORD ms) {
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return -1;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    BOOL done = write ? ::WriteFile(pipe, buffer, size, nullptr, &overlapped)
                      : ::ReadFile(pipe, buffer, size, nullptr, &overlapped);
    if (!done && ::GetLastError() == ERROR_IO_PENDING) {
        if (::WaitForSingleObject(event, ms) != WAIT_OBJECT_0) ::CancelIoEx(pipe, &overlapped);
        done = TRUE;
    }
    DWORD moved = 0;
    const bool ok = done && ::GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    ::CloseHandle(event);
    return ok ? static_cast<long>(moved) : -1;
}

// Reads one request within the time limit: the request with its LF, or "" when the client sent
// too much, something without an LF, or nothing in time.
std::string ReadRequest(HANDLE pipe, bool* tooLong) {
    std::string request;
    char buffer[kServiceMaxRequest + 1];
    const ULONGLONG deadline = ::GetTickCount64() + kServiceRequestWaitMs;
    while (request.find('\n') == std::string::npos) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return {};
        const long got = Transfer(pipe, false, buffer, sizeof buffer - request.size(),
                                  static_cast<DWORD>(deadline - now));
        if (got <= 0) return {};
        request.append(buffer, static_cast<std::size_t>(got));
        if (request.size() > kServiceMaxRequest) {
            *tooLong = true;
            return {};
        }
    }
    return request;
}

void Serve(HANDLE pipe, const std::string& settingsPath) {
    bool tooLong = false;
    const std::string request = ReadRequest(pipe, &tooLong);
    std::string reply;
    if (request == kServiceHide || request == kServiceShow || request == kServiceStatus) {
        reply = AnswerHostsRequest(std::string_view(request).substr(0, request.size() - 1),
                                   settingsPath);
    } else if (!request.empty() || tooLong) {
        reply = std::string(kServiceRefusedText) + "\n";
    }
    if (!reply.empty())
        Transfer(pipe, true, reply.data(), static_cast<DWORD>(reply.size()), kServiceRequestWaitMs);
    // Closed, not disconnected: the client still reads what is in the pipe, then its end.
    ::CloseHandle(pipe);
}

HANDLE MakeInstance(SECURITY_ATTRIBUTES* security, bool first) {
    return ::CreateNamedPipeW(
        kHostsPipeName,
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, static_cast<DWORD>(kServiceMaxReply),
        static_cast<DWORD>(kServiceMaxRequest + 1), 0, security);
}

// Waits for a client on the instance; false when `stop` came first or the wait failed.
bool AwaitClient(HANDLE pipe, HANDLE stop) {
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    bool connected = false;
    if (::ConnectNamedPipe(pipe, &overlapped)) {
        connected = true;
    } else if (::GetLastError() == ERROR_PIPE_CONNECTED) {
        connected = true;
    } else if (::GetLastError() == ERROR_IO_PENDING) {
        const HANDLE waits[] = {event, stop};
        DWORD ignored = 0;
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            connected = ::GetOverlappedResult(pipe, &overlapped, &ignored, FALSE) != 0;
        } else {
            ::CancelIoEx(pipe, &overlapped);
            ::GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        }
    }
    ::CloseHandle(event);
    return connected;
}

}  // namespace

std::string AnswerHostsRequest(std::string_view request, const std::string& settingsPath) {
    const std::string path = DefaultHostsPath();
    if (request == "status") return ServiceReply(Status(path));
    const HostsIntent intent = request == "hide" ? HostsIntent::Hide : HostsIntent::Show;
    std::string why;
    HostsResult result;
    {
        const std::lock_guard<std::mutex> lock(g_passes);
        result = ApplyIntentAt(path, intent, InstalledSettings(settingsPath, &why));
    }
    if (result.outcome == HostsOutcome::BadSettings) result.sentence = why;
    // The DNS Client service answers from the file again, not from what it cached before.
    if (result.changed || result.outcome == HostsOutcome::Written) InvalidateHostsCache();
    return ServiceReply(result);
}

bool ServeHostsPipe(HANDLE stop, const std::string& settingsPath,
                    const std::function<void()>& ready) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kHostsPipeSddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    // The first instance only if no other process holds the name.
    HANDLE pipe = MakeInstance(&security, true);
    if (pipe == INVALID_HANDLE_VALUE) {
        ::LocalFree(descriptor);
        return false;
    }
    ready();
    // Shared with the connections' threads, which may outlive this function's last wait.
    struct Connections {
        std::mutex mutex;
        std::condition_variable changed;
        LONG serving = 0;
    };
    const auto connections = std::make_shared<Connections>();
    for (;;) {
        if (pipe == INVALID_HANDLE_VALUE) {
            // No instance could be made: tried again a second later.
            if (::WaitForSingleObject(stop, 1000) == WAIT_OBJECT_0) break;
            pipe = MakeInstance(&security, false);
            continue;
        }
        if (!AwaitClient(pipe, stop)) {
            if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
                ::CloseHandle(pipe);
                break;
            }
            // A client that left at once: the next instance is made before this one goes, so
            // the name never lapses for another process to take.
            const HANDLE next = MakeInstance(&security, false);
            ::CloseHandle(pipe);
            pipe = next;
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(connections->mutex);
            connections->changed.wait(lock, [&] { return connections->serving < kMaxConnections; });
            ++connections->serving;
        }
        const HANDLE client = pipe;
        pipe = MakeInstance(&security, false);
        std::thread([client, settingsPath, connections] {
            Serve(client, settingsPath);
            const std::lock_guard<std::mutex> lock(connections->mutex);
            --connections->serving;
            connections->changed.notify_all();
        }).detach();
    }
    {
        std::unique_lock<std::mutex> lock(connections->mutex);
        connections->changed.wait(lock, [&] { return connections->serving == 0; });
    }
    ::LocalFree(descriptor);
    return true;
}

// The window's side of the hosts file service's pipe, and the reply both sides read and write.
#include "platform/hosts/HostsService_win.h"

#include "platform/hosts/HelperProtocol.h"

namespace {

// A handle closed when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() {
        if (m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr) ::CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }
    void reset(HANDLE handle) {
        Handle old(m_handle);
        m_handle = handle;
    }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }

private:
    HANDLE m_handle;
};

HostsResult NoService() {
    HostsResult result;
    result.outcome = HostsOutcome::NoService;
    result.sentence = kServiceMissingText;
    return result;
}

// One overlapped read or write on the pipe, given up after `ms`; the bytes moved, or -1.
long Transfer(HANDLE pipe, bool write, void* buffer, DWORD size, DWORD ms) {
    Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return -1;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const BOOL done = write ? ::WriteFile(pipe, buffer, size, nullptr, &overlapped)
                            : ::ReadFile(pipe, buffer, size, nullptr, &overlapped);
    if (!done && ::GetLastError() != ERROR_IO_PENDING) return -1;
    if (!done && ::WaitForSingleObject(event.get(), ms) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipe, &overlapped);
        DWORD ignored = 0;
        ::GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        return -1;
    }
    DWORD moved = 0;
    if (!::GetOverlappedResult(pipe, &overlapped, &moved, FALSE)) return -1;
    return static_cast<long>(moved);
}

}  // namespace

std::string ServiceReply(const HostsResult& result) {
    std::string sentence = result.sentence;
    if (sentence.empty() && !result.Done() && result.outcome != HostsOutcome::Missing)
        sentence = "The hosts file could not be read or written, so it was not changed.";
    for (char& c : sentence) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return (sentence.empty() ? std::string() : sentence + "\n") + HelperReportLine(result);
}

std::optional<HostsResult> ParseServiceReply(std::string_view reply) {
    std::optional<HostsResult> result = ParseHelperReport(reply);
    if (!result) return std::nullopt;
    reply.remove_suffix(1);
    const std::size_t last = reply.rfind('\n');
    if (last == std::string_view::npos) return result;
    result->sentence = std::string(reply.substr(0, last));
    if (result->sentence.find('\n') != std::string::npos) return std::nullopt;
    // A sentence with a plain report: the pass failed without a refusal of its own.
    if (result->Done()) result->outcome = HostsOutcome::WriteFailed;
    return result;
}

DWORD HostsServiceProcessId() {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return 0;
    DWORD pid = 0;
    if (const SC_HANDLE service =
            ::OpenServiceW(manager, kHostsServiceName, SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                   reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
            status.dwCurrentState == SERVICE_RUNNING) {
            pid = status.dwProcessId;
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return pid;
}

HostsResult AskHostsService(std::string_view request) {
    const DWORD servicePid = HostsServiceProcessId();
    if (servicePid == 0) return NoService();
    // Read and write the data, nothing more (no further instances); the server may identify this
    // process but not act as it.
    Handle pipe;
    for (int attempt = 0; attempt < 5; ++attempt) {
        pipe.reset(::CreateFileW(
            kHostsPipeName, GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe.valid()) break;
        if (::GetLastError() != ERROR_PIPE_BUSY || !::WaitNamedPipeW(kHostsPipeName, 2000)) break;
    }
    if (!pipe.valid()) return NoService();
    // Only the service's own process may answer: a program that took the pipe's name first
    // cannot pass for it.
    ULONG serverPid = 0;
    if (!::GetNamedPipeServerProcessId(pipe.get(), &serverPid) || serverPid != servicePid)
        return NoService();
    std::string data(request);
    if (Transfer(pipe.get(), true, data.data(), static_cast<DWORD>(data.size()),
                 kServiceRequestWaitMs) != static_cast<long>(data.size()))
        return NoService();
    std::string reply;
    char buffer[512];
    const ULONGLONG deadline = ::GetTickCount64() + kServiceReplyWaitMs;
    while (reply.size() <= kServiceMaxReply) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) break;
        const long got =
            Transfer(pipe.get(), false, buffer, sizeof buffer, static_cast<DWORD>(deadline - now));
        if (got <= 0) break;  // the service closed its end after the reply
        reply.append(buffer, static_cast<std::size_t>(got));
    }
    std::optional<HostsResult> result = ParseServiceReply(reply);
    if (!result) {
        HostsResult failed;
        failed.outcome = HostsOutcome::WriteFailed;
        failed.sentence = kServiceBadReplyText;
        return failed;
    }
    return *result;
}

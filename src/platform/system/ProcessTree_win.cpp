// A job object holds the program and whatever it starts; its completion port says when the last
// of them has ended.
#include "platform/system/ProcessTree_win.h"

#include <windows.h>

namespace {

struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

}  // namespace

std::wstring QuoteForCommandLine(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

ProcessTreeRun RunProcessTree(const std::wstring& commandLine, const std::wstring& workingDir) {
    ProcessTreeRun run;
    Handle job{::CreateJobObjectW(nullptr, nullptr)};
    Handle port{::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)};
    bool bWatched = false;
    if (job.h != nullptr && port.h != nullptr) {
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT link{};
        link.CompletionKey = job.h;
        link.CompletionPort = port.h;
        bWatched = ::SetInformationJobObject(job.h, JobObjectAssociateCompletionPortInformation,
                                             &link, sizeof link) != 0;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    // Suspended until it is in the job, so nothing it starts can escape the wait.
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                          workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process)) {
        return run;
    }
    run.bStarted = true;
    Handle processHandle{process.hProcess};
    Handle threadHandle{process.hThread};
    if (bWatched && !::AssignProcessToJobObject(job.h, process.hProcess)) bWatched = false;
    ::ResumeThread(process.hThread);

    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    if (!bWatched) return run;
    // The job's other processes: wait for the message that none is left.
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (::QueryInformationJobObject(job.h, JobObjectBasicAccountingInformation, &info,
                                        sizeof info, nullptr) &&
            info.ActiveProcesses == 0)
            break;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        if (!::GetQueuedCompletionStatus(port.h, &message, &key, &overlapped, INFINITE)) break;
        if (key == reinterpret_cast<ULONG_PTR>(job.h) &&
            message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
            break;
    }
    return run;
}

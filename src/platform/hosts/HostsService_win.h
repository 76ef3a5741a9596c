// What the program and its hosts file service (src/windows/service) say to each other over the
// service's named pipe: the names, the requests and their bound, the reply, and the window's side
// of a request. The service runs as LocalSystem and writes the hosts file; the window, which runs
// as the user, asks it to hide or show and never sends lines of its own: the service builds the
// block from the settings file in its own (the installation's) folder.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/hosts/HostsResult.h"

inline constexpr const wchar_t* kHostsServiceName = L"VantrelHosts";
inline constexpr const wchar_t* kHostsServiceDisplayName = L"Vantrel hosts file service";
inline constexpr const wchar_t* kHostsServiceProgram = L"vantrel-service.exe";
inline constexpr const wchar_t* kHostsPipeName = L"\\\\.\\pipe\\VantrelHosts";

// The requests, one per connection, each ended by LF.
inline constexpr std::string_view kServiceHide = "hide\n";
inline constexpr std::string_view kServiceShow = "show\n";
inline constexpr std::string_view kServiceStatus = "status\n";
// More than any request: a client that sends this much is refused without another read.
inline constexpr std::size_t kServiceMaxRequest = 32;
// How long the service waits for a request, and the window for the reply (a pass may wait
// kHostsLockWaitSeconds for the lock).
inline constexpr DWORD kServiceRequestWaitMs = 5000;
inline constexpr DWORD kServiceReplyWaitMs = (kHostsLockWaitSeconds + 20) * 1000;
// The most a reply holds: a sentence line and the report line.
inline constexpr std::size_t kServiceMaxReply = 4096;

// The pipe's access list: SYSTEM and administrators in full, interactive users may read and
// write but not make instances of their own (0x12019b is FILE_GENERIC_READ | FILE_GENERIC_WRITE
// without FILE_CREATE_PIPE_INSTANCE); nobody else, and nothing inherited.
inline constexpr const wchar_t* kHostsPipeSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12019b;;;IU)";

// The sentence for a request the service does not take (its whole reply, with an LF).
inline constexpr const char* kServiceRefusedText =
    "Vantrel's hosts file service takes only \"hide\", \"show\" or \"status\".";
// Told when the window could not reach the service; the window offers to repair.
inline constexpr const char* kServiceMissingText =
    "Vantrel's hosts file service is not running, so the hosts file was not changed.";
inline constexpr const char* kServiceRepairQuestion =
    "Repair the installation now? Windows asks for an administrator's permission.";
// Told when the repair did not get the service running.
inline constexpr const char* kServiceRepairFailedText =
    "Vantrel's hosts file service could not be started. Please install Vantrel again.";
// Told when the service answered something else than its reply.
inline constexpr const char* kServiceBadReplyText =
    "Vantrel's hosts file service gave no usable answer, so the hosts file may not have been "
    "changed.";

// The service's reply to a pass: the sentence (when there is one) on a line of its own, then the
// report line of HelperProtocol.h.
std::string ServiceReply(const HostsResult& result);
// The reply read back; nullopt when it is not one.
std::optional<HostsResult> ParseServiceReply(std::string_view reply);

// The running service's process id; 0 when it is not installed or not running.
DWORD HostsServiceProcessId();

// From now on this process writes the system's hosts file itself ("-uninstall", which the
// elevated uninstaller runs): nothing else takes the file away from the service.
void WriteHostsDirectly();

// One request to the service, as the window makes it: the pipe's server must be the service's
// own process (a program that took the pipe's name cannot answer in its place). The outcome is
// Missing with kServiceMissingText when the service could not be reached.
HostsResult AskHostsService(std::string_view request);

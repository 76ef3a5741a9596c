// The hosts file service's pipe server: one request per connection, each connection on a thread
// of its own with its own time limit, the passes over the hosts file one at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

// The pass for one request ("hide", "show" or "status", without its LF) on the system's hosts
// file, the block built from the settings file `settingsPath`: the reply line(s) to send.
std::string AnswerHostsRequest(std::string_view request, const std::string& settingsPath);

// Serves the pipe until `stop` is signalled, then waits for the connections being served;
// `ready` is called once the pipe is there. False at once when the pipe could not be made
// (another process holds its name).
bool ServeHostsPipe(HANDLE stop, const std::string& settingsPath,
                    const std::function<void()>& ready);

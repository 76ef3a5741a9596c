// The folder the program file lies in: the installation folder, which only administrators can
// change. The program runs elevated, so it takes its files from there and from nowhere its caller
// chose (the working folder it was started in, for one).
#pragma once

#include <string>

// The folder of the running program, without a trailing backslash (except at a drive's root);
// "" when the system does not say.
std::wstring ProgramFolder();

// Makes ProgramFolder() the working folder, so that the settings file resolves there, and lets
// the libraries loaded by name at run time come from the system folder only. False when the
// folder cannot be had.
bool EnterProgramFolder();

// What the command needs from the operating system, one implementation per
// system (system_posix.cpp, system_win32.cpp): arguments and paths as text,
// the terminal, the byte trace, Ctrl-C and port names. Paths, the host name
// and error texts come from platform/system_text.h.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/system_text.h"

// The command-line arguments as UTF-8, the program name first.
std::vector<std::string> commandArguments(int argc, char** argv);

// True when standard error is an interactive terminal that can redraw lines in place.
bool errorStreamIsTerminal();

// The width in columns of the terminal standard error shows in; 80 when it cannot tell.
int errorStreamColumns();

// While set, the port's byte trace, where it would be written to standard
// error, goes to `sink` instead, one line at a time without its line end;
// nullptr writes it to standard error again. A trace that is off, or that goes
// elsewhere (the debugger output on Windows), stays as it is.
using TraceSink = void (*)(const std::string& line, void* context);
void divertErrorStreamTrace(TraceSink sink, void* context);

// From now on Ctrl-C sets `flag` instead of ending the process. A hang-up, a
// termination request and (on Windows) the console's close, logoff and
// shutdown set `hangUp`, or `flag` when it is null. A closed output pipe no
// longer ends the process: writes to it fail instead.
void setOnInterrupt(std::atomic<bool>& flag, std::atomic<bool>* hangUp = nullptr);

// The program's results are out; main calls it last, on every path. Closing
// the console window on Windows sets the interrupt flag and then waits for
// this (a few seconds at most), since the system ends the process as soon as
// it may.
void interruptHandled();

// Why `port` cannot be used as a --port name as things stand, or an empty text
// when it can be tried.
std::string portNameProblem(const std::string& port);

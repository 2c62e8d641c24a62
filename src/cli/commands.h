#pragma once
// The sub-commands of vellumcast-cli. Each takes the arguments after its own
// name and returns the process's exit code.

class TThreadVellumcast;

int RunIndexCommand(int argc, char** argv);
// Reads the arguments of "index" into the worker's options and `*folder`
// (null when none is given), writing no file. -1 when they are sound;
// otherwise the exit code: 0 after --help, 2 for a usage error (its message
// on stderr).
int ParseIndexArguments(int argc, char** argv, TThreadVellumcast& worker, const char** folder);
int RunCleanCommand(int argc, char** argv);
int RunDecodeCommand(int argc, char** argv);
void PrintUsage(bool to_stderr);

#pragma once
// The sub-commands of vellumcast-cli. Each takes the arguments after its own
// name and returns the process's exit code.

#include <cstdio>

int RunIndexCommand(int argc, char** argv);
int RunCleanCommand(int argc, char** argv);
int RunDecodeCommand(int argc, char** argv);
int RunThemeCommand(int argc, char** argv);
void PrintUsage(bool to_stderr);
void PrintVersion();

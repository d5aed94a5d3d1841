// One pass over the options of a console program of this project (the provider stand-in, the
// benchmark): --help, flags, and options followed by a value, with one way to say what is wrong.
#pragma once

#include <functional>
#include <string>

// What an option handler answers.
enum class OptionResult { Ok, BadValue, Unknown };

// `flag` answers true for a flag it took; `valued` takes an option and its value. Returns 0 when
// every option was taken, 1 after printing `help` for --help, 2 (said on stderr) otherwise.
int ParseConsoleOptions(int argc, wchar_t** argv, const char* program, const char* help,
                        const std::function<bool(const std::wstring&)>& flag,
                        const std::function<OptionResult(const std::wstring&, const std::wstring&)>& valued);

// Says a problem of the command line on stderr; returns 2, the exit code of a bad command line.
int ConsoleUsage(const char* program, const std::string& problem);

// Subcommands of quibrel-tlb register themselves here, one source file each.
#pragma once

#include <string>
#include <vector>

class QString;

struct CliCommand {
    const char* name;
    const char* usage;  // arguments, for the usage text
    // Returns the exit status; 2 for a usage error.
    int (*run)(const std::vector<std::string>& args);
    const char* summary = nullptr;  // one line for --help
};

struct CliRegistrar {
    explicit CliRegistrar(const CliCommand& command);
};

const std::vector<CliCommand>& CliCommands();

// A field of a tab-separated output line: control characters escaped as in the dump's quoted
// text (\t, \n, \r, others \xHH) so that each record stays one line; a backslash stays as it
// is, since paths are full of them.
std::string OneLineField(const QString& text);

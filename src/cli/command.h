// Subcommands of quibrel-tlb register themselves here, one source file each.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class QString;

struct CliCommand {
    const char* name;
    // Arguments, for the usage text. The options it names ("[--output PATH]", "[--json]") are
    // the ones the command accepts: a capitalised word after one is its value.
    const char* usage;
    // Returns the exit status; 2 for a usage error.
    int (*run)(const std::vector<std::string>& args);
    const char* summary = nullptr;  // one line for --help
};

struct CliRegistrar {
    explicit CliRegistrar(const CliCommand& command);
};

const std::vector<CliCommand>& CliCommands();

// Writes to standard output; false when it did not take it all. The reason of the first
// failure is kept for the message the command ends with.
bool CliWrite(const void* data, std::size_t size);
// Keeps the reason (an errno value) of a write to standard output that failed elsewhere.
void CliWriteFailed(int error);

// An option a usage line names.
struct CliOption {
    std::string name;  // "--output"
    bool takesValue = false;
};
std::vector<CliOption> CliOptionsOf(const char* usage);

// A command's arguments split by its usage line: options (each with its value, if it takes
// one) and operands; everything after "--" is an operand. False, with a message on standard
// error, for an option without its value or one given twice.
struct CliArgs {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> operands;
    bool Has(const std::string& name) const;
    // The value of the option, or nullptr.
    const std::string* Value(const std::string& name) const;
};
bool ParseCliArgs(const char* command, const char* usage, const std::vector<std::string>& args, CliArgs* out);

// A field of a tab-separated output line: control characters escaped as in the dump's quoted
// text (\t, \n, \r, others \xHH) so that each record stays one line; a backslash stays as it
// is, since paths are full of them.
// A byte of a file name that is not UTF-8 is written as \xHH, so the field stays UTF-8.
std::string OneLineField(const QString& text);
// The text as UTF-8 with only those bytes of file names written as \xHH.
std::string EscapedBytesAsText(const QString& text);

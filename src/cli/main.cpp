// quibrel-tlb: the browser's machinery for scripts and tests.
//
// What every command gets here, from its usage line alone: "help COMMAND" and
// "COMMAND --help" print its usage; an option its usage does not name is refused by name;
// "--" ends the options; and output that could not be written fails the command.
#include "cli/command.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

static std::vector<CliCommand>& Registry() {
    static std::vector<CliCommand> commands;
    return commands;
}

CliRegistrar::CliRegistrar(const CliCommand& command) { Registry().push_back(command); }

const std::vector<CliCommand>& CliCommands() { return Registry(); }

// The command lines; with summaries, the --help text.
static void PrintUsage(std::FILE* out, bool summaries) {
    std::fprintf(out, "usage: quibrel-tlb COMMAND ARGS...\n");
    for (const CliCommand& c : CliCommands()) {
        std::fprintf(out, "  %s%s%s\n", c.name, *c.usage ? " " : "", c.usage);
        if (summaries && c.summary) std::fprintf(out, "      %s\n", c.summary);
    }
    if (!summaries) return;
    std::fprintf(out,
                 "  help [COMMAND] | --help | --version\n"
                 "\n"
                 "FILE is a .tlb, or a .dll/.ocx/.exe/.olb carrying a TYPELIB resource ('file.dll\\2' picks\n"
                 "the second). \"quibrel-tlb COMMAND --help\" shows one command; \"--\" ends the options.\n"
                 "The output formats are described in quibrel-tlb(1). Usage errors exit 2.\n");
}

static int Usage() {
    PrintUsage(stderr, false);
    return 2;
}

static void PrintCommandUsage(std::FILE* out, const CliCommand& c) {
    std::fprintf(out, "usage: quibrel-tlb %s%s%s\n", c.name, *c.usage ? " " : "", c.usage);
    if (c.summary && out == stdout) std::fprintf(out, "  %s\n", c.summary);
}

static const CliCommand* FindCommand(const char* name) {
    for (const CliCommand& c : CliCommands())
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

std::vector<CliOption> CliOptionsOf(const char* usage) {
    std::vector<CliOption> options;
    const std::string text = usage ? usage : "";
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
        if (end == at + 2) continue;
        // An option followed by a word in capitals takes that value.
        const bool value = end + 1 < text.size() && text[end] == ' ' && std::isupper(static_cast<unsigned char>(text[end + 1]));
        options.push_back({text.substr(at, end - at), value});
        at = end - 2;
    }
    return options;
}

bool CliArgs::Has(const std::string& name) const { return Value(name) != nullptr; }

const std::string* CliArgs::Value(const std::string& name) const {
    for (const auto& [option, value] : options)
        if (option == name) return &value;
    return nullptr;
}

bool ParseCliArgs(const char* command, const char* usage, const std::vector<std::string>& args, CliArgs* out) {
    *out = CliArgs();
    const std::vector<CliOption> known = CliOptionsOf(usage);
    bool operandsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (operandsOnly || a.size() < 2 || a[0] != '-') {
            out->operands.push_back(a);
            continue;
        }
        if (a == "--") {
            operandsOnly = true;
            continue;
        }
        const CliOption* option = nullptr;
        for (const CliOption& o : known)
            if (o.name == a) option = &o;
        if (!option) {
            std::fprintf(stderr, "quibrel-tlb %s: unknown option %s\n", command, a.c_str());
            return false;
        }
        if (option->takesValue && out->Has(a)) {
            std::fprintf(stderr, "quibrel-tlb %s: %s given twice\n", command, a.c_str());
            return false;
        }
        if (option->takesValue && i + 1 >= args.size()) {
            std::fprintf(stderr, "quibrel-tlb %s: %s needs a value\n", command, a.c_str());
            return false;
        }
        out->options.emplace_back(a, option->takesValue ? args[++i] : std::string());
    }
    return true;
}

// Checks the options against the usage line: --help, unknown options. Returns -1 to run the
// command, else the exit status. "--" is dropped when no argument after it looks like an
// option; otherwise it is left for the command, which takes what follows as operands.
static int CheckOptions(const CliCommand& c, std::vector<std::string>* args) {
    const std::vector<CliOption> known = CliOptionsOf(c.usage);
    for (std::size_t i = 0; i < args->size(); ++i) {
        const std::string& a = (*args)[i];
        if (a == "--") {
            bool dashed = false;
            for (std::size_t j = i + 1; j < args->size(); ++j) dashed = dashed || (*args)[j].rfind('-', 0) == 0;
            if (!dashed) args->erase(args->begin() + std::ptrdiff_t(i));
            return -1;
        }
        if (a == "--help" || a == "-h") {
            PrintCommandUsage(stdout, c);
            return 0;
        }
        if (a.size() < 2 || a[0] != '-') continue;
        const CliOption* option = nullptr;
        for (const CliOption& o : known)
            if (o.name == a) option = &o;
        if (!option) {
            std::fprintf(stderr, "quibrel-tlb %s: unknown option %s\n", c.name, a.c_str());
            PrintCommandUsage(stderr, c);
            return 2;
        }
        if (option->takesValue) ++i;  // the value may look like anything
    }
    return -1;
}

static int g_writeError = 0;

void CliWriteFailed(int error) {
    if (!g_writeError) g_writeError = error;
}

bool CliWrite(const void* data, std::size_t size) {
    if (std::fwrite(data, 1, size, stdout) == size) return true;
    CliWriteFailed(errno);
    return false;
}

// Standard output written whole, or the command fails.
static int CheckOutput(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout)) return status;
    // The reason of the first write that failed, else of the flush.
    const int reason = g_writeError ? g_writeError : errno;
    std::fprintf(stderr, "quibrel-tlb: cannot write the output: %s\n", reason ? std::strerror(reason) : "write error");
    return status == 0 ? 1 : status;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
        (std::strcmp(first, "help") == 0 && argc == 2)) {
        PrintUsage(stdout, true);
        return CheckOutput(0);
    }
    if (std::strcmp(first, "help") == 0) {
        const CliCommand* c = FindCommand(argv[2]);
        if (!c || argc > 3) {
            std::fprintf(stderr, "quibrel-tlb help: unknown command '%s'\n", argv[2]);
            return Usage();
        }
        PrintCommandUsage(stdout, *c);
        return CheckOutput(0);
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("quibrel-tlb %s\n", QUIBREL_VERSION);
        return CheckOutput(0);
    }
    if (const CliCommand* c = FindCommand(first)) {
        std::vector<std::string> args(argv + 2, argv + argc);
        const int checked = CheckOptions(*c, &args);
        if (checked >= 0) return checked == 0 ? CheckOutput(0) : checked;
        return CheckOutput(c->run(args));
    }
    if (first[0] == '-') std::fprintf(stderr, "quibrel-tlb: unknown option %s\n", first);
    else std::fprintf(stderr, "quibrel-tlb: unknown command '%s'\n", first);
    return Usage();
}

// quibrel-tlb idl: the library, or some of its types, as IDL.
#include "writers/idl.h"
#include "cli/typewriter.h"

namespace {

int RunIdl(const std::vector<std::string>& args) { return RunTypeWriter<TIdlWriter>("idl", args); }

const CliRegistrar registrar({"idl", kTypeWriterUsage, RunIdl,
                              "the library, or the named types, as IDL that widl compiles back"});

}  // namespace

// quibrel-tlb header: the library, or some of its types, as a C/C++ header.
#include "writers/header.h"
#include "cli/typewriter.h"

namespace {

int RunHeader(const std::vector<std::string>& args) { return RunTypeWriter<THeaderWriter>("header", args); }

const CliRegistrar registrar({"header", kTypeWriterUsage, RunHeader,
                              "the library, or the named types, as a C/C++ header with vtable slots"});

}  // namespace

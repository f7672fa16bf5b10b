// Type libraries that ship with the program (share/quibrel/), for imports that neither the
// registry nor the importing file's folder can supply: on a system without Windows or Wine,
// the OLE Automation library that nearly every library imports.
#pragma once

#include "platform/oleauto/oleauto.h"

#include <string>
#include <vector>

// The shipped library that stands for (guid, major.minor) as the registry would (same major
// version, at least that minor version), as a host path; empty when none ships or it is missing.
std::string BundledLibraryFile(const GUID& guid, WORD major, WORD minor);
// Where the shipped libraries are: $QUIBREL_DATA_DIR when set, else share/quibrel beside the
// program's folder (the installed tree, or the build tree), else the installation's folder.
std::string BundledDataDir();

// An import of a library that none of the places above supplied: its types show as unknown.
struct MissingImport {
    std::string recordedName;  // the file name the importer recorded (UTF-8)
    GUID guid{};
    WORD major = 0, minor = 0;
};
// The direct imports of the library that were not found, in the library's order.
std::vector<MissingImport> MissingImports(ITypeLib* lib);
// "FILE imports LIBRARY {GUID} MAJ.MIN, which was not found; its types show as ?"
std::string MissingImportText(const std::string& file, const MissingImport& import);

// diff_mutant IN OUT: writes the changed copy of an MSFT library the diff benchmark compares.
#include "mutant.h"

#include <cstdio>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: diff_mutant IN OUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    mutant::Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!mutant::Mutate(b)) {
        std::fprintf(stderr, "diff_mutant: %s is not an MSFT library\n", argv[1]);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return out ? 0 : 1;
}

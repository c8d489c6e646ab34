// A program that archives results one after the other and says so: "kept <id>" on standard
// output, flushed, once Add has returned. The fault tests run two at once on one file and
// kill it at random moments.
//   archive-test-writer PATH COUNT SPECIMEN      (COUNT 0: until killed)
#include "results.h"

#include <cstdio>
#include <cstdlib>

using namespace dielmon::archive;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: archive-test-writer PATH COUNT SPECIMEN\n");
        return 2;
    }
    Opened opened = Archive::Open(argv[1]);
    if (!opened.Store) {
        std::printf("error %s\n", opened.Error.c_str());
        return 1;
    }
    const long count = std::atol(argv[2]);
    for (long k = 0; count == 0 || k < count; ++k) {
        const float nf = 1.0f + static_cast<float>(k % 1000) / 1000.0f;
        const Added added = opened.Store->Add(
            test::Live(nf, 0.3f, test::Day(2020, 1 + static_cast<int>(k % 12), 1), argv[3]));
        if (!added.Ok()) {
            std::printf("error %s\n", added.Error.c_str());
            return 1;
        }
        std::printf("kept %s\n", added.Id.c_str());
        std::fflush(stdout);
    }
    return 0;
}

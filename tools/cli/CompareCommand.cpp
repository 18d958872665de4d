// ferobrixlan-cli compare A B
//
// Compares two programs block by block as a control sees them: sequence
// numbers, blanks, line ends, the leader and letter case are no difference.
// Prints the first changed block, then every change with the line numbers of
// both programs ("-" lines of A, "+" lines of B).
//
// Exit codes: 0 the same; 1 they differ; 2 wrong arguments or a file error.

#include <cstdio>
#include <string>

#include "Commands.h"
#include "FileIo.h"
#include "ProgramCompare.h"

namespace fbx::cli {

int runCompare(const Args& args) {
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        std::fputs("usage: ferobrixlan-cli compare A B\n", stderr);
        return 2;
    }
    std::string a, b;
    for (const auto& [path, text] : {std::pair{&args[0], &a}, std::pair{&args[1], &b}}) {
        if (Status st = readWholeFile(*path, *text); !st.isOk()) {
            std::fprintf(stderr, "ferobrixlan-cli compare: %s\n", st.message().c_str());
            return 2;
        }
    }
    const editor::ProgramComparison comparison = editor::ComparePrograms(a, b);
    if (comparison.same()) {
        std::printf("%s and %s are the same program\n", args[0].c_str(), args[1].c_str());
        return 0;
    }
    const std::size_t n = comparison.changes.size();
    std::printf("%s -> %s: %zu change%s, the first at %s\n", args[0].c_str(), args[1].c_str(), n,
                n == 1 ? "" : "s", editor::DescribeFirstChange(comparison).c_str());
    for (const editor::ChangedBlock& change : comparison.changes) {
        std::printf("@@ A line %lld, B line %lld\n", static_cast<long long>(change.atA),
                    static_cast<long long>(change.atB));
        for (const editor::NumberedLine& line : change.removed)
            std::printf("-%6lld  %s\n", static_cast<long long>(line.number), line.text.c_str());
        for (const editor::NumberedLine& line : change.added)
            std::printf("+%6lld  %s\n", static_cast<long long>(line.number), line.text.c_str());
    }
    return 1;
}

}  // namespace fbx::cli

// Applies one processing string to a file as a send does and writes the
// result: the program side of bench/rules.sh, which times it against sed
// making the same substitution.
//
//   apply_rule RULE IN OUT      e.g. apply_rule "[35][0][64]" big.nc out.nc

#include <cstdio>

#include "ConfigFile.h"
#include "ProcessingRules.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: apply_rule RULE IN OUT\n");
        return 2;
    }
    std::string text;
    fbx::Status read = fbx::readWholeFile(argv[2], text);
    if (!read.isOk()) {
        std::fprintf(stderr, "%s\n", read.message().c_str());
        return 1;
    }
    fbx::RuleTable table;
    std::array<std::string, fbx::kRuleSlotCount> texts;
    texts[0] = argv[1];
    fbx::ParseProcessingRules(texts, table);
    fbx::Status written = fbx::writeWholeFile(argv[3], fbx::ApplyRulesOnSend(table, text));
    if (!written.isOk()) {
        std::fprintf(stderr, "%s\n", written.message().c_str());
        return 1;
    }
    return 0;
}

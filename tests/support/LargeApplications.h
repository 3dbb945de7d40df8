// Test support: declarations of applications whose symbol load costs by their declared
// variables and members, not their array sizes (arrays cost a load one element).
#ifndef TESTS_SUPPORT_LARGEAPPLICATIONS_H
#define TESTS_SUPPORT_LARGEAPPLICATIONS_H

#include <string>

// `variables` variables of a structure of 100 structures of 100 INT (10,101 nodes
// each): a load looks every one of them up.
inline std::string ManyMembersDeclarations(int variables) {
    std::string text = "TYPE ST_Leaves : STRUCT";
    for (int i = 0; i < 100; ++i) {
        text += " l" + std::to_string(i) + " : INT;";
    }
    text += " END_STRUCT END_TYPE\nTYPE ST_ManyMembers : STRUCT";
    for (int i = 0; i < 100; ++i) {
        text += " m" + std::to_string(i) + " : ST_Leaves;";
    }
    text += " END_STRUCT END_TYPE\nVAR_GLOBAL";
    for (int i = 0; i < variables; ++i) {
        text += " many" + std::to_string(i) + " : ST_ManyMembers;";
    }
    return text + " END_VAR\n";
}

// `count` top-level LREAL variables v0, v1, ...: one node each.
inline std::string ScalarVariablesDeclarations(int count) {
    std::string text = "VAR_GLOBAL";
    for (int i = 0; i < count; ++i) {
        text += " v" + std::to_string(i) + " : LREAL;";
    }
    return text + " END_VAR";
}

// `count` variables s0, s1, ... of a structure nested four levels deep, 9 nodes each:
// s, g, h, e, f, c, d, a, b.
constexpr int kNestedStructureNodes = 9;
inline std::string NestedStructuresDeclarations(int count) {
    std::string text =
        "TYPE ST_D4 : STRUCT a : INT; b : LREAL; END_STRUCT END_TYPE\n"
        "TYPE ST_D3 : STRUCT c : ST_D4; d : DINT; END_STRUCT END_TYPE\n"
        "TYPE ST_D2 : STRUCT e : ST_D3; f : REAL; END_STRUCT END_TYPE\n"
        "TYPE ST_D1 : STRUCT g : ST_D2; h : BOOL; END_STRUCT END_TYPE\nVAR_GLOBAL";
    for (int i = 0; i < count; ++i) {
        text += " s" + std::to_string(i) + " : ST_D1;";
    }
    return text + " END_VAR";
}

#endif  // TESTS_SUPPORT_LARGEAPPLICATIONS_H

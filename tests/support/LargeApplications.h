// Test support: declarations of applications whose symbol load takes long because of
// their declared members, not their array sizes (arrays cost a load one element).
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

#endif  // TESTS_SUPPORT_LARGEAPPLICATIONS_H

#include "support/ComponentFixture.h"

#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "var/DomDriverMgr.h"

int LoadComponentIntoHost() {
    CSimHost& host = CSimHost::instance();
    host.resetFunctions();
    host.loadComponent(ComponentEntry);
    return host.importFunctions();
}

std::vector<std::string> RegisteredExternalFunctions() {
    std::vector<std::string> names;
    CSimHost& host = CSimHost::instance();
    if (LoadComponentIntoHost() != 0 || host.exportFunctions() != 0) return names;
    std::vector<SimRegisteredTable> tables = host.registeredTables();
    for (auto table = tables.rbegin(); table != tables.rend(); ++table) {
        if (table->externalLibrary == 1) {
            for (const CMP_EXT_FUNCTION_REF* row = table->table; row->pfExtCall != nullptr; ++row) {
                names.push_back(row->pszExtCallName);
            }
            break;
        }
    }
    return names;
}

void ComponentTest::SetUp() {
    ASSERT_EQ(0, LoadComponentIntoHost());
    CDomDriverMgr::instance()->clear();
    host().clearLog();
}

void ComponentTest::TearDown() { CDomDriverMgr::instance()->clear(); }

#include "support/ComponentFixture.h"

#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "var/DomDriverMgr.h"

int LoadComponentIntoHost() {
    CSimHost& host = CSimHost::instance();
    host.resetFunctions();
    host.loadComponent(ComponentEntry);
    return host.importFunctions();
}

void ComponentTest::SetUp() {
    ASSERT_EQ(0, LoadComponentIntoHost());
    CDomDriverMgr::instance()->clear();
    host().clearLog();
}

void ComponentTest::TearDown() { CDomDriverMgr::instance()->clear(); }

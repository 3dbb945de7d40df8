// External IEC functions of the block fb_jsonreadwritedatatype. Each forwards its
// record's inputs to the manager and stores the result; why a call was refused is in
// the host log only, and hrErrorCode is never written.
#include <cstring>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "frame/CallGuard.h"
#include "json/Utf8.h"
#include "var/DomDriverMgr.h"

void fb_jsonreadwritedatatype__main(fb_jsonreadwritedatatype_main_struct* /*p*/) {}

void fb_jsonreadwritedatatype__setsymbolfromjson(fb_jsonreadwritedatatype_setsymbolfromjson_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->SetSymbolFromJson = manager->setSymbolFromJson(p->pJson, p->nSize, p->pData) ? 1 : 0;
    });
}

void fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol(
    fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->AddJsonKeyValueFromSymbol =
            manager->addJsonKeyValueFromSymbol(p->fbWriter, p->pData, p->sKey) ? 1 : 0;
    });
}

void fb_jsonreadwritedatatype__addjsonschemafromsymbol(
    fb_jsonreadwritedatatype_addjsonschemafromsymbol_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->AddJsonSchemaFromSymbol = manager->addJsonSchemaFromSymbol(p->fbWriter, p->pData, p->sKey) ? 1 : 0;
    });
}

void fb_jsonreadwritedatatype__addjsonchangesfromsymbol(
    fb_jsonreadwritedatatype_addjsonchangesfromsymbol_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        CLastSent last;
        last.copy = p->pLast;
        last.size = p->nLast;
        last.deadband = p->fDeadband;
        last.keyFrame = p->bKeyFrame != 0;
        uint32_t changed = 0;
        p->AddJsonChangesFromSymbol =
            manager->addJsonChangesFromSymbol(p->fbWriter, p->pData, p->sKey, last, changed) ? 1 : 0;
        p->nChanged = changed;
    });
}

void fb_jsonreadwritedatatype__setsymbolfromjsonreport(
    fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        const CDomDriverMgr::ReportSink out = [p](const CSymbolWriteReport& report) {
            p->nWritten = report.written;
            p->nSkipped = report.skipped;
            p->nUnknown = report.unknown;
            p->nErrorOffset = report.errorOffset;
            p->nMissing = report.missing;
            // Within 255 bytes and never in the middle of a character.
            const size_t length =
                FitUtf8(report.problem.data(), report.problem.size(), sizeof(p->sProblem) - 1);
            std::memcpy(p->sProblem, report.problem.data(), length);
            p->sProblem[length] = '\0';
        };
        p->SetSymbolFromJsonReport =
            manager->setSymbolFromJsonReport(p->pJson, p->nSize, p->pData, &out) ? 1 : 0;
    });
}

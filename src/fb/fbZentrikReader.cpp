// External IEC functions of the reader block fb_jsonreader. Each forwards its record's
// inputs to the manager and stores the results in the record's output fields.
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "frame/CallGuard.h"
#include "var/DomDriverMgr.h"

// The block's body has no action.
void fb_jsonreader__main(fb_jsonreader_main_struct*) {}

void fb_jsonreader__parse(fb_jsonreader_parse_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->Parse = manager->readerParse(p->pInstance, p->pJson, p->nSize, p->nErrorOffset, p->sError) ? 1 : 0;
    });
}

void fb_jsonreader__getkind(fb_jsonreader_getkind_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { p->GetKind = CDomDriverMgr::instance()->readerGetKind(p->pInstance, p->sPath); });
}

void fb_jsonreader__getsize(fb_jsonreader_getsize_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { p->GetSize = CDomDriverMgr::instance()->readerGetSize(p->pInstance, p->sPath); });
}

void fb_jsonreader__getbool(fb_jsonreader_getbool_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->GetBool = CDomDriverMgr::instance()->readerGetBool(p->pInstance, p->sPath, p->bValue) ? 1 : 0;
    });
}

void fb_jsonreader__getdint(fb_jsonreader_getdint_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->GetDint = CDomDriverMgr::instance()->readerGetDint(p->pInstance, p->sPath, p->diValue) ? 1 : 0;
    });
}

void fb_jsonreader__getlint(fb_jsonreader_getlint_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->GetLint = CDomDriverMgr::instance()->readerGetLint(p->pInstance, p->sPath, p->liValue) ? 1 : 0;
    });
}

void fb_jsonreader__getlreal(fb_jsonreader_getlreal_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->GetLreal = CDomDriverMgr::instance()->readerGetLreal(p->pInstance, p->sPath, p->lrValue) ? 1 : 0;
    });
}

void fb_jsonreader__getstring(fb_jsonreader_getstring_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->GetString =
            manager->readerGetString(p->pInstance, p->sPath, p->pBuffer, p->nBuffer, p->nLength) ? 1 : 0;
    });
}

void fb_jsonreader__getmembername(fb_jsonreader_getmembername_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->GetMemberName = manager->readerGetMemberName(p->pInstance, p->sPath, p->nIndex, p->pBuffer,
                                                        p->nBuffer, p->nLength)
                               ? 1
                               : 0;
    });
}

void fb_jsonreader__getraw(fb_jsonreader_getraw_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr* manager = CDomDriverMgr::instance();
        p->GetRaw = manager->readerGetRaw(p->pInstance, p->sPath, p->pBuffer, p->nBuffer, p->nLength) ? 1 : 0;
    });
}

void fb_jsonreader__tovariable(fb_jsonreader_tovariable_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->ToVariable = CDomDriverMgr::instance()->readerToVariable(p->pInstance, p->sPath, p->pData) ? 1 : 0;
    });
}

// External IEC functions of the writer block fb_jsonsaxwriter. Each one gets the
// manager, calls one operation and stores the result where its record has an output
// field. No function writes hrErrorCode. A call without a parameter record does
// nothing, as the datatype block's functions do.
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "frame/CallGuard.h"
#include "var/DomDriverMgr.h"

// The block's body has no action.
void fb_jsonsaxwriter__main(fb_jsonsaxwriter_main_struct*) {}

// Nesting: 1 when done, 0 when refused.
void fb_jsonsaxwriter__startobject(fb_jsonsaxwriter_startobject_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->StartObject =
            CDomDriverMgr::instance()->startContainer(p->pInstance, EJsonContainer::kObject) ? 1 : 0;
    });
}

void fb_jsonsaxwriter__endobject(fb_jsonsaxwriter_endobject_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->EndObject = CDomDriverMgr::instance()->endContainer(p->pInstance, EJsonContainer::kObject) ? 1 : 0;
    });
}

void fb_jsonsaxwriter__startarray(fb_jsonsaxwriter_startarray_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->StartArray =
            CDomDriverMgr::instance()->startContainer(p->pInstance, EJsonContainer::kArray) ? 1 : 0;
    });
}

void fb_jsonsaxwriter__endarray(fb_jsonsaxwriter_endarray_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->EndArray = CDomDriverMgr::instance()->endContainer(p->pInstance, EJsonContainer::kArray) ? 1 : 0;
    });
}

// Values that are not plain scalars: raw JSON texts and binary data.
void fb_jsonsaxwriter__addrawobject(fb_jsonsaxwriter_addrawobject_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall(
        [&] { CDomDriverMgr::instance()->addRawJson(p->pInstance, p->rawJson, EJsonContainer::kObject); });
}

void fb_jsonsaxwriter__addrawarray(fb_jsonsaxwriter_addrawarray_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall(
        [&] { CDomDriverMgr::instance()->addRawJson(p->pInstance, p->rawJson, EJsonContainer::kArray); });
}

void fb_jsonsaxwriter__addbase64(fb_jsonsaxwriter_addbase64_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { CDomDriverMgr::instance()->addBytes(p->pInstance, p->pBytes, p->nBytes, false); });
}

void fb_jsonsaxwriter__addhexbinary(fb_jsonsaxwriter_addhexbinary_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { CDomDriverMgr::instance()->addBytes(p->pInstance, p->pBytes, p->nBytes, true); });
}

// Number format.
void fb_jsonsaxwriter__getmaxdecimalplaces(fb_jsonsaxwriter_getmaxdecimalplaces_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall(
        [&] { p->GetMaxDecimalPlaces = CDomDriverMgr::instance()->getMaxDecimalPlaces(p->pInstance); });
}

void fb_jsonsaxwriter__setmaxdecimalplaces(fb_jsonsaxwriter_setmaxdecimalplaces_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        p->SetMaxDecimalPlaces =
            CDomDriverMgr::instance()->setMaxDecimalPlaces(p->pInstance, p->decimalPlaces) ? 1 : 0;
    });
}

// Value format: the forms the values added from now on take.
void fb_jsonsaxwriter__setformat(fb_jsonsaxwriter_setformat_struct* p) {
    if (p == nullptr) {
        return;
    }
    p->SetFormat = CDomDriverMgr::instance()->setFormat(p->pInstance, p->nFormat) ? 1 : 0;
}

void fb_jsonsaxwriter__getformat(fb_jsonsaxwriter_getformat_struct* p) {
    if (p == nullptr) {
        return;
    }
    p->GetFormat = CDomDriverMgr::instance()->getFormat(p->pInstance);
}

// Key, then one value call that fills it.
void fb_jsonsaxwriter__addkey(fb_jsonsaxwriter_addkey_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { CDomDriverMgr::instance()->addkey_to_jason(p->pInstance, p->key); });
}

void fb_jsonsaxwriter__addkeynull(fb_jsonsaxwriter_addkeynull_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { CDomDriverMgr::instance()->addKeyNull(p->pInstance, p->key); });
}

void fb_jsonsaxwriter__addstring(fb_jsonsaxwriter_addstring_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr,
                                             CWriterScalar::String(p->value));
    });
}

void fb_jsonsaxwriter__addbool(fb_jsonsaxwriter_addbool_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr, CWriterScalar::Bool(p->value));
    });
}

void fb_jsonsaxwriter__adddint(fb_jsonsaxwriter_adddint_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr, CWriterScalar::Dint(p->value));
    });
}

void fb_jsonsaxwriter__addudint(fb_jsonsaxwriter_addudint_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr,
                                             CWriterScalar::Udint(p->value));
    });
}

void fb_jsonsaxwriter__addlint(fb_jsonsaxwriter_addlint_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr, CWriterScalar::Lint(p->value));
    });
}

void fb_jsonsaxwriter__addreal(fb_jsonsaxwriter_addreal_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr, CWriterScalar::Real(p->value));
    });
}

void fb_jsonsaxwriter__addlreal(fb_jsonsaxwriter_addlreal_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr,
                                             CWriterScalar::Lreal(p->value));
    });
}

void fb_jsonsaxwriter__adddatetime(fb_jsonsaxwriter_adddatetime_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr,
                                             CWriterScalar::DateTime(p->value));
    });
}

void fb_jsonsaxwriter__addnull(fb_jsonsaxwriter_addnull_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_VALUE, nullptr, CWriterScalar::Null());
    });
}

// Key and value in one call.
void fb_jsonsaxwriter__addkeystring(fb_jsonsaxwriter_addkeystring_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_KEY_VALUE, p->key,
                                             CWriterScalar::String(p->value));
    });
}

void fb_jsonsaxwriter__addkeybool(fb_jsonsaxwriter_addkeybool_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_KEY_VALUE, p->key,
                                             CWriterScalar::Bool(p->value));
    });
}

void fb_jsonsaxwriter__addkeynumber(fb_jsonsaxwriter_addkeynumber_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_KEY_VALUE, p->key,
                                             CWriterScalar::Dint(p->value));
    });
}

void fb_jsonsaxwriter__addkeylreal(fb_jsonsaxwriter_addkeylreal_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_KEY_VALUE, p->key,
                                             CWriterScalar::Lreal(p->value));
    });
}

void fb_jsonsaxwriter__addkeydatetime(fb_jsonsaxwriter_addkeydatetime_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->addScalar(p->pInstance, ADD_KEY_VALUE, p->key,
                                             CWriterScalar::DateTime(p->value));
    });
}

// Document reset and output.
void fb_jsonsaxwriter__resetdocument(fb_jsonsaxwriter_resetdocument_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        CDomDriverMgr::instance()->resetDocument(p->pInstance);
        p->ResetDocument = 1;
    });
}

void fb_jsonsaxwriter__getdocument(fb_jsonsaxwriter_getdocument_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { CDomDriverMgr::instance()->getDocument(p); });
}

void fb_jsonsaxwriter__getdocumentlength(fb_jsonsaxwriter_getdocumentlength_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] {
        // Stays 0 when the instance has no document.
        size_t length = 0;
        CDomDriverMgr::instance()->getDocumentLength(p->pInstance, length);
        p->GetDocumentLength = static_cast<RTS_IEC_UDINT>(length);
    });
}

void fb_jsonsaxwriter__copydocument(fb_jsonsaxwriter_copydocument_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { p->CopyDocument = CDomDriverMgr::instance()->copyDocument(p) ? 1 : 0; });
}

void fb_jsonsaxwriter__copydocumentpart(fb_jsonsaxwriter_copydocumentpart_struct* p) {
    if (p == nullptr) {
        return;
    }
    GuardedCall([&] { p->CopyDocumentPart = CDomDriverMgr::instance()->copyDocumentPart(p); });
}

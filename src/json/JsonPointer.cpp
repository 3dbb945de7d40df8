// JSON Pointer lookup: one pass over the path, token by token, without decoding the
// tokens into a copy.
#include "json/JsonPointer.h"

#include <cstdint>
#include <cstring>

namespace {

// Whether the reference token `token` (`length` bytes, escapes not decoded, known to be
// well formed) names the member `name`.
bool TokenNamesMember(const char* token, size_t length, const CJsonValue& name) {
    const char* member = name.GetString();
    const size_t memberLength = name.GetStringLength();
    size_t m = 0;
    for (size_t t = 0; t < length; ++t, ++m) {
        char c = token[t];
        if (c == '~') {
            c = token[++t] == '0' ? '~' : '/';
        }
        if (m == memberLength || member[m] != c) {
            return false;
        }
    }
    return m == memberLength;
}

// The element the token names as an array index, or null.
const CJsonValue* Element(const char* token, size_t length, const CJsonValue& array) {
    if (length == 0 || (length > 1 && token[0] == '0')) {
        return nullptr;
    }
    uint64_t index = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned digit = static_cast<unsigned>(token[i] - '0');
        if (digit > 9) {
            return nullptr;
        }
        index = index * 10 + digit;
        if (index >= array.Size()) {
            return nullptr;  // also stops before the index could overflow
        }
    }
    return &array[static_cast<rapidjson::SizeType>(index)];
}

}  // namespace

const CJsonValue* FindByPointer(const CJsonValue& root, const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    const CJsonValue* current = &root;
    const char* p = path;
    while (*p != '\0') {
        if (*p != '/') {
            return nullptr;
        }
        const char* token = ++p;
        bool escaped = false;
        while (*p != '\0' && *p != '/') {
            if (*p == '~') {
                if (p[1] != '0' && p[1] != '1') {
                    return nullptr;
                }
                escaped = true;
                ++p;
            }
            ++p;
        }
        const size_t length = static_cast<size_t>(p - token);
        if (current->IsObject()) {
            const CJsonValue* found = nullptr;
            for (CJsonValue::ConstMemberIterator m = current->MemberBegin(); m != current->MemberEnd(); ++m) {
                // Most tokens hold no escape: then the name must be the token itself.
                if (escaped ? TokenNamesMember(token, length, m->name)
                            : m->name.GetStringLength() == length &&
                                  std::memcmp(m->name.GetString(), token, length) == 0) {
                    found = &m->value;
                    break;
                }
            }
            current = found;
        } else if (current->IsArray()) {
            current = Element(token, length, *current);
        } else {
            current = nullptr;
        }
        if (current == nullptr) {
            return nullptr;
        }
    }
    return current;
}

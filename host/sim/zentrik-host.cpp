// zentrik-host: the command-line front of the simulated controller. It loads
// libzentrik.so the way a controller runtime does (dlopen, ComponentEntry, import,
// export, event subscription), starts an IEC application declared in a text file,
// lets the component load the application's symbols, and then runs commands that call
// the component's external functions by their registered names.
//
// JSON goes to stdout, the host log to stderr.
#include <dlfcn.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CmpItf.h"
#include "SimApplication.h"
#include "SimEventManager.h"
#include "SimHost.h"

namespace {

// The component's parameter records, as an IEC compiler lays them out.
struct WriterInstance {
    void* vftable;
    RTS_IEC_UINT initStatus;
};
struct ResetRecord {
    WriterInstance* pInstance;
    RTS_IEC_UINT ResetDocument;
};
struct LengthRecord {
    WriterInstance* pInstance;
    RTS_IEC_UDINT GetDocumentLength;
    RTS_IEC_UINT hrErrorCode;
};
struct CopyRecord {
    WriterInstance* pInstance;
    RTS_IEC_STRING* pDoc;
    RTS_IEC_UDINT nDoc;
    RTS_IEC_UDINT CopyDocument;
    RTS_IEC_UINT hrErrorCode;
};
struct DatatypeInstance {
    void* vftable;
    RTS_IEC_UINT initStatus;
};
struct AddFromSymbolRecord {
    DatatypeInstance* pInstance;
    WriterInstance* fbWriter;
    RTS_IEC_STRING* sKey;
    RTS_IEC_STRING* sDatatype;
    RTS_IEC_UDINT nData;
    RTS_IEC_UDINT* pData;
    RTS_IEC_BOOL AddJsonKeyValueFromSymbol;
    RTS_IEC_UINT hrErrorCode;
};
struct SetFromJsonRecord {
    DatatypeInstance* pInstance;
    RTS_IEC_STRING* pJson;
    RTS_IEC_UDINT nSize;
    RTS_IEC_UDINT* pData;
    RTS_IEC_UDINT nData;
    RTS_IEC_BOOL SetSymbolFromJson;
    RTS_IEC_UINT hrErrorCode;
};
static_assert(sizeof(AddFromSymbolRecord) == 56 && sizeof(SetFromJsonRecord) == 40, "IEC record layout");
struct ReaderInstance {
    void* vftable;
    RTS_IEC_UINT initStatus;
};
struct ParseRecord {
    ReaderInstance* pInstance;
    RTS_IEC_STRING* pJson;
    RTS_IEC_UDINT nSize;
    RTS_IEC_BOOL Parse;
    RTS_IEC_UDINT nErrorOffset;
    RTS_IEC_STRING sError[256];
};
struct PathDintRecord {  // GetKind, GetSize
    ReaderInstance* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_DINT result;
};
struct GetBoolRecord {
    ReaderInstance* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetBool;
    RTS_IEC_BOOL bValue;
};
struct GetLintRecord {
    ReaderInstance* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetLint;
    RTS_IEC_LINT liValue;
};
struct GetLrealRecord {
    ReaderInstance* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_BOOL GetLreal;
    RTS_IEC_LREAL lrValue;
};
struct PathBufferRecord {  // GetString, GetRaw
    ReaderInstance* pInstance;
    RTS_IEC_STRING* sPath;
    RTS_IEC_STRING* pBuffer;
    RTS_IEC_UDINT nBuffer;
    RTS_IEC_BOOL result;
    RTS_IEC_UDINT nLength;
};
static_assert(sizeof(ParseRecord) == 288 && sizeof(PathDintRecord) == 24 && sizeof(GetBoolRecord) == 24 &&
                  sizeof(GetLintRecord) == 32 && sizeof(GetLrealRecord) == 32 &&
                  sizeof(PathBufferRecord) == 40,
              "IEC record layout");

const char* const kUsage =
    "usage: zentrik-host [--lib PATH] APP.st [COMMAND...]\n"
    "\n"
    "Loads libzentrik.so into a simulated controller, starts the IEC application\n"
    "declared in APP.st, lets the component load its symbols and runs the commands\n"
    "in order (default: print). JSON goes to stdout, the host log to stderr.\n"
    "\n"
    "commands:\n"
    "  print [NAME]      every top-level variable (or the variable NAME) as one JSON document\n"
    "  write NAME JSON   write a JSON text into the variable NAME; the text's root object\n"
    "                    holds a member named as the variable, e.g. '{\"axis\":{\"pos\":2.5}}'\n"
    "  reload            post prepare-reset and reset-done, and wait for the new load\n"
    "  event ID          post a host event, e.g. 0x10005\n"
    "  parse JSON        parse a JSON text (or @FILE) into the host's reader instance\n"
    "  get PATH          the value at a JSON Pointer into the parsed text, e.g. /orders/0/qty,\n"
    "                    printed with its kind: integer, real, string, boolean, null, array\n"
    "                    or object (these two as compact JSON with their size)\n"
    "\n"
    "NAME is a full name (App.Globals.counter) or a top-level variable's own name (counter).\n";

class CHostError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

typedef void (*ExternalFunction)(void*);

// Calls the component's external functions by the names it registered.
class CComponentCalls {
   public:
    explicit CComponentCalls(const CMP_EXT_FUNCTION_REF* table) : table_(table) {}

    void call(const char* name, void* record) {
        for (const CMP_EXT_FUNCTION_REF* row = table_; row->pfExtCall != nullptr; ++row) {
            if (std::strcmp(row->pszExtCallName, name) == 0) {
                reinterpret_cast<ExternalFunction>(row->pfExtCall)(record);
                return;
            }
        }
        throw CHostError(std::string("the component registered no function ") + name);
    }

   private:
    const CMP_EXT_FUNCTION_REF* table_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw CHostError("cannot read " + path + ": " + std::strerror(errno));
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class CZentrikHost {
   public:
    CZentrikHost(const std::string& library, const std::string& applicationFile)
        : applicationFile_(applicationFile) {
        startApplication();
        loadComponent(library);
        waitForLoad(postEvent(kSimEventResetDone));
    }

    ~CZentrikHost() {
        CSimHost::instance().callHook(12);
        // The library stays loaded: the component's manager lives until the process ends.
    }

    void print(const std::vector<std::string>& names) {
        ResetRecord reset{&writer_, 0};
        calls_->call("fb_jsonsaxwriter__resetdocument", &reset);
        for (const std::string& name : names) {
            std::string key = name;
            AddFromSymbolRecord add{};
            add.pInstance = &datatype_;
            add.fbWriter = &writer_;
            add.sKey = &key[0];
            add.pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
            calls_->call("fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol", &add);
            if (!add.AddJsonKeyValueFromSymbol) {
                throw CHostError("the component refused to read " + name + " (see the host log)");
            }
        }
        LengthRecord length{&writer_, 0, 0};
        calls_->call("fb_jsonsaxwriter__getdocumentlength", &length);
        std::vector<char> text(length.GetDocumentLength + 1u, '\0');
        CopyRecord copy{&writer_, text.data(), static_cast<RTS_IEC_UDINT>(text.size()), 0, 0};
        calls_->call("fb_jsonsaxwriter__copydocument", &copy);
        if (!copy.CopyDocument) {
            throw CHostError("the component could not copy the document (see the host log)");
        }
        std::printf("%s\n", text.data());
        std::fflush(stdout);
    }

    void write(const std::string& name, std::string json) {
        SetFromJsonRecord set{};
        set.pInstance = &datatype_;
        set.pJson = &json[0];
        set.nSize = static_cast<RTS_IEC_UDINT>(json.size());
        set.pData = reinterpret_cast<RTS_IEC_UDINT*>(app().address(name));
        calls_->call("fb_jsonreadwritedatatype__setsymbolfromjson", &set);
        if (!set.SetSymbolFromJson) {
            throw CHostError("the component refused to write " + name + " (see the host log)");
        }
    }

    void parse(const std::string& textOrFile) {
        std::string text = textOrFile.rfind("@", 0) == 0 ? ReadFile(textOrFile.substr(1)) : textOrFile;
        ParseRecord p{};
        p.pInstance = &reader_;
        p.pJson = &text[0];
        p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
        calls_->call("fb_jsonreader__parse", &p);
        if (!p.Parse) {
            throw CHostError("the text does not parse: " + std::string(p.sError) + " (byte " +
                             std::to_string(p.nErrorOffset) + ")");
        }
    }

    void get(std::string path) {
        PathDintRecord kind{&reader_, &path[0], 0};
        calls_->call("fb_jsonreader__getkind", &kind);
        switch (kind.result) {
            case 2: {
                GetBoolRecord b{&reader_, &path[0], 0, 0};
                calls_->call("fb_jsonreader__getbool", &b);
                std::printf("boolean %s\n", b.bValue ? "TRUE" : "FALSE");
                break;
            }
            case 3: {
                GetLintRecord l{&reader_, &path[0], 0, 0};
                calls_->call("fb_jsonreader__getlint", &l);
                if (l.GetLint) {
                    std::printf("integer %lld\n", static_cast<long long>(l.liValue));
                } else {
                    std::printf("integer %s (beyond LINT)\n", text("fb_jsonreader__getraw", path).c_str());
                }
                break;
            }
            case 4: {
                GetLrealRecord r{&reader_, &path[0], 0, 0};
                calls_->call("fb_jsonreader__getlreal", &r);
                std::printf("real %.17g\n", r.lrValue);
                break;
            }
            case 5:
                std::printf("string %s\n", text("fb_jsonreader__getstring", path).c_str());
                break;
            case 1:
                std::printf("null\n");
                break;
            case 6:
            case 7: {
                PathDintRecord size{&reader_, &path[0], 0};
                calls_->call("fb_jsonreader__getsize", &size);
                std::printf("%s of %d: %s\n", kind.result == 6 ? "array" : "object",
                            static_cast<int>(size.result), text("fb_jsonreader__getraw", path).c_str());
                break;
            }
            default:
                throw CHostError("nothing at " + path);
        }
        std::fflush(stdout);
    }

    void reload() {
        postEvent(kSimEventPrepareReset);
        waitForLoad(postEvent(kSimEventResetDone));
    }

    size_t postEvent(EVENTID id) {
        size_t loadsBefore = endLines();
        CSimEventManager::instance().post(id);
        return loadsBefore;
    }

    // The full name of a variable given by its full name or by a top-level variable's own name.
    std::string resolve(const std::string& name) {
        std::vector<std::string> matches;
        for (const std::string& variable : app().topLevelVariables()) {
            std::string own = variable.substr(variable.rfind('.') + 1);
            if (variable == name || own == name) {
                matches.push_back(variable);
            }
        }
        if (matches.size() == 1) {
            return matches[0];
        }
        if (matches.size() > 1) {
            throw CHostError("variable name " + name + " is ambiguous; give its full name");
        }
        try {
            app().address(name);  // a member or element given by its full name
            return name;
        } catch (const std::out_of_range&) {
            throw CHostError("unknown variable " + name + " in " + applicationFile_);
        }
    }

    std::vector<std::string> topLevelVariables() { return app().topLevelVariables(); }

   private:
    static CSimApplication& app() { return CSimApplication::instance(); }

    void startApplication() {
        std::string text = ReadFile(applicationFile_);
        try {
            app().start(text);
        } catch (const CSimDeclError& error) {
            throw CHostError(applicationFile_ + ": " + error.what());
        }
    }

    void loadComponent(const std::string& library) {
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw CHostError("cannot load the component: " + std::string(dlerror()));
        }
        auto entry = reinterpret_cast<int (*)(INIT_STRUCT*)>(dlsym(handle, "ComponentEntry"));
        if (entry == nullptr) {
            throw CHostError(library + " has no ComponentEntry");
        }
        CSimHost& host = CSimHost::instance();
        host.setLogEcho(stderr);
        size_t tablesBefore = host.registeredTables().size();
        if (host.loadComponent(entry) != 0 || host.importFunctions() != 0 || host.exportFunctions() != 0) {
            throw CHostError("the component did not start (entry, import or export failed)");
        }
        std::vector<SimRegisteredTable> tables = host.registeredTables();
        for (size_t i = tablesBefore; i < tables.size(); ++i) {
            if (tables[i].externalLibrary == 1) {
                calls_.reset(new CComponentCalls(tables[i].table));
            }
        }
        if (!calls_) {
            throw CHostError("the component registered no external functions");
        }
        if (host.callHook(4) != 0) {
            throw CHostError("the component could not subscribe to the host's events");
        }
    }

    static size_t endLines() {
        size_t count = 0;
        for (const std::string& text : CSimHost::instance().logTexts()) {
            count += text.rfind("LoadSymbols end", 0) == 0 ? 1 : 0;
        }
        return count;
    }

    // Waits for the end line of the next load; gives up at once when the loader thread
    // could not be created (no permission for real-time scheduling, for instance).
    static void waitForLoad(size_t loadsBefore) {
        CSimHost& host = CSimHost::instance();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!host.waitForLog("LoadSymbols end", loadsBefore + 1, std::chrono::milliseconds(20))) {
            if (host.waitForLog("pthread_create failed", 1, std::chrono::milliseconds(0))) {
                throw CHostError("the component could not start its loader thread (see the host log)");
            }
            if (std::chrono::steady_clock::now() > deadline) {
                throw CHostError("the component did not finish loading the symbols");
            }
        }
    }

    std::string applicationFile_;
    // A string or raw read: a size query, then the read into a buffer of that size.
    std::string text(const char* function, std::string& path) {
        PathBufferRecord query{&reader_, &path[0], nullptr, 0, 0, 0};
        calls_->call(function, &query);
        std::vector<char> buffer(query.nLength + 1u, '\0');
        PathBufferRecord read{&reader_, &path[0], buffer.data(), static_cast<RTS_IEC_UDINT>(buffer.size()),
                              0,        0};
        calls_->call(function, &read);
        return std::string(buffer.data());
    }

    std::unique_ptr<CComponentCalls> calls_;
    ReaderInstance reader_{};
    WriterInstance writer_{};
    DatatypeInstance datatype_{};
};

int Run(int argc, char** argv) {
    std::string library = ZENTRIK_DEFAULT_LIB;
    std::vector<std::string> args(argv + 1, argv + argc);
    size_t next = 0;
    if (next < args.size() && (args[next] == "-h" || args[next] == "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (next + 1 < args.size() && args[next] == "--lib") {
        library = args[next + 1];
        next += 2;
    }
    if (next >= args.size()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    CZentrikHost host(library, args[next++]);
    if (next == args.size()) {
        args.push_back("print");
    }
    while (next < args.size()) {
        const std::string command = args[next++];
        auto operand = [&](const char* what) {
            if (next >= args.size()) {
                throw CHostError(command + " needs " + what);
            }
            return args[next++];
        };
        if (command == "print") {
            if (next < args.size() && args[next] != "print" && args[next] != "write" &&
                args[next] != "reload" && args[next] != "event" && args[next] != "parse" &&
                args[next] != "get") {
                host.print({host.resolve(args[next++])});
            } else {
                host.print(host.topLevelVariables());
            }
        } else if (command == "write") {
            std::string name = host.resolve(operand("a variable name"));
            host.write(name, operand("a JSON text"));
        } else if (command == "reload") {
            host.reload();
        } else if (command == "parse") {
            host.parse(operand("a JSON text or @FILE"));
        } else if (command == "get") {
            host.get(operand("a JSON Pointer"));
        } else if (command == "event") {
            std::string id = operand("an event id");
            char* end = nullptr;
            unsigned long value = std::strtoul(id.c_str(), &end, 0);
            if (end == id.c_str() || *end != '\0') {
                throw CHostError("bad event id " + id);
            }
            host.postEvent(static_cast<EVENTID>(value));
        } else {
            throw CHostError("unknown command " + command + "\n" + kUsage);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zentrik-host: %s\n", error.what());
        return 1;
    }
}

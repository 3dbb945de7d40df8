// The user's guide is README.md and the pages of docs/. It keeps the sections a user
// looks for, names every block and method the component registers (with an IEC
// signature) on its block's page, describes every zentrik-host command and event and
// every host log text, runs every Structured Text example, and every relative link
// finds its file and its anchor. The blocks, methods, commands, events and log texts are
// taken from the component and from zentrik-host themselves, so new ones are checked as
// they land.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frame/LogTexts.h"
#include "support/ComponentFixture.h"
#include "support/HostProcess.h"

namespace {

const std::string kSource = ZENTRIK_SOURCE_DIR;

struct Section {
    int level;
    std::string title;
    std::string body;  // up to the next heading of the same or a higher level
};

// One Markdown file of the guide, by its path from the source tree's root.
struct Page {
    std::string path;
    std::string text;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void CollectMarkdown(const std::string& relative, std::vector<std::string>& paths) {
    DIR* listing = opendir((kSource + "/" + relative).c_str());
    if (listing == nullptr) return;
    for (dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name[0] == '.') continue;
        const std::string path = relative + "/" + name;
        if (IsDirectory(kSource + "/" + path)) {
            CollectMarkdown(path, paths);
        } else if (name.size() > 3 && name.compare(name.size() - 3, 3, ".md") == 0) {
            paths.push_back(path);
        }
    }
    closedir(listing);
}

// README.md, then every page of docs/ and its folders, in order of their paths.
const std::vector<Page>& Guide() {
    static const std::vector<Page> pages = [] {
        std::vector<std::string> paths;
        CollectMarkdown("docs", paths);
        std::sort(paths.begin(), paths.end());
        paths.insert(paths.begin(), "README.md");
        std::vector<Page> read;
        for (const std::string& path : paths) read.push_back({path, ReadWholeFile(kSource + "/" + path)});
        return read;
    }();
    return pages;
}

// The Markdown sections of a text; headings inside fenced code blocks do not count.
std::vector<Section> Sections(const std::string& text) {
    struct Heading {
        int level;
        std::string title;
        size_t begin;
    };
    std::vector<Heading> headings;
    bool fenced = false;
    std::istringstream lines(text);
    size_t at = 0;
    for (std::string line; std::getline(lines, line); at += line.size() + 1) {
        if (line.rfind("```", 0) == 0) fenced = !fenced;
        if (fenced || line.empty() || line[0] != '#') continue;
        size_t level = line.find_first_not_of('#');
        if (level == std::string::npos || line[level] != ' ') continue;
        headings.push_back({static_cast<int>(level), line.substr(level + 1), at});
    }
    std::vector<Section> sections;
    for (size_t i = 0; i < headings.size(); ++i) {
        size_t end = text.size();
        for (size_t j = i + 1; j < headings.size(); ++j) {
            if (headings[j].level <= headings[i].level) {
                end = headings[j].begin;
                break;
            }
        }
        sections.push_back(
            {headings[i].level, headings[i].title, text.substr(headings[i].begin, end - headings[i].begin)});
    }
    return sections;
}

std::vector<Section> GuideSections() {
    std::vector<Section> all;
    for (const Page& page : Guide()) {
        std::vector<Section> sections = Sections(page.text);
        all.insert(all.end(), sections.begin(), sections.end());
    }
    return all;
}

const Section* FindSection(const std::vector<Section>& sections, const std::string& title) {
    for (const Section& section : sections) {
        if (section.title.find(title) != std::string::npos) return &section;
    }
    return nullptr;
}

// The page whose title (its level-1 heading) holds `words`; null when none does.
const Page* PageTitled(const std::string& words) {
    for (const Page& page : Guide()) {
        std::vector<Section> sections = Sections(page.text);
        if (!sections.empty() && sections[0].level == 1 &&
            sections[0].title.find(words) != std::string::npos) {
            return &page;
        }
    }
    return nullptr;
}

// The `code spans` of a text.
std::vector<std::string> CodeSpans(const std::string& text) {
    std::vector<std::string> spans;
    for (size_t open = text.find('`'); open != std::string::npos;) {
        if (text.compare(open, 3, "```") == 0) {
            size_t close = text.find("```", open + 3);
            open = close == std::string::npos ? close : text.find('`', close + 3);
            continue;
        }
        size_t close = text.find('`', open + 1);
        if (close == std::string::npos) break;
        spans.push_back(text.substr(open + 1, close - open - 1));
        open = text.find('`', close + 1);
    }
    return spans;
}

TEST(Readme, KeepsEverySectionAUserLooksFor) {
    const std::vector<Section> sections = GuideSections();
    ASSERT_FALSE(sections.empty()) << "README.md and docs/ are missing or have no headings";
    for (const char* title : {"Try it",
                              "Quick start",
                              "Installing",
                              "The guide",
                              "Deploying",
                              "Life cycle at a glance",
                              "Events",
                              "Real-time permission",
                              "Importing the function blocks",
                              "ST quick reference",
                              "JSON forms",
                              "The grammar",
                              "Numbers",
                              "Writer output",
                              "Formats",
                              "Variables to JSON",
                              "JSON to variables",
                              "Troubleshooting",
                              "Host log messages",
                              "Limits",
                              "`zentrik-host`",
                              "Commands",
                              "Running programs",
                              "Declaring an application",
                              "Exit status",
                              "Utilities",
                              "Project layout",
                              "Architecture"}) {
        const Section* section = FindSection(sections, title);
        ASSERT_NE(nullptr, section) << "the guide lost its section '" << title << "'";
        EXPECT_GT(section->body.size(), section->title.size() + 100) << "section '" << title << "' is empty";
    }
}

// The first commands a new user meets are the two of "Try it", and they exist.
TEST(Readme, TryItComesFirstAndItsScriptsExist) {
    const std::string& text = Guide()[0].text;
    std::vector<Section> sections = Sections(text);
    ASSERT_GE(sections.size(), 2u);
    EXPECT_EQ("Try it", sections[1].title) << "the first section after the title";
    size_t fence = text.find("```");
    ASSERT_NE(std::string::npos, fence);
    std::string firstBlock = text.substr(fence, text.find("```", fence + 3) - fence);
    for (const char* script : {"scripts/demo.sh", "scripts/test.sh"}) {
        EXPECT_NE(std::string::npos, firstBlock.find(script)) << script;
        EXPECT_EQ(0, access((kSource + "/" + script).c_str(), X_OK)) << script;
    }
}

// README is for the first hour and the benchmark page for today's figures; the rest
// belongs to docs/ and to git's history.
TEST(Readme, FrontPagesStayShort) {
    for (const char* path : {"README.md", "bench/README.md"}) {
        const std::string text = ReadWholeFile(kSource + "/" + path);
        EXPECT_FALSE(text.empty()) << path;
        EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 250) << path << " is longer than 250 lines";
    }
}

// Every external function fb_<block>__<method> the component registers: its block has
// a page whose title names it, which names the method in a code span with its IEC
// signature, or, for the body (main), names the external function.
TEST(Readme, NamesEveryBlockAndMethodTheComponentRegisters) {
    std::vector<std::string> functions = RegisteredExternalFunctions();
    ASSERT_FALSE(functions.empty());
    for (const std::string& function : functions) {
        size_t split = function.find("__");
        ASSERT_NE(std::string::npos, split) << function;
        std::string block = function.substr(0, split), method = function.substr(split + 2);
        const Page* page = PageTitled("`" + block + "`");
        ASSERT_NE(nullptr, page) << "docs/ has no page for the block " << block;
        if (method == "main") {
            EXPECT_NE(std::string::npos, page->text.find(function)) << page->path << ": " << function;
            continue;
        }
        bool named = false, signed_ = false;
        for (const std::string& span : CodeSpans(page->text)) {
            named = named || Lower(span) == method;
            signed_ = signed_ || Lower(span).rfind(method + "(", 0) == 0;
        }
        EXPECT_TRUE(named) << page->path << " does not name the method of " << function;
        EXPECT_TRUE(signed_) << page->path << " gives no IEC signature `" << method << "(...)` for "
                             << function;
    }
}

// Every command and event that `zentrik-host --help` lists is described on its page.
TEST(Readme, DescribesEveryZentrikHostCommandAndEvent) {
    const Page* host = PageTitled("`zentrik-host`");
    ASSERT_NE(nullptr, host) << "docs/ has no page titled `zentrik-host`";
    FILE* pipe = popen((std::string("'") + ZENTRIK_HOST_PATH + "' --help").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string part;
    size_t commands = 0, events = 0;
    char buffer[1024];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) {
        std::string line = buffer;
        if (line.rfind("commands:", 0) == 0 || line.rfind("events", 0) == 0 ||
            line.rfind("options:", 0) == 0) {
            part = line.substr(0, line.find_first_of(" :"));
            continue;
        }
        if (line.size() < 3 || line.compare(0, 2, "  ") != 0 ||
            !std::islower(static_cast<unsigned char>(line[2]))) {
            continue;
        }
        std::string word = line.substr(2, line.find(' ', 2) - 2);
        if (part == "commands") {
            ++commands;
            EXPECT_NE(std::string::npos, host->text.find("`" + word))
                << "command " << word << " is not described";
        } else if (part == "events" && line.find(" 0x") != std::string::npos) {
            ++events;
            EXPECT_NE(std::string::npos, host->text.find("`" + word + "`"))
                << "event " << word << " is not named";
        }
    }
    EXPECT_EQ(0, pclose(pipe));
    EXPECT_GT(commands, 0u);
    EXPECT_GT(events, 0u);
}

// The host log's texts are a contract: every text of the component's table is listed in
// "Host log messages", up to its first value (or, for an event's long line, up to its
// first comma followed by an ellipsis).
TEST(Readme, ListsEveryHostLogText) {
    const std::vector<Section> sections = GuideSections();
    const Section* section = FindSection(sections, "Host log messages");
    ASSERT_NE(nullptr, section);
    for (size_t i = 0; i < static_cast<size_t>(ELogText::kCount); ++i) {
        const std::string text = g_logTexts[i].text;
        const std::string upToValue = text.substr(0, text.find('%'));
        const std::string upToComma = text.substr(0, text.find(", ")) + ", …";
        EXPECT_TRUE(section->body.find("`" + upToValue) != std::string::npos ||
                    section->body.find("`" + upToComma + "`") != std::string::npos)
            << "the guide does not list the host log text '" << text << "'";
    }
}

// The anchor GitHub gives a heading: lower case, every character but letters, digits,
// spaces, '-' and '_' dropped, spaces as '-'; a repeated one gets -1, -2, ...
std::set<std::string> Anchors(const std::string& text) {
    std::set<std::string> anchors;
    std::map<std::string, int> seen;
    for (const Section& section : Sections(text)) {
        std::string anchor;
        for (unsigned char c : Lower(section.title)) {
            if (std::isalnum(c) || c == '-' || c == '_' || c >= 0x80) {
                anchor += static_cast<char>(c);
            } else if (c == ' ') {
                anchor += '-';
            }
        }
        const int repeats = seen[anchor]++;
        anchors.insert(repeats == 0 ? anchor : anchor + "-" + std::to_string(repeats));
    }
    return anchors;
}

// The targets of a text's links [text](target), outside fenced blocks and code spans.
std::vector<std::string> LinkTargets(const std::string& text) {
    std::string prose;
    bool fenced = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("```", 0) == 0) fenced = !fenced;
        if (fenced) continue;
        for (size_t at = 0; at < line.size(); ++at) {  // code spans become `x`
            if (line[at] != '`') {
                prose += line[at];
                continue;
            }
            const size_t close = line.find('`', at + 1);
            if (close == std::string::npos) break;
            prose += "`x`";
            at = close;
        }
        prose += '\n';
    }
    std::vector<std::string> targets;
    for (size_t at = prose.find("]("); at != std::string::npos; at = prose.find("](", at + 2)) {
        const size_t close = prose.find(')', at + 2);
        if (close == std::string::npos) break;
        targets.push_back(prose.substr(at + 2, close - at - 2));
    }
    return targets;
}

// Every relative link of the guide (README, docs/) names a file or folder of the tree,
// and its #anchor, where it has one, a heading of the page it names.
TEST(Readme, EveryRelativeLinkFindsItsFileAndAnchor) {
    size_t links = 0, anchored = 0;
    for (const Page& page : Guide()) {
        const std::string folder = page.path.find('/') == std::string::npos
                                       ? std::string()
                                       : page.path.substr(0, page.path.rfind('/') + 1);
        for (const std::string& target : LinkTargets(page.text)) {
            if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0 ||
                target.rfind("mailto:", 0) == 0) {
                continue;
            }
            ++links;
            const size_t hash = target.find('#');
            const std::string file = target.substr(0, hash);
            const std::string path = file.empty() ? page.path : folder + file;
            SCOPED_TRACE(page.path + ": (" + target + ")");
            EXPECT_EQ(std::string::npos, target.find(' ')) << "a link target holds a blank";
            if (access((kSource + "/" + path).c_str(), R_OK) != 0) {
                ADD_FAILURE() << "no such file or folder: " << path;
                continue;
            }
            if (hash == std::string::npos) continue;
            ++anchored;
            const std::set<std::string> anchors = Anchors(ReadWholeFile(kSource + "/" + path));
            EXPECT_EQ(1u, anchors.count(target.substr(hash + 1))) << path << " has no heading of that anchor";
        }
    }
    EXPECT_GT(links, 40u);
    EXPECT_GT(anchored, 20u);
}

// The words of a shell command line: blanks split words, '...' quotes, a backslash at
// the end of a line continues it.
std::vector<std::string> ShellWords(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < command.size(); ++i) {
        char c = command[i];
        if (c == '\'') {
            size_t close = command.find('\'', i + 1);
            word += command.substr(i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '\\' && i + 1 < command.size() && command[i + 1] == '\n') {
            ++i;
        } else if (c == ' ' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

struct FencedBlock {
    std::string info;  // the word after the opening fence
    std::string text;
};

std::vector<FencedBlock> FencedBlocks(const std::string& text) {
    std::vector<FencedBlock> blocks;
    std::istringstream lines(text);
    bool open = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("```", 0) == 0) {
            if (!open) blocks.push_back({line.substr(3), ""});
            open = !open;
        } else if (open) {
            blocks.back().text += line + "\n";
        }
    }
    return blocks;
}

// Every Structured Text example of the guide is a complete program, and the block after
// it runs it: a `zentrik-host ... run FILE.st ...` command (or build/plain/zentrik-host,
// the program as the demo builds it) and, as `# ` lines, what it prints. An example whose
// file is in the tree is that file, byte for byte; any other is written where it is run.
class ReadmeExamples : public ScratchDirectoryTest {};

TEST_F(ReadmeExamples, EveryStExampleRunsAndPrintsWhatItShows) {
    size_t examples = 0;
    for (const Page& page : Guide()) {
        std::vector<FencedBlock> blocks = FencedBlocks(page.text);
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (blocks[i].info != "iecst") continue;
            ++examples;
            SCOPED_TRACE(page.path + ": " + blocks[i].text.substr(0, blocks[i].text.find('\n')));
            ASSERT_LT(i + 1, blocks.size()) << "an ST example without the command that runs it";
            ASSERT_EQ("sh", blocks[i + 1].info)
                << "an ST example must be followed by the command that runs it";
            std::string command, expected;
            std::istringstream lines(blocks[i + 1].text);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("# ", 0) == 0) {
                    expected += line.substr(2) + "\n";
                } else if (expected.empty()) {
                    command += line + "\n";
                }
            }
            std::vector<std::string> words = ShellWords(command);
            ASSERT_GE(words.size(), 4u);
            ASSERT_TRUE(words[0] == "zentrik-host" || words[0] == "build/plain/zentrik-host") << words[0];
            words.erase(words.begin());
            bool runs = false;
            for (size_t w = 0; w < words.size(); ++w) {
                const std::string inTree = kSource + "/" + words[w];
                const bool exists =
                    words[w].find('/') != std::string::npos && access(inTree.c_str(), R_OK) == 0;
                if (w > 0 && words[w - 1] == "run") {
                    if (exists) {
                        EXPECT_EQ(ReadWholeFile(inTree), blocks[i].text)
                            << words[w] << " differs from the example";
                        words[w] = inTree;
                    } else {
                        WriteWholeFile(path(words[w]), blocks[i].text);
                        words[w] = path(words[w]);
                    }
                    runs = true;
                } else if (exists) {
                    words[w] = inTree;
                }
            }
            ASSERT_TRUE(runs) << "the command does not run the example: " << command;
            HostRunResult result = run(words);
            EXPECT_EQ(0, result.exitCode) << command << result.err;
            EXPECT_EQ(expected, result.out) << command;
        }
    }
    EXPECT_GE(examples, 8u);
}

}  // namespace

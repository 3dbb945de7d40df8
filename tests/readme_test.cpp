// README.md is the user's guide: it keeps its required sections, names every block
// and method the component registers (with an IEC signature), and describes every
// zentrik-host command and event. The blocks, methods, commands and events are taken
// from the component and from zentrik-host themselves, so new ones are checked as
// they land.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/LogTexts.h"
#include "support/ComponentFixture.h"
#include "support/HostProcess.h"

namespace {

struct Section {
    int level;
    std::string title;
    std::string body;  // up to the next heading of the same or a higher level
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string ReadReadme() {
    std::ifstream file(std::string(ZENTRIK_SOURCE_DIR) + "/README.md");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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

const Section* FindSection(const std::vector<Section>& sections, const std::string& title) {
    for (const Section& section : sections) {
        if (section.title.find(title) != std::string::npos) return &section;
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
    std::vector<Section> sections = Sections(ReadReadme());
    ASSERT_FALSE(sections.empty()) << "README.md is missing or has no headings";
    for (const char* title : {"Try it",
                              "Installing",
                              "Deploying",
                              "Events",
                              "Importing the function blocks",
                              "JSON forms",
                              "Writer output",
                              "Variables to JSON",
                              "JSON to variables",
                              "Host log messages",
                              "Limits",
                              "`zentrik-host`",
                              "Commands",
                              "Declaring an application",
                              "Exit codes",
                              "Utilities",
                              "Project layout",
                              "Quick start",
                              "Life cycle at a glance",
                              "ST quick reference",
                              "Troubleshooting"}) {
        const Section* section = FindSection(sections, title);
        ASSERT_NE(nullptr, section) << "README.md lost its section '" << title << "'";
        EXPECT_GT(section->body.size(), section->title.size() + 100) << "section '" << title << "' is empty";
    }
}

// The first commands a new user meets are the two of "Try it", and they exist.
TEST(Readme, TryItComesFirstAndItsScriptsExist) {
    std::string text = ReadReadme();
    std::vector<Section> sections = Sections(text);
    ASSERT_GE(sections.size(), 2u);
    EXPECT_EQ("Try it", sections[1].title) << "the first section after the title";
    size_t fence = text.find("```");
    ASSERT_NE(std::string::npos, fence);
    std::string firstBlock = text.substr(fence, text.find("```", fence + 3) - fence);
    for (const char* script : {"scripts/demo.sh", "scripts/test.sh"}) {
        EXPECT_NE(std::string::npos, firstBlock.find(script)) << script;
        EXPECT_EQ(0, access((std::string(ZENTRIK_SOURCE_DIR) + "/" + script).c_str(), X_OK)) << script;
    }
}

// Every external function fb_<block>__<method> the component registers: its block has
// a section, which names the method in a code span with its IEC signature, or, for the
// body (main), names the external function.
TEST(Readme, NamesEveryBlockAndMethodTheComponentRegisters) {
    std::vector<Section> sections = Sections(ReadReadme());
    std::vector<std::string> functions = RegisteredExternalFunctions();
    ASSERT_FALSE(functions.empty());
    for (const std::string& function : functions) {
        size_t split = function.find("__");
        ASSERT_NE(std::string::npos, split) << function;
        std::string block = function.substr(0, split), method = function.substr(split + 2);
        const Section* section = nullptr;
        for (const Section& candidate : sections) {
            if (candidate.level == 2 && candidate.title.find("`" + block + "`") != std::string::npos) {
                section = &candidate;
            }
        }
        ASSERT_NE(nullptr, section) << "README.md has no section for the block " << block;
        if (method == "main") {
            EXPECT_NE(std::string::npos, section->body.find(function)) << function;
            continue;
        }
        bool named = false, signed_ = false;
        for (const std::string& span : CodeSpans(section->body)) {
            named = named || Lower(span) == method;
            signed_ = signed_ || Lower(span).rfind(method + "(", 0) == 0;
        }
        EXPECT_TRUE(named) << "README.md does not name the method of " << function;
        EXPECT_TRUE(signed_) << "README.md gives no IEC signature `" << method << "(...)` for " << function;
    }
}

// Every command and event that `zentrik-host --help` lists is described in README.
TEST(Readme, DescribesEveryZentrikHostCommandAndEvent) {
    std::vector<Section> sections = Sections(ReadReadme());
    const Section* host = FindSection(sections, "`zentrik-host`");
    ASSERT_NE(nullptr, host);
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
            EXPECT_NE(std::string::npos, host->body.find("`" + word))
                << "command " << word << " is not described";
        } else if (part == "events" && line.find(" 0x") != std::string::npos) {
            ++events;
            EXPECT_NE(std::string::npos, host->body.find("`" + word + "`"))
                << "event " << word << " is not named";
        }
    }
    EXPECT_EQ(0, pclose(pipe));
    EXPECT_GT(commands, 0u);
    EXPECT_GT(events, 0u);
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

// Every Structured Text example is a complete program, and the block after it runs it:
// a `zentrik-host ... run FILE.st ...` command and, as `# ` lines, what it prints.
class ReadmeExamples : public ScratchDirectoryTest {};

TEST_F(ReadmeExamples, EveryStExampleRunsAndPrintsWhatItShows) {
    std::vector<FencedBlock> blocks = FencedBlocks(ReadReadme());
    size_t examples = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i].info != "iecst") continue;
        ++examples;
        SCOPED_TRACE(blocks[i].text.substr(0, blocks[i].text.find('\n')));
        ASSERT_LT(i + 1, blocks.size()) << "an ST example without the command that runs it";
        ASSERT_EQ("sh", blocks[i + 1].info) << "an ST example must be followed by the command that runs it";
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
        ASSERT_EQ("zentrik-host", words[0]);
        words.erase(words.begin());
        bool runs = false;
        for (size_t w = 0; w < words.size(); ++w) {
            if (w > 0 && words[w - 1] == "run") {
                WriteWholeFile(path(words[w]), blocks[i].text);
                words[w] = path(words[w]);
                runs = true;
            } else if (access((std::string(ZENTRIK_SOURCE_DIR) + "/" + words[w]).c_str(), R_OK) == 0 &&
                       words[w].find('/') != std::string::npos) {
                words[w] = std::string(ZENTRIK_SOURCE_DIR) + "/" + words[w];
            }
        }
        ASSERT_TRUE(runs) << "the command does not run the example: " << command;
        HostRunResult result = run(words);
        EXPECT_EQ(0, result.exitCode) << command << result.err;
        EXPECT_EQ(expected, result.out) << command;
    }
    EXPECT_GE(examples, 4u);
}

}  // namespace

// The host log's texts are a contract: every text of the component's table is listed in
// "Host log messages", up to its first value (or, for an event's long line, up to its
// first comma followed by an ellipsis).
TEST(Readme, ListsEveryHostLogText) {
    const std::vector<Section> sections = Sections(ReadReadme());
    const Section* section = FindSection(sections, "Host log messages");
    ASSERT_NE(nullptr, section);
    for (size_t i = 0; i < static_cast<size_t>(ELogText::kCount); ++i) {
        const std::string text = g_logTexts[i].text;
        const std::string upToValue = text.substr(0, text.find('%'));
        const std::string upToComma = text.substr(0, text.find(", ")) + ", …";
        EXPECT_TRUE(section->body.find("`" + upToValue) != std::string::npos ||
                    section->body.find("`" + upToComma + "`") != std::string::npos)
            << "README does not list the host log text '" << text << "'";
    }
}

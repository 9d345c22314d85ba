// Keeps the translation catalogs complete: every text the manager's sources
// mark for translation must have a finished translation, with the same printf
// conversions, in each catalog, and the build must compile each catalog.
#include "tests/support/ScopedTestRoot.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const Languages[] = { "Bulgarian", "Portuguese", "Spanish" };

struct Entry {
    std::string id;
    std::vector<std::string> translations; // msgstr, or msgstr[0..n]
    bool fuzzy = false;
    bool plural = false;
};

fs::path FindUpwards(fs::path dir)
{
    for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::is_directory(dir / "manager" / "Language")) {
            return dir;
        }
    }
    return {};
}

// The source tree: above the test data folder when the test is told it,
// otherwise the one the build folder (above the program's folder) was
// configured from.
fs::path SourceRoot()
{
    if (const char* data = std::getenv("VELA5_TEST_DATA"); data != nullptr) {
        if (fs::path found = FindUpwards(data); !found.empty()) {
            return found;
        }
    }
    const char* bin = std::getenv("VELA5_BIN_DIR");
    if (bin == nullptr) {
        return {};
    }
    std::ifstream cache(fs::path(bin).parent_path() / "CMakeCache.txt");
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    std::string line;
    while (std::getline(cache, line)) {
        if (line.rfind(key, 0) == 0) {
            return FindUpwards(line.substr(key.size()));
        }
    }
    return {};
}

std::string Unquote(const std::string& text)
{
    const auto first = text.find('"');
    const auto last = text.rfind('"');
    std::string out;
    if (first == std::string::npos || last <= first) {
        return out;
    }
    for (std::size_t i = first + 1; i < last; ++i) {
        if (text[i] == '\\' && i + 1 < last) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A small reader for the subset of the PO format that xgettext and msgfmt use.
std::map<std::string, Entry> ReadCatalog(const fs::path& path)
{
    std::map<std::string, Entry> entries;
    std::ifstream in(path);
    std::string line;
    Entry current;
    std::string context;
    std::string* target = nullptr;
    bool nextFuzzy = false;
    auto flush = [&] {
        if (target != nullptr) {
            entries[context + '\x04' + current.id] = current;
        }
        current = Entry {};
        context.clear();
        target = nullptr;
    };
    while (std::getline(in, line)) {
        if (line.rfind("#~", 0) == 0) {
            continue;
        }
        if (line.rfind("#,", 0) == 0) {
            flush();
            nextFuzzy = line.find("fuzzy") != std::string::npos;
        } else if (line.rfind("msgctxt", 0) == 0) {
            flush();
            context = Unquote(line);
            target = &context;
        } else if (line.rfind("msgid_plural", 0) == 0) {
            current.plural = true;
            target = nullptr;
        } else if (line.rfind("msgid", 0) == 0) {
            if (!current.translations.empty()) {
                flush();
            }
            current.fuzzy = nextFuzzy;
            nextFuzzy = false;
            current.id = Unquote(line);
            target = &current.id;
        } else if (line.rfind("msgstr", 0) == 0) {
            current.translations.push_back(Unquote(line));
            target = &current.translations.back();
        } else if (!line.empty() && line[0] == '"' && target != nullptr) {
            *target += Unquote(line);
        } else if (line.empty()) {
            if (!current.translations.empty()) {
                flush();
            }
        }
    }
    if (!current.translations.empty()) {
        flush();
    }
    return entries;
}

// The printf conversions of a text, in order ("%%" is not one). Parsed by
// hand: GCC 12's <regex> does not build warning-free with the sanitizers.
std::vector<std::string> Conversions(const std::string& text)
{
    const auto in = [&](size_t at, const char* set) {
        return at < text.size() && text[at] != '\0' && std::strchr(set, text[at]) != nullptr;
    };
    const auto number = [&](size_t& at) {
        if (in(at, "*")) {
            ++at;
        } else {
            while (in(at, "0123456789")) {
                ++at;
            }
        }
    };
    std::vector<std::string> found;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        size_t j = i + 1;
        while (in(j, "-+ #0")) {
            ++j;
        }
        number(j);
        if (in(j, ".")) {
            ++j;
            number(j);
        }
        for (const std::string_view length : { "hh", "ll", "h", "l", "L", "z", "j", "t" }) {
            if (text.compare(j, length.size(), length) == 0) {
                j += length.size();
                break;
            }
        }
        if (in(j, "diouxXeEfFgGaAcspn%")) {
            const std::string conversion = text.substr(i, j - i + 1);
            if (conversion != "%%") {
                found.push_back(conversion);
            }
            i = j;
        }
    }
    return found;
}

std::string Shown(const std::string& key)
{
    const auto separator = key.find('\x04');
    return "\"" + (separator == 0 ? key.substr(1) : key) + "\"";
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_source = SourceRoot();
        ASSERT_FALSE(m_source.empty()) << "source tree not found";
    }

    // Every text marked in the manager's sources, extracted now.
    std::map<std::string, Entry> ExtractTexts() const
    {
        const fs::path list = m_root.Temp() / "sources.txt";
        const fs::path pot = m_root.Temp() / "manager.pot";
        {
            std::ofstream out(list);
            for (const auto& file : fs::recursive_directory_iterator(m_source / "manager")) {
                const auto extension = file.path().extension();
                if (file.is_regular_file() && (extension == ".cpp" || extension == ".h")) {
                    out << file.path().string() << '\n';
                }
            }
        }
        const std::string command
            = "xgettext --language=C++ --from-code=UTF-8 --force-po -k -k_ -kwxTRANSLATE "
              "-kwxPLURAL:1,2 -kwxGETTEXT_IN_CONTEXT:1c,2 "
              "-kwxGETTEXT_IN_CONTEXT_PLURAL:1c,2,3 -o '"
            + pot.string() + "' -f '" + list.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        auto texts = ReadCatalog(pot);
        texts.erase(std::string(1, '\x04'));
        return texts;
    }

    ScopedTestRoot m_root;
    fs::path m_source;
};

TEST_F(CatalogTest, EveryManagerTextHasAFinishedTranslationInEachCatalog)
{
    const auto texts = ExtractTexts();
    // The core's own texts alone are over a hundred; far fewer means the
    // extraction itself failed.
    ASSERT_GT(texts.size(), 100U);
    for (const char* language : Languages) {
        const auto catalog = ReadCatalog(m_source / "manager" / "Language" / (std::string(language) + ".po"));
        ASSERT_FALSE(catalog.empty()) << language;
        int missing = 0;
        for (const auto& [key, text] : texts) {
            const auto found = catalog.find(key);
            bool finished
                = found != catalog.end() && !found->second.fuzzy && !found->second.translations.empty();
            if (finished) {
                for (const std::string& translation : found->second.translations) {
                    finished = finished && !translation.empty();
                }
            }
            if (!finished) {
                ++missing;
                ADD_FAILURE() << language << ": no finished translation of " << Shown(key);
            }
        }
        EXPECT_EQ(missing, 0) << language << ": texts without a translation";
    }
}

TEST(CatalogConversionsTest, FindsEachConversionAndSkipsLiteralPercents)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        { "%s [0x%08X]", { "%s", "%08X" } },
        { "100%% done, %d left", { "%d" } },
        { "%-5.2lf|%*d|%lu", { "%-5.2lf", "%*d", "%lu" } },
        { "50%! off", {} },
        { "trailing %", {} },
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(Conversions(text), expected) << text;
    }
}

TEST_F(CatalogTest, TranslationsKeepThePrintfConversionsOfTheirText)
{
    for (const char* language : Languages) {
        const auto catalog = ReadCatalog(m_source / "manager" / "Language" / (std::string(language) + ".po"));
        for (const auto& [key, entry] : catalog) {
            if (entry.id.empty()) {
                continue;
            }
            for (const std::string& translation : entry.translations) {
                if (!translation.empty()) {
                    EXPECT_EQ(Conversions(translation), Conversions(entry.id))
                        << language << ": printf conversions differ in the translation of " << Shown(key);
                }
            }
        }
    }
}

TEST_F(CatalogTest, BuildCompilesEachCatalogBesideTheProgram)
{
    const char* bin = std::getenv("VELA5_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    for (const char* language : Languages) {
        const fs::path compiled = fs::path(bin) / "Language" / (std::string(language) + ".mo");
        ASSERT_TRUE(fs::exists(compiled)) << compiled;
        EXPECT_GE(fs::last_write_time(compiled),
            fs::last_write_time(m_source / "manager" / "Language" / (std::string(language) + ".po")))
            << language << " catalog is older than its source";
    }
}

} // namespace

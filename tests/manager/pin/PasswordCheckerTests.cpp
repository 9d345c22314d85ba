// PIN strength: known scores from a data file, the symbol set, and the
// word boundaries.
#include "manager/pin/PasswordChecker.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct KnownScore {
    std::string text;
    int score;
    std::string word;
};

std::vector<KnownScore> ReadKnownScores()
{
    const char* dataDir = std::getenv("VELA5_TEST_DATA");
    std::ifstream in(std::string(dataDir ? dataDir : VELA5_PIN_TEST_DATA) + "/password_scores.tsv");
    std::vector<KnownScore> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t tab1 = line.find('\t');
        const size_t tab2 = line.find('\t', tab1 + 1);
        rows.push_back({ line.substr(0, tab1), std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1)),
            line.substr(tab2 + 1) });
    }
    return rows;
}

int Score(const wxString& text, int minimum = 8)
{
    return PasswordChecker(text, minimum).GetScore();
}

} // namespace

TEST(PasswordChecker, KnownScoresAndWordsFromTable)
{
    const std::vector<KnownScore> rows = ReadKnownScores();
    ASSERT_GE(rows.size(), 20u) << "data file missing or short";
    for (const KnownScore& row : rows) {
        const wxString text = wxString::FromUTF8(row.text);
        EXPECT_EQ(Score(text), row.score) << "text \"" << row.text << "\"";
        EXPECT_EQ(GetStrengthText(text).ToStdString(), row.word) << "text \"" << row.text << "\"";
    }
}

TEST(PasswordChecker, EveryListedSymbolCountsAndNothingElse)
{
    // "a?b" with a symbol in the middle gains 6 + 2 over a plain "a-b".
    const wxString symbols = "`~!@#$%^&*()+=\\|?.,';:\"/{}[]><";
    ASSERT_EQ(symbols.length(), 30u);
    for (const wxUniChar c : symbols) {
        EXPECT_EQ(Score(wxString("a") + c + "b"), 22) << "symbol " << static_cast<char>(c.GetValue());
    }
    for (const char c : std::string(" -_")) {
        EXPECT_EQ(Score(wxString("a") + c + "b"), 14) << "not a symbol: '" << c << "'";
    }
}

TEST(PasswordChecker, MinimumLengthDecidesTheRequirementBonus)
{
    // Seven characters lose the +8 bonus at minimum 8 but keep it at 7.
    EXPECT_EQ(Score("Ab1!Cd2", 8), 66);
    EXPECT_EQ(Score("Ab1!Cd2", 7), 66 + 8);
    // Below the minimum a fifth requirement is impossible, so never a bonus.
    EXPECT_EQ(Score("Ab1!Cd2@", 9), 90 - 8);
}

TEST(PasswordChecker, SequencesAreCountedOncePerOccurrence)
{
    // "abcxabc": two "abc", each -3, against "abcxabd" with one.
    EXPECT_EQ(Score("abcxabd") - Score("abcxabc"), 3);
    // Upper-case letters are folded before the alphabet windows.
    EXPECT_EQ(Score("ABC"), Score("ABD") - 3);
    // "210" and "cba" are no windows, "321" and "dcb" are.
    EXPECT_EQ(Score("8210"), Score("8219"));
    EXPECT_EQ(Score("8321"), Score("8329") - 3);
}

TEST(PasswordChecker, WordBoundaries)
{
    const std::pair<int, const char*> cases[] = {
        { 0, "VERY WEAK" },
        { 19, "VERY WEAK" },
        { 20, "WEAK" },
        { 39, "WEAK" },
        { 40, "GOOD" },
        { 59, "GOOD" },
        { 60, "STRONG" },
        { 79, "STRONG" },
        { 80, "VERY STRONG" },
        { 100, "VERY STRONG" },
    };
    for (const auto& [score, word] : cases) {
        EXPECT_EQ(GetStrengthWord(score), word) << "score " << score;
    }
}

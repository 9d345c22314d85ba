// The token state's kept prepared statements: a nested use of one SQL text,
// rows committed after a statement was kept, and closing with statements
// kept.
#include "tests/support/ScopedTestRoot.h"
#include "velapkcs11/Database.h"

#include <gtest/gtest.h>

using velatoken::Database;
using velatoken::Statement;
using velatoken::Transaction;

namespace {

constexpr const char* kAddReader = "INSERT INTO readers(name) VALUES(?)";
constexpr const char* kReaderNames = "SELECT name FROM readers ORDER BY name";

void AddReader(Database& db, const std::string& name)
{
    Transaction transaction(db);
    Statement(db, kAddReader).Bind(1, name).Run();
    transaction.Commit();
}

std::vector<std::string> ReaderNames(Database& db)
{
    std::vector<std::string> names;
    Statement list(db, kReaderNames);
    while (list.Step()) {
        names.push_back(list.Text(0));
    }
    return names;
}

TEST(TokenDatabase, KeptStatementsServeNestedUsesLaterRowsAndReopening)
{
    ScopedTestRoot root;
    const auto file = root.Root() / "state.db";
    std::filesystem::create_directories(root.Root());
    {
        Database db(file);
        AddReader(db, "A");
        EXPECT_EQ(ReaderNames(db), std::vector<std::string>({ "A" }));
        // The kept statement must not answer from the rows it saw before.
        AddReader(db, "B");
        EXPECT_EQ(ReaderNames(db), std::vector<std::string>({ "A", "B" }));
        // The same text while it is in use: each statement steps on its own.
        Statement outer(db, kReaderNames);
        std::vector<std::string> pairs;
        while (outer.Step()) {
            for (const std::string& inner : ReaderNames(db)) {
                pairs.push_back(outer.Text(0) + inner);
            }
        }
        EXPECT_EQ(pairs, std::vector<std::string>({ "AA", "AB", "BA", "BB" }));
    }
    // Closed with statements kept, the state opens again with its rows.
    Database again(file);
    EXPECT_EQ(ReaderNames(again), std::vector<std::string>({ "A", "B" }));
}

} // namespace

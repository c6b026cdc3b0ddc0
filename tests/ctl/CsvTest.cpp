// The CSV files of the import and export: quoting across lines, the two encodings, the faults
// that stop a file and those that refuse only a row, the header's columns, and the way back.
#include "ctl/Csv.h"

#include <gtest/gtest.h>

using ctl::csv::Parse;
using ctl::csv::ParseResult;
using Cells = std::vector<std::string>;

TEST(CsvRead, QuotedFieldsHoldSeparatorsQuotesAndLineBreaks) {
    const ParseResult r = Parse("name,note\r\n"
                                "\"a,b\",\"sagt \"\"hallo\"\"\"\r\n"
                                "c,\"zwei\r\nZeilen\nund drei\"\r\n"
                                "\r\n"
                                "d,\"\"\r\n");
    EXPECT_FALSE(r.fatal);
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0].cells, (Cells{"a,b", "sagt \"hallo\""}));
    EXPECT_EQ(r.rows[1].cells, (Cells{"c", "zwei\r\nZeilen\nund drei"}));
    EXPECT_EQ(r.rows[1].line, 3u);
    EXPECT_EQ(r.rows[2].cells, (Cells{"d", ""}));
    EXPECT_EQ(r.rows[2].line, 7u); // after the three lines of the record and a blank one

    const ParseResult bare = Parse("a\nb\r"); // LF, then a lone CR at the end
    ASSERT_EQ(bare.rows.size(), 1u);
    EXPECT_EQ(bare.rows[0].cells, Cells{"b"});
    EXPECT_EQ(bare.rows[0].line, 2u);
}

TEST(CsvRead, TextIsUtf8WithBomOrWhenValidElseWindows1252) {
    for (const char* bytes :
         {"name\r\nM\xfcller \x80\r\n", "name\r\nM\xc3\xbcller \xe2\x82\xac\r\n",
          "\xef\xbb\xbfname\r\nM\xc3\xbcller \xe2\x82\xac\r\n"}) {
        const ParseResult r = Parse(bytes);
        ASSERT_EQ(r.rows.size(), 1u) << bytes;
        EXPECT_EQ(r.header.cells, Cells{"name"}); // no mark left in the first name
        EXPECT_EQ(r.rows[0].cells[0], "M\xfcller \x80");
    }
    const ParseResult marked = Parse("\xef\xbb\xbfname\r\nM\xfcller\r\n");
    EXPECT_TRUE(marked.fatal);
    ASSERT_EQ(marked.errors.size(), 1u);
    EXPECT_EQ(marked.errors[0].line, 2u);
    EXPECT_TRUE(Parse("\xff\xfe").fatal); // UTF-16
}

TEST(CsvRead, FaultsStopTheFileAtTheirLine) {
    const struct {
        const char* bytes;
        std::size_t line;
        const char* words;
    } cases[] = {
        {"name\r\nok\r\n\"zwei\r\nZeilen\r\n", 3, "Anführungszeichen nicht geschlossen."},
        {"name,x\r\na,b\"c\r\n", 2, "mitten in einem Feld"},
        {"name\r\n\"mehr\nZeilen\"x\r\n", 3, "nach dem schließenden"},
        {"name\r\nok\r\n\"a\nb \xe4\xb8\xad\"\r\n", 4,
         "„中“ (U+4E2D) gibt es in Windows-1252 nicht"},
    };
    for (const auto& c : cases) {
        const ParseResult r = Parse(c.bytes);
        EXPECT_TRUE(r.fatal) << c.bytes;
        ASSERT_EQ(r.errors.size(), 1u) << c.bytes;
        EXPECT_EQ(r.errors[0].line, c.line) << c.bytes;
        EXPECT_EQ(r.errors[0].message.rfind("Zeile " + std::to_string(c.line) + ": ", 0), 0u);
        EXPECT_NE(r.errors[0].message.find(c.words), std::string::npos) << r.errors[0].message;
    }
}

TEST(CsvRead, WrongCellCountRefusesOnlyThatRow) {
    const ParseResult r = Parse("name,password\r\na,1\r\nb\r\nc,3,x\r\nd,4");
    EXPECT_FALSE(r.fatal);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0].cells, (Cells{"a", "1"}));
    EXPECT_EQ(r.rows[1].cells, (Cells{"d", "4"}));
    EXPECT_EQ(r.rows[1].line, 5u);
    ASSERT_EQ(r.errors.size(), 2u);
    EXPECT_EQ(r.errors[0].message, "Zeile 3: 1 Feld statt 2 wie in der Kopfzeile.");
    EXPECT_EQ(r.errors[1].line, 4u);
}

TEST(CsvRead, SemicolonWhenTheHeaderHasOnlySemicolons) {
    const ParseResult r = Parse("Name;\"Weiterleitung, Kopie\"\r\nmax;\"a,b\"\r\n");
    EXPECT_EQ(r.separator, ';');
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].cells, (Cells{"max", "a,b"}));
    EXPECT_EQ(Parse("name,alias;x\r\n").separator, ',');
    EXPECT_EQ(Parse("a;b\r\n", ',').header.cells, Cells{"a;b"});
    EXPECT_EQ(Parse("a,b\r\n", '\t').header.cells, Cells{"a,b"});
}

TEST(CsvHeader, ColumnsAreFoundByNameAndFaultsNamed) {
    using ctl::csv::kAbsent;
    const std::vector<ctl::csv::Column> columns = {
        {"name", true}, {"password", true}, {"forward", false}};
    const auto found = ctl::csv::MapHeader(Parse(" Password ,NAME\r\n").header, columns);
    EXPECT_TRUE(found.errors.empty());
    EXPECT_EQ(found.index, (std::vector<std::size_t>{1, 0, kAbsent}));

    const auto bad = ctl::csv::MapHeader(Parse("name,Kennwort,NAME,kennwort\r\n").header, columns);
    ASSERT_EQ(bad.errors.size(), 3u);
    EXPECT_EQ(bad.errors[0].message, "Zeile 1: Unbekannte Spalte „Kennwort“.");
    EXPECT_EQ(bad.errors[1].message, "Zeile 1: Die Spalte „NAME“ steht mehrfach in der Kopfzeile.");
    EXPECT_EQ(bad.errors[2].message, "Zeile 1: Die Spalte „password“ fehlt.");
    EXPECT_EQ(ctl::csv::MapHeader(Parse("").header, columns).errors.size(), 1u);
}

TEST(CsvWrite, WhatIsWrittenReadsBackTheSame) {
    const std::vector<Cells> table = {
        {"name", "note"},
        {"M\xfcller", "a,b"},
        {" blank ", "sagt \"hi\"\r\nzweite Zeile"},
        {"", "\x80;x"},
    };
    for (char separator : {',', ';'}) {
        std::string file(ctl::csv::kUtf8Bom);
        for (const Cells& cells : table)
            file += ctl::csv::WriteRecord(cells, separator);
        const ParseResult r = Parse(file);
        EXPECT_EQ(r.separator, separator);
        EXPECT_TRUE(r.errors.empty());
        EXPECT_EQ(r.header.cells, table[0]);
        ASSERT_EQ(r.rows.size(), 3u);
        for (std::size_t i = 0; i < r.rows.size(); ++i)
            EXPECT_EQ(r.rows[i].cells, table[i + 1]);
        EXPECT_EQ(r.rows[2].line, 5u);
    }
    EXPECT_EQ(ctl::csv::WriteRecord({"M\xfcller", "a b", " x"}), "M\xc3\xbcller,a b,\" x\"\r\n");
    EXPECT_EQ(ctl::csv::WriteRecord({""}), "\"\"\r\n");
}
